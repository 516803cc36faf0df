#include <gtest/gtest.h>

#include "platform/displayformat.h"
#include "platform/fixedtext.h"
#include "platform/numbers.h"
#include "spreadfixture.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

using L = IDeskView::FrameLabel;

struct CrossSpreads : SpreadFixture {};

TEST_F(CrossSpreads, SingleEligibleEAIsBothSidesAndTheLabelsNameItTwice) {
    Create();
    Quote(3, 123456, 123468);
    const int t = 0;
    EXPECT_TRUE(desk->spreads.CSActiv[t]);
    EXPECT_EQ(desk->spreads.CrossSpread[t], 12);
    EXPECT_EQ(desk->spreads.CSGegenwert[t], 12);
    EXPECT_EQ(desk->spreads.CSMin[t], 12); // its own pair (3, 3)
    EXPECT_EQ(desk->spreads.CSGegenwertMin[t], 12);
    EXPECT_EQ(Label(t, L::MinCrossSpread), "0,00012 EA ID3 (Ask 1,23468) - EA ID3 (Bid 1,23456)");
    EXPECT_EQ(Label(t, L::Gegenwert), "0,00012 EA ID3 (Bid 1,23456) - EA ID3 (Ask 1,23468)");
    EXPECT_EQ(Label(t, L::Summe), "0,00024 (EA ID3 - EA ID3)");
}

// Cross spread and counter spread over the table's eligible EAs.
TEST_F(CrossSpreads, LowestAskAndHighestBidOfTheEligibleEAs) {
    struct Q {
        int id;
        int32_t bid, ask;
    };
    struct Case {
        const char* name;
        std::vector<Q> quotes;     // in this order
        std::vector<int> unticked; // before the last quote
        std::vector<int> aged;     // quoted exactly one timeout before the last quote
        int minAskEA, maxBidEA;
        int64_t cs, gs;
    };
    const std::vector<Case> cases = {
        {"arbitrage across two brokers", {{1, 100000, 100010}, {2, 100020, 100030}}, {}, {}, 1, 2, -10, 30},
        {"equal asks keep the lower EA", {{5, 100000, 100010}, {2, 99990, 100010}}, {}, {}, 2, 5, 10, 20},
        {"equal bids keep the lower EA", {{7, 100000, 100020}, {4, 100000, 100030}}, {}, {}, 7, 4, 20, 30},
        {"unticked EA takes no part", {{1, 100000, 100010}, {2, 100020, 100030}}, {2}, {}, 1, 1, 10, 10},
        {"age equal to the timeout is stale",
         {{1, 100000, 100010}, {2, 100020, 100030}},
         {},
         {1},
         2,
         2,
         10,
         10},
        {"other table's EA takes no part", {{11, 90000, 90001}, {2, 100020, 100030}}, {}, {}, 2, 2, 10, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        controls = FakeControls{};
        view = FakeView{};
        Create();
        for (size_t k = 0; k + 1 < c.quotes.size(); ++k)
            Quote(c.quotes[k].id, c.quotes[k].bid, c.quotes[k].ask);
        for (int u : c.unticked) Tick(u, false);
        // The aged quote's stamp is exactly one timeout old in milliseconds.
        for (int a : c.aged) desk->prices.Time[a] = clock.Now() - 4000.0 / 86400000.0;
        const Q& last = c.quotes.back();
        Quote(last.id, last.bid, last.ask);
        EXPECT_TRUE(desk->spreads.CSActiv[0]);
        EXPECT_EQ(desk->spreads.CrossSpread[0], c.cs);
        EXPECT_EQ(desk->spreads.CSGegenwert[0], c.gs);
        FixedText expect;
        expect.AddPoints(c.cs + c.gs)
            .Add(" (EA ID")
            .AddInt(c.minAskEA)
            .Add(" - EA ID")
            .AddInt(c.maxBidEA)
            .Add(')');
        EXPECT_EQ(Label(0, L::Summe), expect.Str());
    }
}

TEST_F(CrossSpreads, QuoteJustInsideTheTimeoutIsEligible) {
    Create();
    Quote(1, 100000, 100010);
    desk->prices.Time[1] = clock.Now() - 3999.0 / 86400000.0;
    Quote(2, 100020, 100030);
    EXPECT_EQ(desk->spreads.CrossSpread[0], -10);
}

TEST_F(CrossSpreads, NonPositiveLowestAskCountsAsNone) {
    Create();
    // EA 1 has a spread but its stored ask became 0 after its last complete quote.
    Quote(1, 100000, 100010);
    Send(EAMsg::NewDataAsk, 1, 0);
    Quote(2, 100020, 100030);
    EXPECT_EQ(desk->spreads.CrossSpread[0], 100030 - 100020); // EA 2 replaced the ask of 0
    // EA 1's pairs are not updated (at its own quote EA 2 had no price yet).
    EXPECT_EQ(desk->spreads.acMinSpread[1][2], kNoPairMin);
    EXPECT_EQ(desk->spreads.acMinSpread[2][1], kNoPairMin);
    EXPECT_EQ(desk->spreads.acMinSpread[2][2], 10);

    // A later EA whose stored ask became 0 never becomes the lowest-ask EA.
    Send(EAMsg::NewDataAsk, 1, 100010);
    Quote(1, 100000, 100010);
    Quote(3, 100000, 100040);
    Send(EAMsg::NewDataAsk, 3, 0);
    Quote(1, 100000, 100010);
    EXPECT_EQ(desk->spreads.CrossSpread[0], 100010 - 100020);
    EXPECT_EQ(Label(0, L::MinCrossSpread), "-0,00010 EA ID1 (Ask 1,00010) - EA ID2 (Bid 1,00020)");
}

TEST_F(CrossSpreads, StalePricesOfZeroRaiseNoAlertAndNoTrade) {
    Create();
    controls.text[Ctl::reAlert] = "0,00000";
    controls.checked[Ctl::cbAlertAktiv] = true;
    controls.checked[Ctl::cbAutoTrade] = true;
    Quote(1, 100000, 100010);
    Quote(3, 100005, 100020);
    Send(EAMsg::NewDataAsk, 3, 0); // EA 3 keeps its spread, but its stored ask is gone
    Quote(1, 100000, 100010);
    EXPECT_EQ(desk->spreads.CrossSpread[0], 100010 - 100005);
    EXPECT_TRUE(view.notifications.empty());
    EXPECT_TRUE(atDesk->placed.empty());

    // The only EA with a spread has no bid left: no highest bid, so no cross spread.
    Tick(3, false);
    Send(EAMsg::NewDataBid, 1, 0);
    Tick(2, false);
    Quote(2, 100000, 100010); // EA 2's quote computes the table; EA 2 is not ticked
    EXPECT_FALSE(desk->spreads.CSActiv[0]);
    EXPECT_EQ(Label(0, L::MinCrossSpread), "---");
}

TEST_F(CrossSpreads, NoEligibleEAWithASpreadShowsDashesAndKeepsTheMinima) {
    Create();
    Quote(1, 100000, 100010);
    ASSERT_TRUE(desk->spreads.CSActiv[0]);
    const int64_t csMin = desk->spreads.CSMin[0];
    Tick(1, false);
    Quote(2, 100000, 99990); // crossed: EA 2 has no spread
    EXPECT_FALSE(desk->spreads.CSActiv[0]);
    EXPECT_EQ(desk->spreads.CrossSpread[0], 0);
    EXPECT_EQ(desk->spreads.CSGegenwert[0], 0);
    EXPECT_EQ(desk->spreads.CSMin[0], csMin);
    for (L l : {L::MinCrossSpread, L::Gegenwert, L::Summe}) EXPECT_EQ(Label(0, l), "---");
}

TEST_F(CrossSpreads, PairMinimaAndTheBestPair) {
    Create();
    // m[i][j] = Ask[j] - Bid[i]: m12 = m13 = 5 is the smallest; the tie keeps (1, 2).
    Quote(1, 100010, 100030);
    Quote(2, 100000, 100015);
    Quote(3, 100005, 100015);
    const auto& m = desk->spreads.acMinSpread;
    const int64_t expect[4][4] = {{}, {0, 20, 5, 5}, {0, 30, 15, 15}, {0, 25, 10, 10}};
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) EXPECT_EQ(m[i][j], expect[i][j]) << i << "," << j;
    EXPECT_EQ(m[1][4], kNoPairMin);
    EXPECT_EQ(desk->spreads.CSMin[0], 5);
    EXPECT_EQ(desk->spreads.CSGegenwertMin[0], 30); // m21, not m31

    // Higher prices later: the minima keep the smallest values seen.
    Quote(2, 100000, 100050);
    EXPECT_EQ(m[1][2], 5);
    EXPECT_EQ(m[2][2], 15);

    // EA 1 unticked: its pairs are not updated, but (2, 1) and (3, 1) still count for the best
    // pair since their bid side is eligible; (1, x) no longer does.
    Tick(1, false);
    Quote(1, 50000, 50001);
    Quote(3, 100005, 100015);
    EXPECT_EQ(m[3][1], 25);
    EXPECT_EQ(m[1][1], 20);
    EXPECT_EQ(desk->spreads.CSMin[0], 10);          // m32 (tie with m33 keeps the lower j)
    EXPECT_EQ(desk->spreads.CSGegenwertMin[0], 15); // m23
}

TEST_F(CrossSpreads, QuoteOfATableBeyondTablesOrWithoutFrameChangesNothing) {
    Create(2);
    Quote(21, 100000, 100010); // EA ID beyond m_iMaxIDs: not even stored
    controls.frames[1].exists = false;
    view.ClearWrites();
    Quote(11, 100000, 100010);
    EXPECT_FALSE(desk->spreads.CSActiv[1]);
    EXPECT_EQ(view.labelWrites, 0);
    EXPECT_EQ(desk->spreads.acMinSpread[11][11], kNoPairMin);
}

TEST_F(CrossSpreads, TableWhoseEAsStopQuotingKeepsItsValues) {
    Create();
    Quote(1, 100000, 100010);
    clock.AdvanceSeconds(60);
    desk->Guarded([&] { desk->UpdateTables(-1); });
    EXPECT_TRUE(desk->spreads.CSActiv[0]);
    EXPECT_EQ(desk->spreads.CrossSpread[0], 10);
    EXPECT_EQ(Label(0, L::Summe), "0,00020 (EA ID1 - EA ID1)");
}

// A quote counts for its timeout from when it came in: a step of the local time neither ages a
// fresh quote nor refreshes a stale one. A time loaded from Data.dat (no reading of when it
// came in) goes by the local time.
TEST_F(CrossSpreads, AQuoteCountsForItsTimeoutWhateverTheLocalTimeDoes) {
    struct Case {
        const char* what;
        double stepSeconds; // the local time set forward or back after EA 1's quote
        double afterSeconds;
        bool loaded; // EA 1's time as read from Data.dat
        bool fresh;
        const char* status; // EA 1's "Conn. Status" then
    };
    const Case cases[] = {
        {"an hour ahead", 3600, 1, false, true, "1 s"},
        {"an hour ahead, past the timeout", 3600, 4, false, false, "Timeout"},
        {"an hour back, within the timeout", -3600, 3.9, false, true, "3 s"},
        {"an hour back, past the timeout", -3600, 4.1, false, false, "Timeout"},
        {"loaded, an hour ahead", 3600, 1, true, false, "Timeout"},
    };
    Create();
    controls.activePage = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        clock.AdvanceSeconds(60); // the quotes of the case before are stale
        Quote(1, 100000, 100010);
        if (c.loaded) desk->prices.Time[1] = clock.Now() - 1.0 / 86400000.0;
        clock.StepSeconds(c.stepSeconds);
        clock.AdvanceSeconds(c.afterSeconds);
        Quote(2, 100020, 100030);
        desk->Guarded([&] { desk->UpdateTables(-1); });
        // EA 1's ask 1,00010 against EA 2's bid 1,00020, or EA 2 alone.
        EXPECT_EQ(desk->spreads.CrossSpread[0], c.fresh ? -10 : 10);
        EXPECT_EQ(view.quote[0].Cell(2, 1), c.status);
    }
}

// ---- alert and auto trade ---------------------------------------------------------------

struct AlertAndAutoTrade : SpreadFixture {
    void SetUp() override {
        Create(3);
        controls.text[Ctl::reAlert] = "-0,00005";
        controls.checked[Ctl::cbAlertAktiv] = true;
        controls.checked[Ctl::cbAutoTrade] = true;
    }
    // A quote of EA 1 and EA 2 of table t giving the cross spread `cs` points.
    void CrossAt(int t, int64_t cs) {
        Quote(10 * t + 1, 100000, 100010);
        Quote(10 * t + 2, static_cast<int32_t>(100010 - cs), static_cast<int32_t>(100020 - cs));
    }
};

TEST_F(AlertAndAutoTrade, LevelIsStrict) {
    struct Case {
        int64_t cs;
        bool fires;
    };
    for (const Case c : {Case{-5, false}, Case{-4, false}, Case{-6, true}, Case{-100, true}}) {
        SCOPED_TRACE(c.cs);
        view.notifications.clear();
        view.beeps = 0;
        atDesk->placed.clear();
        desk->spreads.adtLastAlert.fill(0);
        desk->spreads.adtLastAutoTrade.fill(0);
        CrossAt(0, c.cs);
        ASSERT_EQ(desk->spreads.CrossSpread[0], c.cs);
        EXPECT_EQ(view.notifications.size(), c.fires ? 1u : 0u);
        EXPECT_EQ(view.beeps, c.fires ? 1 : 0);
        EXPECT_EQ(atDesk->placed.size(), c.fires ? 1u : 0u);
    }
}

TEST_F(AlertAndAutoTrade, AlertTextThenAutoTradeSpendingACredit) {
    clock.Set(45000.5);
    CrossAt(2, -12);
    ASSERT_EQ(view.notifications.size(), 1u);
    EXPECT_EQ(view.notifications[0],
              "ALERT: Tab 2 -> CS= -0,00012 - EA=21 (Ask 1,00010) - EA=22 (Bid 1,00022)");
    EXPECT_DOUBLE_EQ(desk->spreads.adtLastAlert[2], 45000.5);
    ASSERT_EQ(atDesk->placed, std::vector<int>{2});
    EXPECT_EQ(atDesk->alertsSeen[0], 1u); // the alert came first
    EXPECT_EQ(controls.text[Ctl::seMaxAutoTrades], "4");
    EXPECT_DOUBLE_EQ(desk->spreads.adtLastAutoTrade[2], 45000.5);
}

TEST_F(AlertAndAutoTrade, SwitchesAndCredits) {
    struct Case {
        bool alertOn, autoOn;
        const char* credits;
        size_t alerts, trades;
        const char* creditsAfter;
    };
    for (const Case c : {Case{true, true, "1", 1, 1, "0"}, Case{true, true, "0", 1, 0, "0"},
                         Case{false, true, "2", 0, 1, "1"}, Case{true, false, "2", 1, 0, "2"},
                         Case{true, true, "x", 1, 0, "x"}, Case{true, true, "-3", 1, 0, "-3"}}) {
        SCOPED_TRACE(c.credits);
        view.notifications.clear();
        atDesk->placed.clear();
        desk->spreads.adtLastAlert.fill(0);
        desk->spreads.adtLastAutoTrade.fill(0);
        controls.checked[Ctl::cbAlertAktiv] = c.alertOn;
        controls.checked[Ctl::cbAutoTrade] = c.autoOn;
        controls.text[Ctl::seMaxAutoTrades] = c.credits;
        CrossAt(0, -20);
        EXPECT_EQ(view.notifications.size(), c.alerts);
        EXPECT_EQ(atDesk->placed.size(), c.trades);
        EXPECT_EQ(controls.text[Ctl::seMaxAutoTrades], c.creditsAfter);
    }
}

TEST_F(AlertAndAutoTrade, IntervalsPerTable) {
    // Quotes every 0.2 s below the level for 3 s: one alert per second at most (after 0, 1.2
    // and 2.4 s, since exactly 1 s has not passed), one auto trade in the 10 s interval.
    controls.text[Ctl::reAlertIntervall] = "1,0";
    controls.text[Ctl::seMaxAutoTrades] = "100";
    int table1Alerts = 0;
    for (int step = 0; step <= 15; ++step) {
        CrossAt(0, -20);
        if (step == 7) {
            const size_t before = view.notifications.size();
            CrossAt(1, -20); // another table alerts on its own
            table1Alerts += static_cast<int>(view.notifications.size() - before);
        }
        clock.AdvanceSeconds(0.2);
    }
    EXPECT_EQ(table1Alerts, 1);
    EXPECT_EQ(view.notifications.size(), 3u + 1u);
    EXPECT_EQ(atDesk->placed, (std::vector<int>{0, 1}));
    clock.AdvanceSeconds(10.0 - 3.2);
    CrossAt(0, -20); // 10 s after the first auto trade: not yet
    EXPECT_EQ(atDesk->placed.size(), 2u);
    clock.AdvanceSeconds(0.001);
    CrossAt(0, -20);
    EXPECT_EQ(atDesk->placed, (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(controls.text[Ctl::seMaxAutoTrades], "97");
}

TEST_F(AlertAndAutoTrade, IntervalsLastTheirTimeWhateverTheLocalTimeDoes) {
    // An alert every second at most, an auto trade every 10 seconds at most.
    struct Case {
        const char* what;
        double stepSeconds; // the local time set forward or back after the first alert
        double afterSeconds;
        size_t alerts, trades;
    };
    const Case cases[] = {
        {"an hour back, 1.1 s later", -3600, 1.1, 2, 1},
        {"an hour back, 10.1 s later", -3600, 10.1, 2, 2},
        {"an hour ahead at once", 3600, 0, 1, 1},
        {"an hour ahead, 1.1 s later", 3600, 1.1, 2, 1},
    };
    controls.text[Ctl::reAlertIntervall] = "1,0";
    controls.text[Ctl::seMaxAutoTrades] = "100";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        clock.AdvanceSeconds(60); // the intervals of the case before are over
        view.notifications.clear();
        atDesk->placed.clear();
        CrossAt(0, -20);
        ASSERT_EQ(view.notifications.size(), 1u);
        ASSERT_EQ(atDesk->placed.size(), 1u);
        clock.StepSeconds(c.stepSeconds);
        clock.AdvanceSeconds(c.afterSeconds);
        CrossAt(0, -20);
        EXPECT_EQ(view.notifications.size(), c.alerts);
        EXPECT_EQ(atDesk->placed.size(), c.trades);
    }
}

TEST_F(AlertAndAutoTrade, FailedPlacementKeepsCreditAndIntervalSoTheNextQuoteTriesAgain) {
    atDesk->fail = true;
    CrossAt(0, -20);
    ASSERT_EQ(view.stopBoxes.size(), 1u);
    EXPECT_EQ(view.stopBoxes[0], "Order list not open.");
    EXPECT_EQ(controls.text[Ctl::seMaxAutoTrades], "5");
    EXPECT_EQ(desk->spreads.adtLastAutoTrade[0], 0.0);
    EXPECT_EQ(view.notifications.size(), 1u); // the alert before it stands
    atDesk->fail = false;
    clock.AdvanceSeconds(0.1);
    Quote(2, 100030, 100040);
    EXPECT_EQ(atDesk->placed, std::vector<int>{0});
    EXPECT_EQ(controls.text[Ctl::seMaxAutoTrades], "4");
}

// ---- resets ------------------------------------------------------------------------------

TEST_F(CrossSpreads, ResetsOfPairMinimaAndTables) {
    Create(2);
    Quote(1, 100000, 100010);
    Quote(2, 100020, 100030);
    Quote(11, 100000, 100010);
    desk->spreads.adtLastAlert[0] = 45000.0;

    controls.activePage = 1; // "Reset ARB Table" on Tab 1
    desk->ResetMinSpreadCurrent();
    EXPECT_EQ(desk->spreads.acMinSpread[11][11], kNoPairMin);
    EXPECT_EQ(desk->spreads.acMinSpread[1][2], 30);

    controls.activePage = 0; // "Reset Spread Table" on Tab 0
    desk->ResetMinCurrent();
    EXPECT_EQ(desk->prices.Min[1], kNoPoints);
    EXPECT_EQ(desk->prices.Min[11], 10);
    EXPECT_EQ(desk->prices.Spread[1], 10);

    desk->spreads.ResetCrossSpreads(); // Watch tab "Reset Table"
    for (int i : {1, 2, 10, 200})
        for (int j : {1, 2, 199}) EXPECT_EQ(desk->spreads.acMinSpread[i][j], kNoPairMin);
    for (int t = 0; t < 20; ++t) {
        EXPECT_FALSE(desk->spreads.CSActiv[t]);
        EXPECT_EQ(desk->spreads.CrossSpread[t], 0);
        EXPECT_EQ(desk->spreads.CSGegenwert[t], 0);
        EXPECT_EQ(desk->spreads.CSMin[t], kNoTableMin);
        EXPECT_EQ(desk->spreads.CSGegenwertMin[t], kNoTableMin);
    }
    EXPECT_EQ(desk->spreads.adtLastAlert[0], 45000.0); // never reset
}

// ---- fixed-buffer texts ------------------------------------------------------------------

TEST(FixedText, PointsMatchTheSharedFormatting) {
    for (int64_t p : {int64_t{0}, int64_t{1}, int64_t{-1}, int64_t{12}, int64_t{-99999}, int64_t{100000},
                      int64_t{123456}, int64_t{-123456}, int64_t{9999999}, int64_t{100000000},
                      int64_t{-4294967296}, int64_t{999999999999999}, int64_t{-999999999999999},
                      int64_t{1000000000000000}, INT64_MAX, INT64_MIN}) {
        FixedText t;
        t.AddPoints(p);
        EXPECT_EQ(t.Str(), FormatPoints(p)) << p;
    }
    FixedText t;
    t.Add("Tab ").AddInt(0, 2).Add('|').AddInt(10, 2).Add('|').AddTwoDigits(7);
    EXPECT_EQ(t.Str(), "Tab  0|10|07");
    for (int k = 0; k < 100; ++k) t.Add("0123456789");
    EXPECT_EQ(t.Size(), FixedText::kCapacity);
}

} // namespace
