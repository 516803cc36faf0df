// Execution failures: the retry question of a failed leg, the cancel report, and the EAs'
// notices about the counter order of their leg.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "legsfixture.h"
#include "tests/support/localescope.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

constexpr int32_t kRetry = EAMsg::RetryOrderExecution;
constexpr int32_t kCancel = EAMsg::CancelOrder;
constexpr int32_t kNotice = EAMsg::ShowEAMessage;

using Failures = LegsDesk;

// The failed leg is the sell leg (EA 3); its counter order is the buy leg of EA 2, or a sell
// counter when the failed leg is the buy leg.
TEST_F(Failures, RetryWeighsTheCountersResultAgainstItsMaxLoss) {
    LocaleScope comma(',');
    struct Case {
        const char* what;
        int32_t counterType;
        int32_t counterStatus;
        std::optional<int32_t> counterEA;
        std::optional<double> kurs;
        double maxVerlust;
        int64_t bid, ask; // of the counter's EA
        int32_t result;
        int32_t counterAfter, failedAfter;
        const char* notification; // nullptr: none
    };
    const char* autoClose =
        "AUTOCLOSE EXECUTED within MaxLoss Value (0,00100): OrderNo=9002 - Account=5550002 - EA=2";
    const char* cancelled = "The Counter-Order has not been executed yet --> Transaction cancelled!";
    const Case cases[] = {
        // buy counter at 1.23456, bid 1.23400: r = -56 within m = 100
        {"buy within", otBuy, stOpened, 2, 1.23456, 0.001, 123400, 123410, 0, stToClose, stCanceled,
         autoClose},
        {"close cond. within", otBuy, stCloseCond, 2, 1.23456, 0.001, 123400, 123410, 0, stToClose,
         stCanceled, autoClose},
        // r exactly -m closes; one point less retries
        {"buy r = -m", otBuy, stOpened, 2, 1.23456, 0.001, 123356, 123366, 0, stToClose, stCanceled,
         autoClose},
        {"buy r = -m - 1", otBuy, stOpened, 2, 1.23456, 0.001, 123355, 123365, 1, stOpened, stPending,
         nullptr},
        // a sell counter: r = Kurs - ask
        {"sell r = -m", otSell, stOpened, 2, 1.23456, 0.001, 123546, 123556, 0, stToClose, stCanceled,
         autoClose},
        {"sell r = -m - 1", otSell, stOpened, 2, 1.23456, 0.001, 123547, 123557, 1, stOpened, stPending,
         nullptr},
        // a negative MaxLoss demands a gain of its magnitude: r = -56 < +10
        {"negative maxloss", otBuy, stOpened, 2, 1.23456, -0.0001, 123400, 123410, 1, stOpened, stPending,
         nullptr},
        {"negative maxloss met", otBuy, stOpened, 2, 1.23456, -0.0001, 123466, 123476, 0, stToClose,
         stCanceled,
         "AUTOCLOSE EXECUTED within MaxLoss Value (-0,00010): OrderNo=9002 - Account=5550002 - EA=2"},
        // an opened counter without its open price, its EA or a quote of its EA: retry, nothing changes
        {"no open price", otBuy, stOpened, 2, std::nullopt, 0.001, 123400, 123410, 1, stOpened, stPending,
         nullptr},
        {"no open price, sell", otSell, stCloseCond, 2, std::nullopt, 0.001, 123400, 123410, 1, stCloseCond,
         stPending, nullptr},
        {"no EA", otBuy, stOpened, std::nullopt, 1.23456, 0.001, 123400, 123410, 1, stOpened, stPending,
         nullptr},
        {"EA 0", otBuy, stOpened, 0, 1.23456, 0.001, 123400, 123410, 1, stOpened, stPending, nullptr},
        {"EA beyond the tables", otBuy, stCloseCond, 11, 1.23456, 0.001, 123400, 123410, 1, stCloseCond,
         stPending, nullptr},
        {"EA without a quote", otSell, stOpened, 2, 1.23456, 0.001, -10000, -10000, 1, stOpened, stPending,
         nullptr},
        // the counter never went out: the transaction is cancelled, whatever its EA
        {"to open", otBuy, stToOpen, std::nullopt, std::nullopt, 0.001, 123400, 123410, 0, stCanceled,
         stCanceled, cancelled},
        // every other status: retry, nothing changes
        {"pending", otBuy, stPending, 2, 1.23456, 0.001, 123400, 123410, 1, stPending, stPending, nullptr},
        {"to close", otBuy, stToClose, 2, 1.23456, 0.001, 123400, 123410, 1, stToClose, stPending, nullptr},
        {"closed", otBuy, stClosed, 2, 1.23456, 0.001, 123400, 123410, 1, stClosed, stPending, nullptr},
        {"canceled", otBuy, stCanceled, 2, 1.23456, 0.001, 123400, 123410, 1, stCanceled, stPending, nullptr},
        {"empty leg", otNone, stNoLeg, std::nullopt, std::nullopt, 0.0, 123400, 123410, 1, stNoLeg, stPending,
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        view.notifications.clear();
        SetQuote(2, c.bid, c.ask);
        LegSpec counter;
        counter.type = c.counterType;
        counter.status = c.counterStatus;
        counter.ea = c.counterEA;
        counter.kurs = c.kurs;
        counter.maxVerlust = c.maxVerlust;
        LegSpec failed;
        failed.type = c.counterType == otSell ? otBuy : otSell;
        failed.status = stPending;
        failed.ea = 3;
        failed.maxVerlust = 0.5; // the failed leg's own MaxLoss plays no part
        // The counter is the first leg, the failed leg the second; then the other way round.
        for (bool counterFirst : {true, false}) {
            const Tx tx = counterFirst ? AddTransaction(counter, failed) : AddTransaction(failed, counter);
            const int32_t counterID = counterFirst ? tx.buy : tx.sell;
            const int32_t failedID = counterFirst ? tx.sell : tx.buy;
            view.notifications.clear();
            EXPECT_EQ(Send(kRetry, failedID), c.result);
            EXPECT_EQ(Status(counterID), c.counterAfter);
            EXPECT_EQ(Status(failedID), c.failedAfter);
            if (c.notification) {
                ASSERT_EQ(view.notifications.size(), 1u);
                EXPECT_EQ(view.notifications[0], c.notification);
            } else {
                EXPECT_TRUE(view.notifications.empty());
            }
            // ForceClose and the trigger price are never touched.
            EXPECT_TRUE(Get(counterID, "ForceClose").IsNull());
            EXPECT_TRUE(Get(counterID, "TrigCloseKurs").IsNull());
        }
    }
    EXPECT_TRUE(view.stopBoxes.empty());
}

TEST_F(Failures, AutoCloseTextFollowsTheLocaleSeparator) {
    LocaleScope dot('.');
    SetQuote(2, 123400, 123410);
    LegSpec counter;
    counter.ea = 2;
    counter.kurs = 1.23456;
    LegSpec failed;
    failed.type = otSell;
    failed.status = stPending;
    failed.ea = 3;
    const Tx tx = AddTransaction(counter, failed);
    EXPECT_EQ(Send(kRetry, tx.sell), 0);
    ASSERT_EQ(view.notifications.size(), 1u);
    EXPECT_EQ(view.notifications[0],
              "AUTOCLOSE EXECUTED within MaxLoss Value (0.00100): OrderNo=9002 - Account=5550002 - EA=2");
}

TEST_F(Failures, RetryWithoutACounterOrderGivesUp) {
    LegSpec lone;
    lone.status = stPending;
    const int32_t id = AddLeg(lone); // no FirstOrderID, and nothing names it
    EXPECT_EQ(Send(kRetry, id), 0);
    EXPECT_EQ(Send(kRetry, 777), 0); // not in the list
    EXPECT_EQ(Send(kRetry, -1), 0);
    EXPECT_EQ(Status(id), stPending);
    EXPECT_TRUE(view.notifications.empty());
}

TEST_F(Failures, CancelSetsTheLegCanceledWhateverItWas) {
    struct Case {
        int32_t type;
        int32_t status;
        const char* text;
    };
    const Case cases[] = {
        {otBuy, stClosed, "BUY-Order CANCELED: OrderNo=9002 - Account=5550002 - EA=2"},
        {otSell, stClosed, "SELL-Order CANCELED: OrderNo=9002 - Account=5550002 EA=2"},
        {otSell, stOpened, "SELL-Order CANCELED: OrderNo=9002 - Account=5550002 EA=2"},
        {otBuy, stCanceled, "BUY-Order CANCELED: OrderNo=9002 - Account=5550002 - EA=2"},
        {otNone, stToOpen, "SELL-Order CANCELED: OrderNo=9002 - Account=5550002 EA=2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        view.notifications.clear();
        LegSpec leg;
        leg.type = c.type;
        leg.status = c.status;
        leg.ea = 2;
        LegSpec other;
        other.type = otSell;
        other.status = stOpened;
        other.ea = 3;
        const Tx tx = AddTransaction(leg, other);
        EXPECT_EQ(Send(kCancel, tx.buy), 0);
        EXPECT_EQ(Status(tx.buy), stCanceled);
        EXPECT_EQ(Status(tx.sell), stOpened); // the counter order stays
        ASSERT_EQ(view.notifications.size(), 1u);
        EXPECT_EQ(view.notifications[0], c.text);
    }
    view.notifications.clear();
    EXPECT_EQ(Send(kCancel, 999), 0);
    EXPECT_TRUE(view.notifications.empty());
}

TEST_F(Failures, CancelOfALegWithoutTicketOrEAWritesEmptyValues) {
    LegSpec leg;
    leg.status = stPending;
    leg.ea = std::nullopt;
    const int32_t id = AddLeg(leg);
    EXPECT_EQ(Send(kCancel, id), 0);
    ASSERT_EQ(view.notifications.size(), 1u);
    EXPECT_EQ(view.notifications[0], "BUY-Order CANCELED: OrderNo= - Account= - EA=");
}

TEST_F(Failures, NoticesAboutTheCounterOrder) {
    Send(EAMsg::ParamCounterCheckSeconds, 3, 7); // the sending EA's counter-check seconds
    const std::string leg = "OrderNo=9002 - Account=5550002 - EA=2";
    const std::string neverHandedOut =
        "FORCED AUTOCLOSE (7 sec.): Counter-Order never handed out --> Counter-Order cancelled: " + leg;
    struct Case {
        int32_t kind;
        int32_t counterStatus;
        bool openAfterCounter;
        bool autoClose;
        int32_t counterAfter;
        std::string text;      // empty: none
        bool handedOut = true; // EA 2 collected its Pending counter order with WM_APP+500
    };
    const Case cases[] = {
        {1, stPending, false, false, stPending, "CANCEL / AUTOCLOSE ATTEMPT (7 sec.): " + leg},
        {1, stPending, false, false, stPending, "CANCEL / AUTOCLOSE ATTEMPT (7 sec.): " + leg, false},
        {1, stOpened, false, true, stOpened, "CANCEL / AUTOCLOSE ATTEMPT (7 sec.): " + leg},
        {1, stCloseCond, false, false, stCloseCond, "CANCEL / AUTOCLOSE ATTEMPT (7 sec.): " + leg},
        // a counter that waits for its own counter order, or is not open: no notice
        {1, stPending, true, false, stPending, ""},
        {1, stToOpen, false, false, stToOpen, ""},
        {1, stToClose, false, false, stToClose, ""},
        {1, stClosed, false, false, stClosed, ""},
        {1, stCanceled, false, false, stCanceled, ""},
        // kind 2: with Forced AutoClose the counter is closed, otherwise the operator must
        {2, stPending, false, true, stToClose, "FORCED AUTOCLOSE (7 sec.): " + leg},
        {2, stOpened, false, true, stToClose, "FORCED AUTOCLOSE (7 sec.): " + leg},
        {2, stCloseCond, true, true, stToClose, "FORCED AUTOCLOSE (7 sec.): " + leg},
        {2, stOpened, false, false, stOpened, "OPEN POSITION: MANUAL CLOSE REQUIRED: " + leg},
        {2, stCloseCond, true, false, stCloseCond, "OPEN POSITION: MANUAL CLOSE REQUIRED: " + leg},
        {2, stToOpen, false, true, stToOpen, ""},
        {2, stToClose, false, true, stToClose, ""},
        {2, stClosed, false, true, stClosed, ""},
        {2, stCanceled, false, false, stCanceled, ""},
        // a Pending counter no EA ever collected holds no position: Forced AutoClose cancels it
        {2, stPending, false, true, stCanceled, neverHandedOut, false},
        {2, stPending, true, true, stCanceled, neverHandedOut, false},
        {2, stPending, false, false, stPending, "OPEN POSITION: MANUAL CLOSE REQUIRED: " + leg, false},
        // any other kind: nothing
        {3, stOpened, false, true, stOpened, ""},
        {0, stOpened, false, true, stOpened, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "kind " << c.kind << " status " << c.counterStatus << " oac " << c.openAfterCounter
                     << " autoclose " << c.autoClose << " handed out " << c.handedOut);
        view.notifications.clear();
        LegSpec counter;
        counter.status = c.counterStatus;
        counter.ea = 2;
        counter.openAfterCounter = c.openAfterCounter;
        counter.autoClose = c.autoClose;
        LegSpec own;
        own.type = otSell;
        own.status = stOpened;
        own.ea = 3;
        const Tx tx = AddTransaction(counter, own);
        if (c.counterStatus == stPending && c.handedOut) {
            // A counter waiting for its own counter order is released by the opened sell leg.
            ASSERT_EQ(Send(EAMsg::OrderQuestion, 2), tx.buy);
            view.notifications.clear();
        }
        EXPECT_EQ(Send(kNotice, tx.sell, c.kind), 0);
        EXPECT_EQ(Status(tx.buy), c.counterAfter);
        EXPECT_EQ(Status(tx.sell), stOpened); // the sender's own leg never changes
        if (c.text.empty()) {
            EXPECT_TRUE(view.notifications.empty());
        } else {
            ASSERT_EQ(view.notifications.size(), 1u);
            EXPECT_EQ(view.notifications[0], c.text);
        }
    }
}

TEST_F(Failures, NoticeFromALegWithoutAValidEAUsesNoCounterCheckSeconds) {
    for (int ea = 1; ea <= 10; ++ea) Send(EAMsg::ParamCounterCheckSeconds, ea, 9);
    desk->prices.aiParamCounterCheckSeconds[11] = 11; // beyond the one table: never read
    struct Case {
        std::optional<int32_t> ea;
        int seconds;
    };
    const Case cases[] = {{3, 9}, {10, 9}, {std::nullopt, 0}, {0, 0}, {11, 0}, {-5, 0}, {100000, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ea ? *c.ea : -99);
        view.notifications.clear();
        LegSpec counter;
        counter.ea = 2;
        LegSpec own;
        own.type = otSell;
        own.ea = c.ea;
        const Tx tx = AddTransaction(counter, own);
        EXPECT_EQ(Send(kNotice, tx.sell, 1), 0);
        ASSERT_EQ(view.notifications.size(), 1u);
        EXPECT_EQ(view.notifications[0], "CANCEL / AUTOCLOSE ATTEMPT (" + std::to_string(c.seconds) +
                                             " sec.): OrderNo=9002 - Account=5550002 - EA=2");
    }
}

TEST_F(Failures, NoticeWithoutACounterOrNamingNoLegDoesNothing) {
    LegSpec lone;
    lone.ea = 3;
    const int32_t id = AddLeg(lone);
    EXPECT_EQ(Send(kNotice, id, 2), 0);
    EXPECT_EQ(Send(kNotice, 4242, 2), 0);
    EXPECT_EQ(Status(id), stOpened);
    EXPECT_TRUE(view.notifications.empty());
    // A counter without EA, account or ticket is named with -1 and an empty ticket.
    LegSpec counter;
    counter.ea = std::nullopt;
    counter.status = stPending;
    LegSpec own;
    own.type = otSell;
    own.ea = 3;
    const Tx tx = AddTransaction(counter, own);
    EXPECT_EQ(Send(kNotice, tx.sell, 1), 0);
    ASSERT_EQ(view.notifications.size(), 1u);
    EXPECT_EQ(view.notifications[0], "CANCEL / AUTOCLOSE ATTEMPT (0 sec.): OrderNo= - Account=-1 - EA=-1");
}

} // namespace

namespace {

// Legs 1 (buy, EA 1) and 2 (sell, EA 2) Pending; EA 2 collects leg 2, cancels it and tells of
// its counter order, leg 1, which EA 1 may or may not have collected before.
TEST_F(Failures, ACounterOrderLeftAloneIsNeverOpenedUntold) {
    struct Case {
        const char* what;
        bool autoClose;
        bool collectedByEA1;
        int32_t afterNotice;   // leg 1 after the kind 2 notice
        const char* notice;    // the notice's text, after "(0 sec.): " or the manual text
        int32_t secondAnswer;  // EA 1's WM_APP+500 afterwards (0: leg 1's OrderID)
        int32_t afterQuestion; // leg 1 then
    };
    const Case cases[] = {
        {"forced autoclose, never handed out", true, false, stCanceled,
         "FORCED AUTOCLOSE (0 sec.): Counter-Order never handed out --> Counter-Order cancelled: ", -1,
         stCanceled},
        {"forced autoclose, handed out", true, true, stToClose, "FORCED AUTOCLOSE (0 sec.): ", -1, stToClose},
        {"manual, never handed out", false, false, stPending, "OPEN POSITION: MANUAL CLOSE REQUIRED: ", -1,
         stCanceled},
        {"manual, handed out", false, true, stPending, "OPEN POSITION: MANUAL CLOSE REQUIRED: ", 0,
         stPending},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LegSpec buy;
        buy.status = stPending;
        buy.ea = 1;
        buy.autoClose = c.autoClose;
        LegSpec sell = buy;
        sell.type = otSell;
        sell.ea = 2;
        const Tx tx = AddTransaction(buy, sell);
        // The fixture's legs carry tickets; a Pending leg has none yet.
        SetField(tx.buy, "Ticket", Variant());
        if (c.collectedByEA1) {
            ASSERT_EQ(Send(EAMsg::OrderQuestion, 1), tx.buy);
        }
        ASSERT_EQ(Send(EAMsg::OrderQuestion, 2), tx.sell);
        Send(kCancel, tx.sell);
        view.notifications.clear();
        EXPECT_EQ(Send(kNotice, tx.sell, 2), 0);
        EXPECT_EQ(Status(tx.buy), c.afterNotice);
        ASSERT_EQ(view.notifications.size(), 1u);
        EXPECT_EQ(view.notifications[0], std::string(c.notice) + "OrderNo= - Account=5550001 - EA=1");
        EXPECT_EQ(Send(EAMsg::OrderQuestion, 1), c.secondAnswer == 0 ? tx.buy : c.secondAnswer);
        EXPECT_EQ(Status(tx.buy), c.afterQuestion);
        // Whatever the list says, a leg an EA opens anyway is recorded, and the operator is told
        // once that it stands alone.
        view.notifications.clear();
        Send(EAMsg::OrderOpened, tx.buy, 777);
        Send(EAMsg::OrderOpened, tx.buy, 777);
        EXPECT_EQ(Status(tx.buy), c.afterQuestion == stToClose ? stToClose : stOpened);
        const std::string alone = "OPEN POSITION WITHOUT COUNTER-ORDER: MANUAL CLOSE REQUIRED: OrderNo=777 - "
                                  "Account=5550001 - EA=1";
        EXPECT_EQ(std::count(view.notifications.begin(), view.notifications.end(), alone),
                  c.afterQuestion == stToClose ? 0 : 1);
    }
}

} // namespace
