// The closing engine: the close condition of a leg in "Close Cond.", the closing windows of the
// EA pairs, the trend order of SeqMode and DelMode, the answers to a leg in "To Close" and the
// close trigger price.
#include <gtest/gtest.h>

#include <optional>

#include "closingfixture.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

using Closing = ClosingDesk;

constexpr double kMs = 1.0 / 86400000.0;

// EA 1 buys at its bid 1.20000, EA 2 sells at its ask: the close spread is EA 2's ask minus
// 1.20000.
void QuotePair(ClosingDesk& d, int64_t sellAsk) {
    d.SetQuote(1, 120000, 120010);
    d.SetQuote(2, sellAsk - 6, sellAsk);
}

TEST_F(Closing, CloseConditionComparesWholePointsAndAnEqualValueTriggers) {
    struct Case {
        const char* what;
        int64_t sellAsk;
        std::optional<double> closeSpread; // nullopt: no value
        int32_t closeBedingung;
        bool sellAsks; // which leg asks
        bool closes;
    };
    const Case cases[] = {
        {"equal", 119991, -0.00009, 1, false, true},
        {"equal, the sell leg asks", 119991, -0.00009, 1, true, true},
        {"one point above", 119992, -0.00009, 1, false, false},
        {"one point above, the sell leg asks", 119992, -0.00009, 1, true, false},
        {"well below", 119950, -0.00009, 1, false, true},
        {"no close spread counts as 0", 120000, std::nullopt, 1, false, true},
        {"no close spread, one point above", 120001, std::nullopt, 1, true, false},
        {"-8.5 points round to -8", 119992, -0.000085, 1, false, true},
        {"-9.5 points round to -10", 119991, -0.000095, 1, false, false},
        {"close condition off", 119950, -0.00009, 0, false, false},
        {"close condition of another kind", 119950, -0.00009, 2, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        clock.AdvanceSeconds(5);
        desk->closing.ClearCloseLimits(); // a fresh closing window for each case
        QuotePair(*this, c.sellAsk);
        const Tx tx = AddTransaction(1, 2);
        for (int32_t id : {tx.buy, tx.sell}) {
            SetField(id, "CloseSpread", c.closeSpread ? Variant(*c.closeSpread) : Variant());
            SetField(id, "CloseBedingung", Variant(c.closeBedingung));
        }
        EXPECT_EQ(AskClose(c.sellAsks ? tx.sell : tx.buy), c.closes ? 1 : 0);
        const int32_t want = c.closes ? stToClose : stCloseCond;
        EXPECT_EQ(Status(tx.buy), want);
        EXPECT_EQ(Status(tx.sell), want);
        EXPECT_EQ(WindowCount(1, 2), c.closes ? 1 : 0);
        if (c.closes) {
            // Each leg's trigger price is the price it closes at: the buy leg's bid, the sell leg's ask.
            EXPECT_DOUBLE_EQ(Get(tx.buy, "TrigCloseKurs").AsFloat(), 1.2);
            EXPECT_DOUBLE_EQ(Get(tx.sell, "TrigCloseKurs").AsFloat(),
                             static_cast<double>(c.sellAsk) / 100000.0);
            EXPECT_FALSE(Get(tx.buy, "CloseAfterCounterOrder").AsBoolean());
            EXPECT_FALSE(Get(tx.sell, "CloseAfterCounterOrder").AsBoolean());
            // The other leg's question is answered without a second trigger.
            EXPECT_EQ(AskClose(c.sellAsks ? tx.buy : tx.sell), 1);
            EXPECT_EQ(WindowCount(1, 2), 1);
        } else {
            EXPECT_TRUE(Get(tx.buy, "TrigCloseKurs").IsNull());
            EXPECT_TRUE(Get(tx.sell, "TrigCloseKurs").IsNull());
        }
    }
}

TEST_F(Closing, NoCloseConditionWithoutAValidPairOfQuotingEAs) {
    struct Case {
        const char* what;
        int32_t buyEA, sellEA;
        int64_t buyBid, sellAsk;
        int change; // 0 none, 1 counter deleted, 2 counter of the same side, 3 counter without EA,
                    // 4 asking leg of neither side
    };
    const Case cases[] = {
        {"buy EA 0", 0, 2, 120000, 119900, 0},
        {"buy EA beyond the tables", 11, 2, 120000, 119900, 0},
        {"sell EA beyond the arrays", 1, 201, 120000, 119900, 0},
        {"sell EA negative", 1, -3, 120000, 119900, 0},
        {"counter order deleted", 1, 2, 120000, 119900, 1},
        {"counter order of the same side", 1, 2, 120000, 119900, 2},
        {"counter order without EA", 1, 2, 120000, 119900, 3},
        {"asking leg of neither side", 1, 2, 120000, 119900, 4},
        {"buy EA without a bid", 1, 2, kNoPoints, 119900, 0},
        {"sell EA without an ask", 1, 2, 120000, kNoPoints, 0},
        {"sell EA with a zero ask", 1, 2, 120000, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetQuote(1, c.buyBid, 120010);
        SetQuote(2, 119890, c.sellAsk);
        const Tx tx = AddTransaction(c.buyEA, c.sellEA);
        if (c.change == 1) {
            ASSERT_TRUE(List().Locate("OrderID", Variant(tx.sell)));
            List().Delete();
        }
        if (c.change == 2) SetField(tx.sell, "OrderType", Variant(int32_t{otBuy}));
        if (c.change == 3) SetField(tx.sell, "EAID", Variant());
        if (c.change == 4) SetField(tx.buy, "OrderType", Variant(int32_t{3}));
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(AskClose(tx.buy), 0);
            if (c.change != 1) {
                EXPECT_EQ(AskClose(tx.sell), 0);
            }
        }
        EXPECT_EQ(Status(tx.buy), stCloseCond);
        if (c.change != 1) {
            EXPECT_EQ(Status(tx.sell), stCloseCond);
        }
        EXPECT_TRUE(Get(tx.buy, "TrigCloseKurs").IsNull());
        EXPECT_EQ(WindowCount(1, 2), 0);
    }
    EXPECT_EQ(AskClose(999), 0); // not in the list
    EXPECT_TRUE(view.stopBoxes.empty());
}

TEST_F(Closing, ThirdCloseOfAPairWithinTheWindowWaitsAndTheReversedPairDoesNot) {
    SetQuote(1, 120000, 120010);
    SetQuote(2, 119985, 119991);
    const Tx a = AddTransaction(1, 2), b = AddTransaction(1, 2), c = AddTransaction(1, 2);
    const Tx reversed = AddTransaction(2, 1, 0.0003); // EA 1's ask 1.20010 - EA 2's bid 1.19985
    const TDateTime t0 = clock.Now();
    EXPECT_EQ(AskClose(a.buy), 1);
    clock.AdvanceSeconds(0.2);
    EXPECT_EQ(AskClose(b.sell), 1);
    EXPECT_EQ(WindowCount(1, 2), 2);
    clock.AdvanceSeconds(0.5);
    EXPECT_EQ(AskClose(c.buy), 0);
    EXPECT_EQ(Status(c.buy), stCloseCond);
    EXPECT_EQ(Status(c.sell), stCloseCond);
    EXPECT_EQ(AskClose(reversed.sell), 1);
    EXPECT_EQ(Status(reversed.buy), stToClose);
    EXPECT_EQ(WindowCount(2, 1), 1);
    // Answers to legs already "To Close" count nothing.
    EXPECT_EQ(AskClose(a.sell), 1);
    EXPECT_EQ(AskClose(b.buy), 1);
    EXPECT_EQ(WindowCount(1, 2), 2);
    // Just before the window's end the third still waits; at its end it opens a new window.
    clock.Set(t0 + 0.999 / 86400.0);
    EXPECT_EQ(AskClose(c.sell), 0);
    clock.Set(t0 + 1.0 / 86400.0);
    EXPECT_EQ(AskClose(c.sell), 1);
    EXPECT_EQ(Status(c.buy), stToClose);
    EXPECT_EQ(WindowCount(1, 2), 1);
    EXPECT_DOUBLE_EQ(desk->closing.CloseWindowEnd(1, 2), clock.Now() + 1.0 / 86400.0);
}

TEST_F(Closing, ClosingWindowHelpersPassAndIgnorePairsWithInvalidIDs) {
    ClosingEngine& e = desk->closing;
    const TDateTime now = clock.Now();
    desk->settings.simultaneousClosing = 1;
    EXPECT_TRUE(e.IsTradeCloseAllowed(3, 4, now));
    e.RegisterTradeClose(3, 4, now);
    EXPECT_FALSE(e.IsTradeCloseAllowed(3, 4, now + 0.5 / 86400.0));
    EXPECT_TRUE(e.IsTradeCloseAllowed(4, 3, now));
    EXPECT_TRUE(e.IsTradeCloseAllowed(3, 4, now + 1.0 / 86400.0));
    for (auto [buy, sell] : {std::pair{0, 4}, std::pair{3, 11}, std::pair{-1, 3}, std::pair{3, 201}}) {
        e.RegisterTradeClose(buy, sell, now);
        e.RegisterTradeClose(buy, sell, now);
        EXPECT_TRUE(e.IsTradeCloseAllowed(buy, sell, now)) << buy << " " << sell;
    }
    EXPECT_EQ(desk->closing.ClosesInWindow(0, 4), 0);
    EXPECT_EQ(desk->closing.ClosesInWindow(3, 11), 0);
    e.ClearCloseLimits();
    EXPECT_EQ(WindowCount(3, 4), 0);
    EXPECT_EQ(desk->closing.CloseWindowEnd(3, 4), 0.0);
}

// Trends between EA 1 (the buy leg's) and EA 2 (the sell leg's): the newer quote's mid price
// 0.0003 above the older one's is rising, below falling; the close spread of 0.0005 is met.
void QuoteTrend(ClosingDesk& d, int trend) {
    const TDateTime older = d.clock.Now() - 0.2 / 86400.0, newer = d.clock.Now() - 0.1 / 86400.0;
    if (trend == 0) {
        d.SetQuote(1, 120000, 120010, older);
        d.SetQuote(2, 120000, 120010, newer);
    } else {
        d.SetQuote(1, 120000, 120010, trend > 0 ? older : newer);
        d.SetQuote(2, 120030, 120040, trend > 0 ? newer : older);
    }
}

TEST_F(Closing, SeqModeClosesTheLeadingLegFirstAndReleasesTheOtherOnItsCounterClose) {
    struct Case {
        int trend;
        bool alsoDelMode; // SeqMode wins
        bool canceled;    // the leading leg ends cancelled instead of closed
    };
    const Case cases[] = {{1, false, false}, {-1, false, false}, {1, true, true}, {-1, false, true}};
    controls.checked[Ctl::chkbSeqMode] = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "trend " << c.trend << (c.canceled ? " canceled" : " closed"));
        clock.AdvanceSeconds(5);
        desk->closing.ClearCloseLimits();
        controls.checked[Ctl::chkbDelayMode] = c.alsoDelMode;
        QuoteTrend(*this, c.trend);
        const Tx tx = AddTransaction(1, 2, 0.0005);
        // Rising: the sell leg leads and the buy leg follows; falling: the other way round.
        const int32_t leader = c.trend > 0 ? tx.sell : tx.buy;
        const int32_t follower = c.trend > 0 ? tx.buy : tx.sell;
        EXPECT_EQ(AskClose(follower), 0);
        EXPECT_EQ(Status(tx.buy), stCloseCond);
        EXPECT_EQ(Status(tx.sell), stCloseCond);
        EXPECT_EQ(WindowCount(1, 2), 0);

        EXPECT_EQ(AskClose(leader), 2);
        EXPECT_EQ(Status(tx.buy), stToClose);
        EXPECT_EQ(Status(tx.sell), stToClose);
        EXPECT_TRUE(Get(follower, "CloseAfterCounterOrder").AsBoolean());
        EXPECT_FALSE(Get(leader, "CloseAfterCounterOrder").AsBoolean());
        EXPECT_TRUE(Get(tx.buy, "CloseDelayUntil").IsNull());
        EXPECT_TRUE(Get(tx.sell, "CloseDelayUntil").IsNull());
        EXPECT_DOUBLE_EQ(Get(tx.buy, "TrigCloseKurs").AsFloat(), 1.2);
        EXPECT_DOUBLE_EQ(Get(tx.sell, "TrigCloseKurs").AsFloat(), 1.2004);
        EXPECT_EQ(WindowCount(1, 2), 1);

        EXPECT_EQ(AskClose(follower), 0);
        EXPECT_EQ(AskClose(leader), 2);
        if (c.canceled)
            SetField(leader, "Status", Variant(int32_t{stCanceled}));
        else
            EXPECT_EQ(Send(kClosed, leader), 0);
        clock.AdvanceSeconds(0.3);
        EXPECT_EQ(AskClose(follower), 1);
        EXPECT_DOUBLE_EQ(Get(follower, "CloseDelayUntil").AsFloat(), clock.Now());
        EXPECT_EQ(WindowCount(1, 2), 1);
    }
}

// Quotes of the same millisecond: the sell leg's EA counts as the newer, whichever leg asks,
// so both legs see one trend, as the opening sees it.
TEST_F(Closing, BothLegsSeeOneTrendWhenTheirEAsQuotedInTheSameMillisecond) {
    struct Case {
        const char* what;
        Ctl mode;
        int64_t sellBid; // EA 2's bid against EA 1's 1.20000
        bool sellAsks;
        int32_t answer;
        bool buyWaits, sellWaits, buyDelayed, sellDelayed;
    };
    const Case cases[] = {
        // rising: the sell leg leads, whichever leg asks first
        {"SeqMode, rising, the sell leg asks", Ctl::chkbSeqMode, 120030, true, 2, true, false, false, false},
        {"SeqMode, rising, the buy leg asks", Ctl::chkbSeqMode, 120030, false, 0, false, false, false, false},
        // falling: the buy leg leads
        {"SeqMode, falling, the buy leg asks", Ctl::chkbSeqMode, 119970, false, 2, false, true, false, false},
        {"SeqMode, falling, the sell leg asks", Ctl::chkbSeqMode, 119970, true, 0, false, false, false,
         false},
        // DelMode: the following leg is delayed, whichever leg asks
        {"DelMode, rising, the sell leg asks", Ctl::chkbDelayMode, 120030, true, 1, false, false, true,
         false},
        {"DelMode, rising, the buy leg asks", Ctl::chkbDelayMode, 120030, false, 0, false, false, true,
         false},
        {"DelMode, falling, the sell leg asks", Ctl::chkbDelayMode, 119970, true, 0, false, false, false,
         true},
        {"DelMode, falling, the buy leg asks", Ctl::chkbDelayMode, 119970, false, 1, false, false, false,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        clock.AdvanceSeconds(5);
        desk->closing.ClearCloseLimits();
        controls.checked[Ctl::chkbSeqMode] = c.mode == Ctl::chkbSeqMode;
        controls.checked[Ctl::chkbDelayMode] = c.mode == Ctl::chkbDelayMode;
        const TDateTime same = clock.Now() - 0.1 / 86400.0;
        SetQuote(1, 120000, 120010, same);
        SetQuote(2, c.sellBid, c.sellBid + 10, same);
        const Tx tx = AddTransaction(1, 2, 0.0005);
        EXPECT_EQ(AskClose(c.sellAsks ? tx.sell : tx.buy), c.answer);
        const bool closes = c.buyWaits || c.sellWaits || c.buyDelayed || c.sellDelayed;
        EXPECT_EQ(Status(tx.buy), closes ? stToClose : stCloseCond);
        EXPECT_EQ(Status(tx.sell), closes ? stToClose : stCloseCond);
        if (!closes) continue;
        EXPECT_EQ(Get(tx.buy, "CloseAfterCounterOrder").AsBoolean(), c.buyWaits);
        EXPECT_EQ(Get(tx.sell, "CloseAfterCounterOrder").AsBoolean(), c.sellWaits);
        EXPECT_EQ(!Get(tx.buy, "CloseDelayUntil").IsNull(), c.buyDelayed);
        EXPECT_EQ(!Get(tx.sell, "CloseDelayUntil").IsNull(), c.sellDelayed);
    }
}

TEST_F(Closing, AClosingWindowLastsItsSecondWhateverTheLocalTimeDoes) {
    struct Case {
        const char* what;
        double stepSeconds;  // the local time set forward or back
        double afterSeconds; // then the time that passes
        bool thirdCloses;
    };
    const Case cases[] = {
        {"an hour back, the window over", -3600, 1.1, true},
        {"an hour back, within the window", -3600, 0.5, false},
        {"an hour ahead, within the window", 3600, 0.5, false},
        {"an hour ahead, the window over", 3600, 1.1, true},
    };
    SetQuote(1, 120000, 120010);
    SetQuote(2, 119985, 119991);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        clock.AdvanceSeconds(5);
        desk->closing.ClearCloseLimits();
        const Tx a = AddTransaction(1, 2), b = AddTransaction(1, 2), third = AddTransaction(1, 2);
        EXPECT_EQ(AskClose(a.buy), 1);
        EXPECT_EQ(AskClose(b.buy), 1);
        clock.StepSeconds(c.stepSeconds);
        clock.AdvanceSeconds(c.afterSeconds);
        EXPECT_EQ(AskClose(third.buy), c.thirdCloses ? 1 : 0);
        EXPECT_EQ(Status(third.sell), c.thirdCloses ? stToClose : stCloseCond);
    }
}

TEST_F(Closing, NeutralTrendClosesNothingInEitherMode) {
    QuoteTrend(*this, 0);
    const Tx tx = AddTransaction(1, 2, 0.0005);
    for (Ctl mode : {Ctl::chkbSeqMode, Ctl::chkbDelayMode}) {
        controls.checked[Ctl::chkbSeqMode] = mode == Ctl::chkbSeqMode;
        controls.checked[Ctl::chkbDelayMode] = mode == Ctl::chkbDelayMode;
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(AskClose(tx.buy), 0);
            EXPECT_EQ(AskClose(tx.sell), 0);
        }
        EXPECT_EQ(Status(tx.buy), stCloseCond);
        EXPECT_EQ(Status(tx.sell), stCloseCond);
        EXPECT_EQ(WindowCount(1, 2), 0);
    }
    // Without either mode the same quotes close at once.
    controls.checked[Ctl::chkbDelayMode] = false;
    EXPECT_EQ(AskClose(tx.sell), 1);
}

TEST_F(Closing, SeqModePriceCheckWithdrawsBeyondTheSlippage) {
    struct Case {
        int trend; // +1: the sell leg leads, -1: the buy leg
        const char* slippage;
        int64_t against; // points the leader's price moved against the close
        bool withdrawn;
    };
    const Case cases[] = {
        {-1, "2", 20, false}, {-1, "2", 21, true},      {1, "2", 20, false},
        {1, "2", 21, true},   {-1, "2", -50, false},    {1, "0", 0, false},
        {1, "0", 1, true},    {-1, "100", 1000, false}, {-1, "100", 1001, true},
    };
    controls.checked[Ctl::chkbSeqMode] = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "trend " << c.trend << " slippage " << c.slippage << " move " << c.against);
        clock.AdvanceSeconds(5);
        desk->closing.ClearCloseLimits();
        controls.text[Ctl::seSlippage] = c.slippage;
        QuoteTrend(*this, c.trend);
        const Tx tx = AddTransaction(1, 2, 0.0005);
        const int32_t leader = c.trend > 0 ? tx.sell : tx.buy;
        const int32_t follower = c.trend > 0 ? tx.buy : tx.sell;
        ASSERT_EQ(AskClose(leader), 2);
        const double trig = Get(leader, "TrigCloseKurs").AsFloat();
        if (c.trend > 0)
            desk->prices.Ask[2] += c.against; // the sell leg closes at a higher ask
        else
            desk->prices.Bid[1] -= c.against; // the buy leg closes at a lower bid
        EXPECT_EQ(AskClose(leader), c.withdrawn ? 0 : 2);
        const int32_t want = c.withdrawn ? stCloseCond : stToClose;
        EXPECT_EQ(Status(tx.buy), want);
        EXPECT_EQ(Status(tx.sell), want);
        // Trigger prices and the wait stay as they were.
        EXPECT_DOUBLE_EQ(Get(leader, "TrigCloseKurs").AsFloat(), trig);
        EXPECT_TRUE(Get(follower, "CloseAfterCounterOrder").AsBoolean());
        EXPECT_EQ(WindowCount(1, 2), 1);
    }
}

TEST_F(Closing, PriceCheckOfALegWithoutAValidEAGoesByItsDelay) {
    controls.checked[Ctl::chkbSeqMode] = true;
    SetQuote(1, 100000, 100010); // far from any trigger price
    SetQuote(2, 140000, 140010);
    struct Case {
        std::optional<int32_t> ea;
        double delaySeconds; // CloseDelayUntil relative to now; 0: none
        int answer;
    };
    const Case cases[] = {{0, 0, 1},  {11, 0, 1}, {201, 0, 1}, {std::nullopt, 0, 1},
                          {-7, 0, 1}, {0, 2, 0},  {11, -2, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "EA " << (c.ea ? *c.ea : -999) << " delay " << c.delaySeconds);
        const Tx tx = AddTransaction(1, 2, 0.0005, stToClose);
        SetField(tx.buy, "TrigCloseKurs", Variant(1.2));
        SetField(tx.buy, "EAID", c.ea ? Variant(*c.ea) : Variant());
        if (c.delaySeconds != 0)
            SetField(tx.buy, "CloseDelayUntil", Variant(clock.Now() + c.delaySeconds / 86400.0));
        EXPECT_EQ(AskClose(tx.buy), c.answer);
        EXPECT_EQ(Status(tx.buy), stToClose);
        EXPECT_EQ(Status(tx.sell), stToClose);
    }
    // With a valid EA the same leg's price is checked: 0.2 below its trigger price, withdrawn.
    const Tx tx = AddTransaction(1, 2, 0.0005, stToClose);
    SetField(tx.buy, "TrigCloseKurs", Variant(1.2));
    EXPECT_EQ(AskClose(tx.buy), 0);
    EXPECT_EQ(Status(tx.buy), stCloseCond);
    EXPECT_EQ(Status(tx.sell), stCloseCond);
}

TEST_F(Closing, DelModeDelaysTheFollowingLegByDel) {
    struct Case {
        int trend; // +1: the buy leg is delayed, -1: the sell leg
        bool sellAsks;
    };
    const Case cases[] = {{-1, false}, {-1, true}, {1, false}, {1, true}};
    controls.checked[Ctl::chkbDelayMode] = true;
    controls.text[Ctl::seDelayPos2] = "250";
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "trend " << c.trend << (c.sellAsks ? " sell asks" : " buy asks"));
        clock.AdvanceSeconds(5);
        desk->closing.ClearCloseLimits();
        QuoteTrend(*this, c.trend);
        const Tx tx = AddTransaction(1, 2, 0.0005);
        const int32_t delayed = c.trend > 0 ? tx.buy : tx.sell;
        const int32_t prompt = c.trend > 0 ? tx.sell : tx.buy;
        // An earlier delay: the prompt leg keeps it, the delayed one gets a new one.
        const TDateTime earlier = clock.Now() - 10.0 / 86400.0;
        SetField(tx.buy, "CloseDelayUntil", Variant(earlier));
        SetField(tx.sell, "CloseDelayUntil", Variant(earlier));
        const TDateTime until = clock.Now() + 250 * kMs;
        EXPECT_EQ(AskClose(c.sellAsks ? tx.sell : tx.buy),
                  (c.sellAsks ? tx.sell : tx.buy) == delayed ? 0 : 1);
        EXPECT_EQ(Status(tx.buy), stToClose);
        EXPECT_EQ(Status(tx.sell), stToClose);
        EXPECT_DOUBLE_EQ(Get(delayed, "CloseDelayUntil").AsFloat(), until);
        EXPECT_DOUBLE_EQ(Get(prompt, "CloseDelayUntil").AsFloat(), earlier);
        EXPECT_FALSE(Get(tx.buy, "CloseAfterCounterOrder").AsBoolean());
        EXPECT_FALSE(Get(tx.sell, "CloseAfterCounterOrder").AsBoolean());
        EXPECT_EQ(AskClose(prompt), 1);
        EXPECT_EQ(AskClose(delayed), 0);
        clock.Set(until - 1 * kMs);
        EXPECT_EQ(AskClose(delayed), 0);
        clock.Set(until);
        EXPECT_EQ(AskClose(delayed), 1);
        EXPECT_EQ(WindowCount(1, 2), 1);
    }
}

TEST_F(Closing, ACloseDelayLastsItsMillisecondsWhateverTheLocalTimeDoes) {
    struct Case {
        const char* what;
        double stepSeconds; // the local time set forward or back after the close trigger
        double afterSeconds;
        bool closes;
    };
    const Case cases[] = {
        {"an hour back, within the delay", -3600, 0.249, false},
        {"an hour back, the delay over", -3600, 0.251, true},
        {"an hour ahead, within the delay", 3600, 0.249, false},
        {"an hour ahead, the delay over", 3600, 0.251, true},
    };
    controls.checked[Ctl::chkbDelayMode] = true;
    controls.text[Ctl::seDelayPos2] = "250";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        clock.AdvanceSeconds(5);
        desk->closing.ClearCloseLimits();
        QuoteTrend(*this, 1); // rising: the buy leg follows by the delay
        const Tx tx = AddTransaction(1, 2, 0.0005);
        ASSERT_EQ(AskClose(tx.sell), 1);
        const TDateTime until = Get(tx.buy, "CloseDelayUntil").AsFloat();
        clock.StepSeconds(c.stepSeconds);
        clock.AdvanceSeconds(c.afterSeconds);
        EXPECT_EQ(AskClose(tx.buy), c.closes ? 1 : 0);
        EXPECT_EQ(Get(tx.buy, "CloseDelayUntil").AsFloat(), until); // stored and shown as it was set
    }
}

TEST_F(Closing, OneSidedTransactionClosesAtOnceWithTheEmptyLegsEA) {
    controls.checked[Ctl::chkbSeqMode] = true;
    controls.checked[Ctl::chkbDelayMode] = true;
    QuoteTrend(*this, 1); // a trend that would hold back a two-sided buy leg
    for (bool realIsBuy : {true, false}) {
        SCOPED_TRACE(realIsBuy ? "buy leg" : "sell leg");
        clock.AdvanceSeconds(5);
        desk->closing.ClearCloseLimits();
        // The empty leg records the EA of its side when the transaction was triggered.
        LegSpec first;
        first.type = realIsBuy ? otBuy : otNone;
        first.status = realIsBuy ? stCloseCond : stNoLeg;
        first.ea = 1;
        first.closeSpread = 0.0005;
        const int32_t buy = AddLeg(first);
        LegSpec second = first;
        second.type = realIsBuy ? otNone : otSell;
        second.status = realIsBuy ? stNoLeg : stCloseCond;
        second.ea = 2;
        second.firstOrderID = buy;
        const int32_t sell = AddLeg(second);
        const int32_t real = realIsBuy ? buy : sell, empty = realIsBuy ? sell : buy;
        EXPECT_EQ(AskClose(real), 1);
        EXPECT_EQ(Status(real), stToClose);
        EXPECT_EQ(Status(empty), stNoLeg);
        EXPECT_TRUE(Get(empty, "TrigCloseKurs").IsNull());
        EXPECT_DOUBLE_EQ(Get(real, "TrigCloseKurs").AsFloat(), realIsBuy ? 1.2 : 1.2004);
        EXPECT_FALSE(Get(real, "CloseAfterCounterOrder").AsBoolean());
        EXPECT_TRUE(Get(real, "CloseDelayUntil").IsNull());
        EXPECT_EQ(WindowCount(1, 2), 1);
        EXPECT_EQ(AskClose(empty), 0);
    }
}

TEST_F(Closing, ForceCloseAnswersOneAndStandbyOrAClosedListAnswerZero) {
    SetQuote(1, 120000, 120010);
    SetQuote(2, 119985, 119991);
    const Tx forced = AddTransaction(1, 2, -0.00009, stToClose);
    SetField(forced.buy, "ForceClose", Variant(true));
    SetField(forced.buy, "CloseAfterCounterOrder", Variant(true));
    SetField(forced.buy, "CloseDelayUntil", Variant(clock.Now() + 1.0));
    const Tx waiting = AddTransaction(1, 2);
    SetField(waiting.buy, "TrigCloseKurs", Variant(1.5));

    controls.checked[Ctl::chkbStandby] = true;
    EXPECT_EQ(AskClose(forced.buy), 0);
    EXPECT_EQ(AskClose(waiting.buy), 0);
    EXPECT_EQ(Status(waiting.buy), stCloseCond);
    EXPECT_EQ(WindowCount(1, 2), 0);
    EXPECT_TRUE(Get(forced.buy, "CloseDelayUntil").AsFloat() > clock.Now());
    // The trigger price is answered in Standby too.
    EXPECT_EQ(Send(kTriggerPriceClose, waiting.buy), 150000);

    controls.checked[Ctl::chkbStandby] = false;
    EXPECT_EQ(AskClose(forced.buy), 1);
    EXPECT_EQ(AskClose(forced.buy), 1);

    desk->orders.CloseOrderList();
    EXPECT_EQ(AskClose(forced.buy), 0);
    EXPECT_EQ(Send(kTriggerPriceClose, waiting.buy), -1);
    EXPECT_TRUE(view.stopBoxes.empty());
}

TEST_F(Closing, TriggerPriceCloseInPoints) {
    const Tx tx = AddTransaction(1, 2);
    struct Case {
        std::optional<double> trig;
        int32_t points;
    };
    const Case cases[] = {{1.23456, 123456}, {std::nullopt, 0}, {-0.00005, -5},
                          {0.000025, 2},     {0.000045, 4},     {0.000015, 2}};
    for (const Case& c : cases) {
        SetField(tx.sell, "TrigCloseKurs", c.trig ? Variant(*c.trig) : Variant());
        EXPECT_EQ(Send(kTriggerPriceClose, tx.sell), c.points) << (c.trig ? *c.trig : 0.0);
    }
    EXPECT_EQ(Send(kTriggerPriceClose, 4711), 0);
    EXPECT_EQ(Status(tx.sell), stCloseCond); // nothing changed
}

} // namespace
