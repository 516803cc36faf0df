// The opening hand-shake: an EA collects its Pending leg, reads direction, lots and trigger
// price, and reports ticket, error or fill; the second fill stores the achieved open spread.
#include <gtest/gtest.h>

#include "openingfixture.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

constexpr int32_t QUESTION = EAMsg::OrderQuestion, TYPE = EAMsg::GetOrderType, LOTS = EAMsg::GetOrderLots,
                  OPENED = EAMsg::OrderOpened, ERROR = EAMsg::OrderError, PRICE = EAMsg::OrderOpenPrice,
                  BY_TICKET = EAMsg::GetOrderID, TRIGGER = EAMsg::GetTriggerPrice;

struct Handshake : OpeningDesk {
    // A transaction triggered on buy EA 1 (ask 1.23456) and sell EA 2 (bid 1.23475).
    int Triggered(const Order& o) {
        SetQuote(1, 123440, 123456);
        SetQuote(2, 123475, 123480);
        const int buy = Place(o);
        desk->CheckOrders();
        EXPECT_EQ(Int(o.buySell == 2 ? buy + 1 : buy, "Status"), stPending);
        return buy;
    }
    int Triggered() {
        Order o;
        o.spread = -0.00019;
        return Triggered(o);
    }
    void Reset() {
        desk->orders.m_CDSOrderliste.Close();
        desk->orders.OpenOrderList();
        desk->trigger.LastTrades().Fill(0.0);
        view.notifications.clear();
        view.beeps = 0;
    }
    Variant I(int v) { return Variant(static_cast<int32_t>(v)); }
};

TEST_F(Handshake, TwoEAsTakeATransactionFromTriggerToCloseCondition) {
    Order o;
    o.spread = -0.00019;
    o.lots = 0.29;
    o.slippage = true;
    const int buy = Triggered(o), sell = buy + 1;
    ASSERT_EQ(Send(QUESTION, 1), buy);
    ASSERT_EQ(Send(QUESTION, 2), sell);
    EXPECT_EQ(Send(TYPE, buy), 1);
    EXPECT_EQ(Send(TYPE, sell), 2);
    EXPECT_EQ(Send(LOTS, buy), 29);
    EXPECT_EQ(Send(TRIGGER, buy), 123456);
    EXPECT_EQ(Send(TRIGGER, sell), 123475);
    EXPECT_EQ(Send(OPENED, buy, 9001), 0);
    EXPECT_EQ(Send(OPENED, sell, 9002), 0);
    EXPECT_EQ(Send(QUESTION, 1), -1); // nothing Pending any more
    EXPECT_EQ(Send(PRICE, buy, 123456), 0);
    EXPECT_EQ(Int(buy, "Status"), stOpened);
    EXPECT_TRUE(Get(buy, "TO_Spread").IsNull());
    EXPECT_EQ(Send(PRICE, sell, 123470), 0);
    for (int id : {buy, sell}) {
        EXPECT_EQ(Int(id, "Status"), stCloseCond);
        EXPECT_DOUBLE_EQ(Real(id, "TO_Spread"), -0.00014);
        EXPECT_NEAR(Real(id, "CloseSpread"), -0.00014, 1e-12); // -0.00009 less the 0.00005 slippage
    }
    EXPECT_DOUBLE_EQ(Real(buy, "Kurs"), 1.23456);
    EXPECT_DOUBLE_EQ(Real(sell, "Kurs"), 1.23470);
    EXPECT_EQ(Int(buy, "Ticket"), 9001);
    EXPECT_EQ(Send(BY_TICKET, 0, 9002), sell);
    EXPECT_EQ(view.beeps, 2);
    EXPECT_TRUE(view.stopBoxes.empty());
}

TEST_F(Handshake, AnOrderQuestionAnswersMinusOneForNone) {
    const int buy = Triggered();
    struct Case {
        const char* what;
        bool standby;
        int ea;
        int result;
    };
    const Case cases[] = {
        {"the leg of EA 1", false, 1, buy}, {"again the same leg", false, 1, buy},
        {"Standby", true, 1, -1},           {"an EA without work", false, 3, -1},
        {"EA ID 0", false, 0, -1},          {"EA ID beyond the tables", false, 21, -1},
        {"negative EA ID", false, -5, -1},
    };
    for (const Case& c : cases) {
        controls.checked[Ctl::chkbStandby] = c.standby;
        EXPECT_EQ(Send(QUESTION, c.ea), c.result) << c.what;
    }
    EXPECT_EQ(Int(buy, "Status"), stPending); // handing out changes nothing
    desk->orders.CloseOrderList();
    controls.checked[Ctl::chkbStandby] = false;
    EXPECT_EQ(Send(QUESTION, 1), -1);
}

TEST_F(Handshake, OnlyTheEAsNewestPendingLegIsConsidered) {
    desk->settings.combinationPauseMS = 0;
    const int older = Triggered();
    Order o;
    o.spread = -0.00019;
    const int newer = Place(o);
    desk->CheckOrders();
    ASSERT_EQ(Int(newer, "Status"), stPending);
    EXPECT_EQ(Send(QUESTION, 1), newer);
    // While the newer one is delayed, the older is not handed out either.
    Set(newer, "OpenDelayUntil", Variant(clock.Now() + 1.0 / 86400.0));
    EXPECT_EQ(Send(QUESTION, 1), -1);
    Send(OPENED, newer, 5);
    EXPECT_EQ(Send(QUESTION, 1), older);
}

TEST_F(Handshake, ADelayedLegGoesFromItsDelayTimeOn) {
    const int buy = Triggered();
    Set(buy, "OpenDelayUntil", Variant(clock.Now() + 0.25 / 86400.0));
    clock.AdvanceSeconds(0.249);
    EXPECT_EQ(Send(QUESTION, 1), -1);
    clock.AdvanceSeconds(0.001);
    EXPECT_EQ(Send(QUESTION, 1), buy);
}

// The cases of a step of the local time: forward or back by an hour, then the time that passes.
struct Step {
    const char* what;
    double stepSeconds;
    double afterSeconds;
    bool over;
};

TEST_F(Handshake, ADelayLastsItsMillisecondsWhateverTheLocalTimeDoes) {
    const Step cases[] = {
        {"an hour back, within the delay", -3600, 0.249, false},
        {"an hour back, the delay over", -3600, 0.251, true},
        {"an hour ahead, within the delay", 3600, 0.249, false},
        {"an hour ahead, the delay over", 3600, 0.251, true},
    };
    controls.checked[Ctl::chkbDelayMode] = true;
    controls.text[Ctl::seDelayPos2] = "250";
    for (const Step& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        // Rising from buy EA 1 to sell EA 2: the sell leg follows by the delay.
        SetQuote(1, 120000, 120010, 200);
        SetQuote(2, 120020, 120040, 0);
        const int buy = Place(), sell = buy + 1;
        desk->CheckOrders();
        ASSERT_EQ(Int(sell, "Status"), stPending);
        const TDateTime until = Real(sell, "OpenDelayUntil");
        ASSERT_EQ(Send(QUESTION, 1), buy);
        clock.StepSeconds(c.stepSeconds);
        clock.AdvanceSeconds(c.afterSeconds);
        EXPECT_EQ(Send(QUESTION, 2), c.over ? sell : -1);
        EXPECT_EQ(Real(sell, "OpenDelayUntil"), until); // stored and shown as it was set
    }
}

TEST_F(Handshake, APendingLegGoesBackAfterItsMinuteWhateverTheLocalTimeDoes) {
    const Step cases[] = {
        {"an hour back, 30 s later", -3600, 30, false},
        {"an hour back, 61 s later", -3600, 61, true},
        {"an hour ahead, 30 s later", 3600, 30, false},
        {"an hour ahead, 61 s later", 3600, 61, true},
    };
    for (const Step& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        const int buy = Triggered(), sell = buy + 1;
        const TDateTime pending = Real(buy, "PendingTime");
        clock.StepSeconds(c.stepSeconds);
        clock.AdvanceSeconds(c.afterSeconds);
        desk->TimerResetPendingTimer();
        for (int id : {buy, sell}) EXPECT_EQ(Int(id, "Status"), c.over ? stToOpen : stPending);
        if (!c.over) {
            EXPECT_EQ(Real(buy, "PendingTime"), pending);
        }
    }
}

// An ended transaction earns its credit between 60 and 300 seconds after it was cancelled
// (timed from when it triggered) or closed, whatever the local time did meanwhile.
TEST_F(Handshake, AnEndedTransactionEarnsItsCreditWhateverTheLocalTimeDoes) {
    const Step cases[] = {
        {"an hour back, 30 s later", -3600, 30, false},
        {"an hour back, 90 s later", -3600, 90, true},
        {"an hour ahead, 30 s later", 3600, 30, false},
        {"an hour ahead, 90 s later", 3600, 90, true},
    };
    controls.checked[Ctl::chkbAddCanT] = true;
    controls.checked[Ctl::chkbAddCloT] = true;
    for (bool closed : {false, true})
        for (const Step& c : cases) {
            SCOPED_TRACE(testing::Message() << c.what << (closed ? ", closed" : ", cancelled"));
            Reset();
            controls.text[Ctl::seMaxAutoTrades] = "0";
            desk->TimerResetPendingTimer(); // the sweep has seen the list
            const int buy = Triggered(), sell = buy + 1;
            if (closed) {
                ASSERT_EQ(Send(QUESTION, 1), buy);
                ASSERT_EQ(Send(QUESTION, 2), sell);
                Send(OPENED, buy, 9001);
                Send(OPENED, sell, 9002);
                clock.AdvanceSeconds(600); // opened long after it triggered
                Send(EAMsg::OrderClosed, buy);
                Send(EAMsg::OrderClosed, sell);
                ASSERT_EQ(Int(buy, "Status"), stClosed);
            } else {
                Set(buy, "Status", I(stCanceled));
                Set(sell, "Status", I(stCanceled));
            }
            clock.StepSeconds(c.stepSeconds);
            clock.AdvanceSeconds(c.afterSeconds);
            desk->TimerResetPendingTimer();
            EXPECT_EQ(controls.SpinValue(Ctl::seMaxAutoTrades), c.over ? 1 : 0);
        }
}

TEST_F(Handshake, ASequentialLegFollowsItsCounterOrder) {
    struct Case {
        int counterStatus; // -2: no counter order
        int result;        // 1: released
        int status;
    };
    const Case cases[] = {
        {stOpened, 1, stPending},   {stCloseCond, 1, stPending}, {stCanceled, -1, stCanceled},
        {stClosed, -1, stCanceled}, {stToOpen, -1, stPending},   {stPending, -1, stPending},
        {stToClose, -1, stPending}, {-2, -1, stPending},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.counterStatus);
        Reset();
        const int buy = Triggered(), sell = buy + 1;
        Set(sell, "OpenAfterCounterOrder", Variant(true));
        if (c.counterStatus == -2)
            Set(sell, "FirstOrderID", I(999));
        else
            Set(buy, "Status", I(c.counterStatus));
        clock.AdvanceSeconds(1);
        EXPECT_EQ(Send(QUESTION, 2), c.result == 1 ? sell : -1);
        EXPECT_EQ(Int(sell, "Status"), c.status);
        if (c.result == 1)
            EXPECT_EQ(Real(sell, "OpenDelayUntil"), clock.Now());
        else
            EXPECT_TRUE(Get(sell, "OpenDelayUntil").IsNull());
    }
}

TEST_F(Handshake, ALegWaitingOnAClosedCounterFreesTheEAsOlderLegs) {
    desk->settings.combinationPauseMS = 0;
    const int older = Triggered();
    const int newer = Triggered();
    Set(newer + 1, "OpenAfterCounterOrder", Variant(true));
    Set(newer, "Status", I(stClosed));
    EXPECT_EQ(Send(QUESTION, 2), -1); // the waiting leg is cancelled
    EXPECT_EQ(Send(QUESTION, 2), older + 1);
}

TEST_F(Handshake, DirectionLotsAndTriggerPriceOnTheLink) {
    const int buy = Triggered(), sell = buy + 1;
    struct Case {
        double value; // lots; trigger price; <0: null
        int32_t lots, trigger;
    };
    const Case cases[] = {
        {0.29, 29, 29},  {0.1, 10, 10},
        {1.0, 100, 100}, {0.125, 12, 12},                        // halves go to the even neighbour
        {0.375, 38, 38}, {30000000.0, -1294967296, -1294967296}, // the low 32 bits of 3,000,000,000
        {-1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        Set(buy, "Lots", c.value < 0 ? Variant() : Variant(c.value));
        Set(buy, "TrigOpenKurs", c.value < 0 ? Variant() : Variant(c.value / 1000.0));
        EXPECT_EQ(Send(LOTS, buy), c.lots);
        EXPECT_EQ(Send(TRIGGER, buy), c.trigger);
    }
    EXPECT_EQ(Send(TRIGGER, sell), 123475);
    EXPECT_EQ(Send(TYPE, buy), 1);
    EXPECT_EQ(Send(TYPE, sell), 2);
    Set(sell, "OrderType", I(otNone));
    EXPECT_EQ(Send(TYPE, sell), 2);
    for (int32_t msg : {TYPE, LOTS, TRIGGER}) EXPECT_EQ(Send(msg, 777), 0) << msg;
    desk->orders.CloseOrderList();
    EXPECT_EQ(Send(LOTS, buy), -1);
    EXPECT_EQ(Send(TRIGGER, buy), -1);
}

TEST_F(Handshake, AnOpenedReportStoresTicketAndTimeAndKeepsLaterStatuses) {
    struct Case {
        int from, to;
    };
    const Case cases[] = {{stNoLeg, stOpened},    {stToOpen, stOpened}, {stPending, stOpened},
                          {stCanceled, stOpened}, {stOpened, stOpened}, {stCloseCond, stCloseCond},
                          {stToClose, stToClose}, {stClosed, stClosed}};
    const int buy = Triggered(), sell = buy + 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from);
        view.notifications.clear();
        view.beeps = 0;
        Set(sell, "Status", I(c.from));
        clock.AdvanceSeconds(1);
        EXPECT_EQ(Send(OPENED, sell, 4242 + c.from), 0);
        EXPECT_EQ(Int(sell, "Status"), c.to);
        EXPECT_EQ(Int(sell, "Ticket"), 4242 + c.from);
        EXPECT_EQ(Real(sell, "OrderOpenTime"), clock.Now());
        EXPECT_EQ(view.beeps, 1);
        EXPECT_EQ(view.notifications,
                  std::vector<std::string>{"SELL-Order EXECUTED: OrderNo=" + std::to_string(4242 + c.from) +
                                           " - Account=5002 - EA=2"});
    }
    view.notifications.clear();
    Set(sell, "Status", I(stOpened)); // an open counter order: the buy leg does not stand alone
    Set(buy, "Account", Variant());
    Send(OPENED, buy, -7);
    EXPECT_EQ(view.notifications,
              std::vector<std::string>{"BUY-Order EXECUTED: OrderNo=-7 - Account= - EA=1"});
    // An order that is not in the list: nothing, no beep.
    view.notifications.clear();
    view.beeps = 0;
    EXPECT_EQ(Send(OPENED, 999, 1), 0);
    EXPECT_TRUE(view.notifications.empty());
    EXPECT_EQ(view.beeps, 0);
}

TEST_F(Handshake, AnErrorReportOnlyNotifies) {
    const int buy = Triggered(), sell = buy + 1;
    EXPECT_EQ(Send(ERROR, buy, 130), 0);
    EXPECT_EQ(Send(ERROR, sell, -1), 0);
    EXPECT_EQ(Send(ERROR, 999, 5), 0);
    EXPECT_EQ(view.notifications, (std::vector<std::string>{"ERROR (130): BUY-Order - Account=5001 - EA=1",
                                                            "ERROR (-1): SELL-Order - Account=5002 - EA=2"}));
    EXPECT_EQ(view.beeps, 0);
    EXPECT_EQ(Int(buy, "Status"), stPending);
    EXPECT_EQ(Int(sell, "Status"), stPending);
}

TEST_F(Handshake, TheSecondFillStoresTheOpenSpreadAndTheCloseRule) {
    struct Case {
        const char* what;
        int32_t buyFill, sellFill;
        bool slippage;
        int closeBedingung;
        double toSpread, closeSpread;
        int status;
    };
    // Target -0.00019, close spread -0.00009.
    const Case cases[] = {
        {"slippage of 5 points corrected", 123456, 123470, true, 1, -0.00014, -0.00014, stCloseCond},
        {"exactly the target: no correction", 123456, 123475, true, 1, -0.00019, -0.00009, stCloseCond},
        {"one point worse", 123456, 123474, true, 1, -0.00018, -0.00010, stCloseCond},
        {"better than the target", 123456, 123480, true, 1, -0.00024, -0.00009, stCloseCond},
        {"correction off", 123456, 123470, false, 1, -0.00014, -0.00009, stCloseCond},
        {"no close condition", 123456, 123470, true, 0, -0.00014, -0.00009, stOpened},
        {"sell fill below the buy fill", 123500, 123400, true, 1, 0.001, -0.00128, stCloseCond},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool sellFirst : {false, true}) {
            Reset();
            Order o;
            o.spread = -0.00019;
            o.slippage = c.slippage;
            const int buy = Triggered(o), sell = buy + 1;
            Set(buy, "CloseBedingung", I(c.closeBedingung));
            Set(sell, "CloseBedingung", I(c.closeBedingung));
            Send(OPENED, buy, 1);
            Send(OPENED, sell, 2);
            if (sellFirst) {
                Send(PRICE, sell, c.sellFill);
                EXPECT_EQ(Int(sell, "Status"), stOpened);
                EXPECT_TRUE(Get(sell, "TO_Spread").IsNull());
                Send(PRICE, buy, c.buyFill);
            } else {
                Send(PRICE, buy, c.buyFill);
                Send(PRICE, sell, c.sellFill);
            }
            for (int id : {buy, sell}) {
                EXPECT_DOUBLE_EQ(Real(id, "TO_Spread"), c.toSpread);
                EXPECT_NEAR(Real(id, "CloseSpread"), c.closeSpread, 1e-12);
                EXPECT_EQ(Int(id, "Status"), c.status);
            }
            EXPECT_DOUBLE_EQ(Real(buy, "Kurs"), c.buyFill / 100000.0);
            EXPECT_DOUBLE_EQ(Real(sell, "Kurs"), c.sellFill / 100000.0);
        }
    }
}

TEST_F(Handshake, ALateOrRepeatedFillReopensNothingAndCorrectsOnce) {
    Order o;
    o.spread = -0.00019;
    o.slippage = true;
    // The counter order was put to To Close or closed before the second fill arrived.
    for (int status : {stToClose, stClosed}) {
        SCOPED_TRACE(status);
        Reset();
        const int buy = Triggered(o), sell = buy + 1;
        Send(OPENED, buy, 1);
        Send(OPENED, sell, 2);
        Send(PRICE, buy, 123456);
        Set(buy, "Status", I(status));
        Send(PRICE, sell, 123470);
        EXPECT_EQ(Int(buy, "Status"), status);
        EXPECT_DOUBLE_EQ(Real(buy, "TO_Spread"), -0.00014);
        EXPECT_EQ(Int(sell, "Status"), stCloseCond);
        // The same report again, after both legs were closed: they stay closed.
        Set(sell, "Status", I(status));
        Send(PRICE, sell, 123470);
        EXPECT_EQ(Int(buy, "Status"), status);
        EXPECT_EQ(Int(sell, "Status"), status);
    }
    // A repeated report lowers the close spread only once, on both legs.
    Reset();
    const int buy = Triggered(o), sell = buy + 1;
    Send(PRICE, buy, 123456);
    for (int k = 0; k < 3; ++k) Send(PRICE, sell, 123470);
    Send(PRICE, buy, 123456);
    for (int id : {buy, sell}) {
        EXPECT_DOUBLE_EQ(Real(id, "TO_Spread"), -0.00014);
        EXPECT_NEAR(Real(id, "CloseSpread"), -0.00014, 1e-12);
    }
}

TEST_F(Handshake, AOneSidedTransactionIsOpenWithItsOneFill) {
    for (int close : {1, 0}) {
        Reset();
        Order o;
        o.buySell = 1;
        o.closeBedingung = close;
        const int buy = Triggered(o);
        Set(buy, "CloseBedingung", I(close));
        Send(OPENED, buy, 77);
        Send(PRICE, buy, 123456);
        EXPECT_EQ(Int(buy, "Status"), close ? stCloseCond : stOpened);
        EXPECT_TRUE(Get(buy, "TO_Spread").IsNull());
        EXPECT_DOUBLE_EQ(Real(buy, "Kurs"), 1.23456);
        EXPECT_EQ(Int(buy + 1, "Status"), stNoLeg);
    }
    // Without a close spread the status stays.
    Reset();
    Order o;
    o.buySell = 2;
    const int empty = Triggered(o), sell = empty + 1;
    Set(sell, "CloseSpread", Variant());
    Send(OPENED, sell, 78);
    Send(PRICE, sell, 123470);
    EXPECT_EQ(Int(sell, "Status"), stOpened);
    // An order that is not in the list changes nothing.
    EXPECT_EQ(Send(PRICE, 999, 1), 0);
    EXPECT_TRUE(view.stopBoxes.empty());
}

TEST_F(Handshake, ATicketIsTurnedIntoTheNewestOrderCarryingIt) {
    const int buy = Triggered(), sell = buy + 1;
    EXPECT_EQ(Send(BY_TICKET, 0, 5555), -1);
    Send(OPENED, buy, 5555);
    EXPECT_EQ(Send(BY_TICKET, 0, 5555), buy);
    Send(OPENED, sell, 5555);
    EXPECT_EQ(Send(BY_TICKET, 0, 5555), sell);
    EXPECT_EQ(Send(BY_TICKET, 0, 0), -1);
}

TEST_F(Handshake, ALegWhoseCounterEndedBeforeItWasHandedOutIsCanceled) {
    struct Case {
        int counter; // the counter order's status when the EA asks
        bool handed; // the leg's EA collected it before
        bool goes;   // the leg is handed out
    };
    const Case cases[] = {
        {stClosed, false, false}, {stCanceled, false, false}, {stClosed, true, true},
        {stCanceled, true, true}, {stPending, false, true},   {stToOpen, false, true},
        {stOpened, false, true},  {stToClose, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.counter << (c.handed ? " handed out" : ""));
        Reset();
        const int buy = Triggered(), sell = buy + 1;
        if (c.handed) {
            ASSERT_EQ(Send(QUESTION, 1), buy);
        }
        Set(sell, "Status", I(c.counter));
        EXPECT_EQ(Send(QUESTION, 1), c.goes ? buy : -1);
        EXPECT_EQ(Int(buy, "Status"), c.goes ? stPending : stCanceled);
        EXPECT_TRUE(view.notifications.empty());
    }
}

// EA 1 collects the buy leg and then says nothing for more than a minute: the sweep gives the
// leg to EA 3. Two positions for one leg are never left untold.
TEST_F(Handshake, ALegTakenFromASilentEAIsNeverExecutedTwiceUntold) {
    struct Case {
        const char* what;
        bool lateFirst; // EA 1's late report comes before EA 3's
    };
    const Case cases[] = {{"EA 3 reports first", false}, {"EA 1 reports first", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        SetQuote(3, 0, 0, -1); // EA 3 quotes only after the sweep
        const int buy = Triggered(), sell = buy + 1;
        ASSERT_EQ(Send(QUESTION, 1), buy);
        clock.AdvanceSeconds(61);
        desk->TimerResetPendingTimer();
        ASSERT_EQ(Int(buy, "Status"), stToOpen);
        ASSERT_EQ(Int(sell, "Status"), stToOpen);
        SetQuote(1, 123440, 123456, 10000); // stale
        SetQuote(2, 123475, 123480);
        SetQuote(3, 123440, 123450);
        desk->CheckOrders();
        ASSERT_EQ(Int(buy, "EAID"), 3);
        ASSERT_EQ(Send(QUESTION, 3), buy);
        view.notifications.clear();
        const int first = c.lateFirst ? 901 : 903, second = c.lateFirst ? 903 : 901;
        Send(OPENED, buy, first);
        Send(OPENED, buy, second);
        Send(OPENED, buy, first); // repeated: nothing new
        EXPECT_EQ(Int(buy, "Ticket"), first);
        EXPECT_EQ(Int(buy, "Status"), stOpened);
        const std::string untracked =
            "UNTRACKED POSITION: MANUAL CLOSE REQUIRED: OrderNo=" + std::to_string(second) + " - Order " +
            std::to_string(buy) + " was handed to EA=1 and EA=3 and keeps OrderNo=" + std::to_string(first);
        EXPECT_EQ(std::count(view.notifications.begin(), view.notifications.end(), untracked), 1);
        EXPECT_EQ(view.notifications.size(), 3u);
    }
}

// EA 1 collects the buy leg, is silent for more than a minute, and reports its fill before the
// leg is handed to anyone else: the position is EA 1's, and the leg names it again.
TEST_F(Handshake, ALateReportOfALegTakenBackNamesItsEAAgain) {
    const int buy = Triggered();
    ASSERT_EQ(Send(QUESTION, 1), buy);
    clock.AdvanceSeconds(61);
    desk->TimerResetPendingTimer();
    ASSERT_EQ(Int(buy, "Status"), stToOpen);
    ASSERT_TRUE(Get(buy, "EAID").IsNull());
    Send(OPENED, buy, 77);
    EXPECT_EQ(Int(buy, "Status"), stOpened);
    EXPECT_EQ(Int(buy, "Ticket"), 77);
    EXPECT_EQ(Int(buy, "EAID"), 1);
    EXPECT_EQ(Int(buy, "Account"), 5001);
}

TEST_F(Handshake, ALegKeepsTheTicketsOfItsOneEA) {
    // Without a change of hands a new ticket replaces the old one, as the EA reports it.
    const int buy = Triggered();
    ASSERT_EQ(Send(QUESTION, 1), buy);
    Send(OPENED, buy, 11);
    Send(OPENED, buy, 12);
    EXPECT_EQ(Int(buy, "Ticket"), 12);
    EXPECT_EQ(view.notifications.size(), 2u);
}

// Which answers reach their EA only once the desk's changes are on disk: every answer the EA
// acts on, and none of those that tell it to do nothing, taken from the handlers themselves.
TEST_F(Handshake, OnlyAnswersAnEAActsOnWaitForTheDisk) {
    const int buy = Triggered();
    auto waits = [&](int32_t msg, int32_t wp, int32_t lp = 0) {
        TMessage m{msg, wp, lp, 0};
        desk->Dispatch(m);
        return Desk::AnswerWaitsForDisk(m);
    };
    EXPECT_FALSE(waits(QUESTION, 3)) << "EA 3 has no Pending leg";
    EXPECT_TRUE(waits(QUESTION, 1)) << "the buy leg is handed out";
    EXPECT_TRUE(waits(TYPE, buy));
    EXPECT_TRUE(waits(LOTS, buy));
    EXPECT_TRUE(waits(TRIGGER, buy));
    EXPECT_TRUE(waits(OPENED, buy, 9001));
    EXPECT_TRUE(waits(PRICE, buy, 123456));
    EXPECT_FALSE(waits(QUESTION, 1)) << "nothing Pending any more";
    EXPECT_FALSE(waits(EAMsg::OrderCloseQuestions, buy)) << "the leg is not in To Close";
    Set(buy, "Status", I(stToClose));
    Set(buy, "ForceClose", Variant(true));
    EXPECT_TRUE(waits(EAMsg::OrderCloseQuestions, buy)) << "a forced close goes at once";
    EXPECT_TRUE(waits(EAMsg::OrderClosed, buy, 9001));
    EXPECT_FALSE(waits(EAMsg::NewDataBid, 1, 123440));
    EXPECT_FALSE(waits(EAMsg::DataComplete, 1));
}

} // namespace
