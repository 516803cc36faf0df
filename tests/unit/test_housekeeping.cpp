// The minute sweeps: stale Pending legs back to To Open, and one auto-trade credit per ended
// transaction.
#include <gtest/gtest.h>

#include <random>

#include "legsfixture.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

struct Housekeeping : LegsDesk {
    void SetUp() override {
        LegsDesk::SetUp();
        controls.checked[Ctl::chkbAddCanT] = true;
        controls.checked[Ctl::chkbAddCloT] = true;
        controls.text[Ctl::seMaxAutoTrades] = "0";
    }
    int Credits() const { return controls.SpinValue(Ctl::seMaxAutoTrades); }
    void Sweep() { desk->TimerResetPendingTimer(); }
    bool Marked(int32_t id) { return Get(id, "ATRaiseChecked").AsBoolean(); }

    // Both legs Pending since `seconds` ago, as the trigger leaves them.
    Tx PendingTransaction(double seconds, int32_t counterStatus = stPending) {
        LegSpec b;
        b.status = stPending;
        b.ea = 1;
        LegSpec s = b;
        s.type = otSell;
        s.ea = 2;
        s.status = counterStatus;
        const Tx tx = AddTransaction(b, s);
        for (int32_t id : {tx.buy, tx.sell}) {
            SetField(id, "PendingTime", Variant(Ago(seconds)));
            SetField(id, "TrigOpenKurs", Variant(1.2));
        }
        return tx;
    }
    // An ended transaction: its statuses and time stamps.
    Tx Ended(int32_t buyStatus, int32_t sellStatus, double pendingAgo, double buyCloseAgo = -1,
             double sellCloseAgo = -1) {
        LegSpec b;
        b.status = buyStatus;
        LegSpec s = b;
        s.type = otSell;
        s.ea = 2;
        s.status = sellStatus;
        const Tx tx = AddTransaction(b, s);
        for (int32_t id : {tx.buy, tx.sell}) SetField(id, "PendingTime", Variant(Ago(pendingAgo)));
        if (buyCloseAgo >= 0) SetField(tx.buy, "OrderCloseTime", Variant(Ago(buyCloseAgo)));
        if (sellCloseAgo >= 0) SetField(tx.sell, "OrderCloseTime", Variant(Ago(sellCloseAgo)));
        return tx;
    }
};

TEST_F(Housekeeping, PendingLegsGoBackAfterMoreThanSixtySeconds) {
    struct Case {
        double age;
        bool reset;
    };
    const Case cases[] = {{30, false}, {60, false}, {60.9, false}, {61, true}, {3600, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.age);
        const Tx tx = PendingTransaction(c.age);
        Sweep();
        for (int32_t id : {tx.buy, tx.sell}) {
            if (c.reset) {
                EXPECT_EQ(Status(id), stToOpen);
                for (const char* f : {"PendingTime", "EAID", "Account", "TrigOpenKurs"})
                    EXPECT_TRUE(Get(id, f).IsNull()) << f;
                EXPECT_FALSE(Get(id, "Ticket").IsNull()); // only those four are cleared
            } else {
                EXPECT_EQ(Status(id), stPending);
                EXPECT_FALSE(Get(id, "EAID").IsNull());
                EXPECT_FALSE(Get(id, "PendingTime").IsNull());
            }
        }
        // Reset legs are left alone by the next sweeps.
        SetField(tx.buy, "Status", Variant(static_cast<int32_t>(stCanceled)));
        SetField(tx.sell, "Status", Variant(static_cast<int32_t>(stCanceled)));
    }
    EXPECT_EQ(Credits(), 0); // cancelled long ago or with no PendingTime: no credit
}

TEST_F(Housekeeping, AHandedOutLegGoesBackOnlyOnceItsEAHasGoneSilent) {
    // Both legs Pending; EA 1 collects the buy leg. What EA 1 sends then, and how long ago.
    struct Case {
        const char* what;
        int32_t msg;      // 0: nothing after the hand-out
        bool aboutTheLeg; // WParam is the buy leg's OrderID, else EA 1
        double silence;   // seconds between EA 1's last message and the sweep
        bool back;
    };
    const Case cases[] = {
        {"nothing for 61 s", 0, false, 61, true},
        {"a quote 30 s ago", EAMsg::NewDataBid, false, 30, false},
        {"a question about the leg 59 s ago", EAMsg::GetOrderLots, true, 59, false},
        {"an order question 60 s ago", EAMsg::OrderQuestion, false, 60, false},
        {"a quote 60.001 s ago", EAMsg::DataComplete, false, 60.001, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Tx tx = PendingTransaction(0);
        ASSERT_EQ(Send(EAMsg::OrderQuestion, 1), tx.buy);
        clock.AdvanceSeconds(90 - c.silence);
        if (c.msg != 0) Send(c.msg, c.aboutTheLeg ? tx.buy : 1, 123450);
        Send(EAMsg::NewDataBid, 3, 123450); // another EA's talk counts for nothing
        clock.AdvanceSeconds(c.silence);
        Sweep();
        EXPECT_EQ(Status(tx.buy), c.back ? stToOpen : stPending);
        EXPECT_EQ(Get(tx.buy, "EAID").IsNull(), c.back);
        // The leg no EA collected goes back as before.
        EXPECT_EQ(Status(tx.sell), stToOpen);
        SetField(tx.buy, "Status", Variant(static_cast<int32_t>(stCanceled)));
        SetField(tx.sell, "Status", Variant(static_cast<int32_t>(stCanceled)));
    }
}

TEST_F(Housekeeping, ALocalTimeStepDoesNotSilenceAnEA) {
    const Tx tx = PendingTransaction(0);
    ASSERT_EQ(Send(EAMsg::OrderQuestion, 1), tx.buy);
    clock.AdvanceSeconds(30);
    Send(EAMsg::NewDataBid, 1, 123450);
    clock.StepSeconds(3600); // the local time jumps an hour ahead: EA 1 spoke 30 s ago
    Sweep();
    EXPECT_EQ(Status(tx.buy), stPending);
    EXPECT_EQ(Status(tx.sell), stToOpen);
}

TEST_F(Housekeeping, PendingLegStaysWhileItsCounterHasGoneFurtherOrIsMissing) {
    // The counter order opened already (a sequential opening waits for it): stays, however old.
    const Tx seq = PendingTransaction(7200, stOpened);
    // A one-sided transaction: the empty leg's status is -1.
    LegSpec real;
    real.status = stPending;
    LegSpec empty;
    empty.type = otNone;
    empty.status = stNoLeg;
    empty.ea = std::nullopt;
    const Tx oneSided = AddTransaction(real, empty);
    SetField(oneSided.buy, "PendingTime", Variant(Ago(7200)));
    // A leg without a counter order at all.
    LegSpec lone;
    lone.status = stPending;
    const int32_t loneID = AddLeg(lone);
    SetField(loneID, "PendingTime", Variant(Ago(7200)));
    // A Pending leg without a PendingTime is old: it goes back.
    const Tx noTime = PendingTransaction(0);
    SetField(noTime.buy, "PendingTime", Variant());
    SetField(noTime.sell, "PendingTime", Variant());
    Sweep();
    EXPECT_EQ(Status(seq.buy), stPending);
    EXPECT_EQ(Status(seq.sell), stOpened);
    EXPECT_EQ(Status(oneSided.buy), stPending);
    EXPECT_EQ(Status(oneSided.sell), stNoLeg);
    EXPECT_EQ(Status(loneID), stPending);
    EXPECT_EQ(Status(noTime.buy), stToOpen);
    EXPECT_EQ(Status(noTime.sell), stToOpen);
}

TEST_F(Housekeeping, EndedTransactionsGiveOneCreditEach) {
    struct Case {
        const char* what;
        int32_t buyStatus, sellStatus;
        double pendingAgo, buyCloseAgo, sellCloseAgo;
        int credits;
        bool buyMarked, sellMarked;
    };
    const Case cases[] = {
        // cancelled: timed from PendingTime, the second leg (met first) marked
        {"cancelled 120 s", stCanceled, stCanceled, 120, -1, -1, 1, false, true},
        {"cancelled 61 s", stCanceled, stCanceled, 61, -1, -1, 1, false, true},
        {"cancelled 299 s", stCanceled, stCanceled, 299, -1, -1, 1, false, true},
        {"cancelled 60 s", stCanceled, stCanceled, 60, -1, -1, 0, false, false},
        {"cancelled 300 s", stCanceled, stCanceled, 300, -1, -1, 0, false, false},
        {"cancelled, close stamps do not count", stCanceled, stCanceled, 1000, 90, 90, 0, false, false},
        // closed: timed from the OrderCloseTime of the marked leg
        {"closed 90 s", stClosed, stClosed, 1000, 90, 90, 1, false, true},
        {"second closed outside, first inside", stClosed, stClosed, 1000, 90, 400, 1, true, false},
        {"closed 300 s", stClosed, stClosed, 1000, 300, 300, 0, false, false},
        // closed and cancelled: one credit through the closed leg
        {"closed and cancelled", stClosed, stCanceled, 120, 90, -1, 1, true, false},
        {"cancelled and closed", stCanceled, stClosed, 120, -1, 90, 1, false, true},
        // the counter has not ended: nothing yet
        {"closed, counter opened", stClosed, stOpened, 1000, 90, -1, 0, false, false},
        {"cancelled, counter to close", stCanceled, stToClose, 120, -1, -1, 0, false, false},
        {"closed without close time", stClosed, stClosed, 90, -1, -1, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        controls.text[Ctl::seMaxAutoTrades] = "0";
        const Tx tx = Ended(c.buyStatus, c.sellStatus, c.pendingAgo, c.buyCloseAgo, c.sellCloseAgo);
        Sweep();
        EXPECT_EQ(Credits(), c.credits);
        EXPECT_EQ(Marked(tx.buy), c.buyMarked);
        EXPECT_EQ(Marked(tx.sell), c.sellMarked);
        // Once credited, later sweeps within the window give nothing more.
        if (c.credits > 0) {
            clock.AdvanceSeconds(30);
            Sweep();
            EXPECT_EQ(Credits(), c.credits);
        }
        // Out of the way of the next case.
        for (int32_t id : {tx.buy, tx.sell}) SetField(id, "ATRaiseChecked", Variant(true));
    }
}

TEST_F(Housekeeping, OneSidedTransactionCountsByItsRealLeg) {
    LegSpec real;
    real.status = stClosed;
    LegSpec empty;
    empty.type = otNone;
    empty.status = stNoLeg;
    empty.ea = std::nullopt;
    const Tx tx = AddTransaction(real, empty);
    SetField(tx.buy, "OrderCloseTime", Variant(Ago(90)));
    Sweep();
    EXPECT_EQ(Credits(), 1);
    EXPECT_TRUE(Marked(tx.buy));
    EXPECT_FALSE(Marked(tx.sell));
    Sweep();
    EXPECT_EQ(Credits(), 1);
}

TEST_F(Housekeeping, CreditSwitches) {
    struct Case {
        bool addCanT, addCloT;
        int credits;
        bool cancelledMarked, closedMarked;
    };
    const Case cases[] = {
        {true, true, 2, true, true},
        {false, true, 1, true, true},  // a cancelled transaction is marked without a credit
        {true, false, 1, true, false}, // closed ones are neither marked nor credited
        {false, false, 0, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.addCanT << c.addCloT);
        controls.text[Ctl::seMaxAutoTrades] = "0";
        controls.checked[Ctl::chkbAddCanT] = c.addCanT;
        controls.checked[Ctl::chkbAddCloT] = c.addCloT;
        const Tx cancelled = Ended(stCanceled, stCanceled, 120);
        const Tx closed = Ended(stClosed, stClosed, 1000, 90, 90);
        Sweep();
        EXPECT_EQ(Credits(), c.credits);
        EXPECT_EQ(Marked(cancelled.sell), c.cancelledMarked);
        EXPECT_EQ(Marked(closed.sell), c.closedMarked);
        // "AddCanT" ticked later: a cancelled transaction already marked gives nothing.
        controls.checked[Ctl::chkbAddCanT] = true;
        Sweep();
        EXPECT_EQ(Credits(), c.credits);
        for (const Tx& tx : {cancelled, closed})
            for (int32_t id : {tx.buy, tx.sell}) SetField(id, "ATRaiseChecked", Variant(true));
    }
}

TEST_F(Housekeeping, ManyTransactionsInOneSweepAndAHistoryOutsideTheWindow) {
    // Old history, never marked: no credit, whatever its status.
    for (int k = 0; k < 50; ++k) Ended(stClosed, stClosed, 9000, 8000 + k, 8000 + k);
    for (int k = 0; k < 50; ++k) Ended(stCanceled, stCanceled, 9000 + k);
    // Five ended in the window, in both kinds; one still pending; a stamp ahead of the clock
    // counts by its distance too.
    Ended(stCanceled, stCanceled, 100);
    Ended(stClosed, stCanceled, 100, 200);
    Ended(stClosed, stClosed, 1000, 70, 250);
    Ended(stCanceled, stCanceled, -120); // 120 s ahead
    Ended(stClosed, stClosed, 1000, 90, -90);
    const Tx pending = PendingTransaction(200);
    Sweep();
    EXPECT_EQ(Credits(), 5);
    EXPECT_EQ(Status(pending.buy), stToOpen);
    Sweep();
    EXPECT_EQ(Credits(), 5);
}

TEST_F(Housekeeping, AListOpenedAnewIsSweptToo) {
    const Tx first = Ended(stCanceled, stCanceled, 120);
    Sweep();
    EXPECT_EQ(Credits(), 1);
    const Tx second = Ended(stCanceled, stCanceled, 100);
    desk->orders.SaveOrderList();
    desk->orders.CloseOrderList();
    desk->orders.OpenOrderList();
    Sweep();
    EXPECT_EQ(Credits(), 2);
    EXPECT_TRUE(Marked(first.sell));
    EXPECT_TRUE(Marked(second.sell));
    // Legs appended after the reopening are found as well.
    Ended(stCanceled, stCanceled, 100);
    Sweep();
    EXPECT_EQ(Credits(), 3);
}

TEST_F(Housekeeping, LegsLeftBehindComeBackWhenEditedOrWhenTheClockGoesBack) {
    // Too old at the first sweep, then given a recent PendingTime by an edit.
    const Tx edited = Ended(stCanceled, stCanceled, 1000);
    // Too young at first; old enough two sweeps later.
    const Tx young = Ended(stClosed, stClosed, 1000, 20, 20);
    // In the window, but the clock runs ten minutes ahead for two sweeps and then is set back.
    const Tx later = Ended(stCanceled, stCanceled, 120);
    clock.AdvanceSeconds(600);
    Sweep();
    clock.AdvanceSeconds(-600);
    Sweep();
    EXPECT_EQ(Credits(), 1);
    EXPECT_TRUE(Marked(later.sell));
    for (int32_t id : {edited.buy, edited.sell}) SetField(id, "PendingTime", Variant(Ago(90)));
    Sweep();
    EXPECT_EQ(Credits(), 2);
    EXPECT_TRUE(Marked(edited.sell));
    clock.AdvanceSeconds(50);
    Sweep();
    EXPECT_EQ(Credits(), 3);
    EXPECT_TRUE(Marked(young.sell));
    // A deleted leg is passed over.
    const Tx gone = Ended(stCanceled, stCanceled, 100);
    ASSERT_TRUE(List().Locate("OrderID", Variant(gone.sell)));
    List().Delete();
    Sweep();
    EXPECT_EQ(Credits(), 4); // the buy leg alone: its counter is gone
    EXPECT_TRUE(Marked(gone.buy));
    EXPECT_TRUE(view.stopBoxes.empty());
}

TEST_F(Housekeeping, ResetATAfterCreditsWereGivenBack) {
    desk->settings.maxAutoTrades = 2;
    controls.checked[Ctl::cbAutoTrade] = false;
    Ended(stCanceled, stCanceled, 120);
    Ended(stClosed, stClosed, 1000, 90, 90);
    Ended(stClosed, stCanceled, 120, 90);
    Sweep();
    EXPECT_EQ(Credits(), 3);
    desk->orderControls.ResetAutoTrade();
    EXPECT_EQ(Credits(), 2);
    EXPECT_TRUE(controls.Checked(Ctl::cbAutoTrade));
}

// Runs the sweeps in steps as the window does; the number of steps.
int SweepInSteps(Desk& d) {
    int steps = 1;
    for (bool more = d.housekeeping.BeginSweeps(); more; more = d.housekeeping.SweepStep()) ++steps;
    return steps;
}

// A random list of transactions in every state the sweeps read, the same for a seed.
void FillRandomList(Housekeeping& h, unsigned seed, int transactions) {
    std::mt19937 rng(seed);
    auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const int32_t statuses[] = {stToOpen, stPending, stPending, stOpened, stClosed, stCanceled, stCanceled};
    for (int k = 0; k < transactions; ++k) {
        Housekeeping::LegSpec b;
        b.status = statuses[pick(7)];
        Housekeeping::LegSpec s = b;
        s.type = otSell;
        s.ea = 2;
        s.status = pick(3) ? b.status : statuses[pick(7)];
        if (pick(10) == 0) {
            s.type = otNone;
            s.status = stNoLeg;
        }
        const Housekeeping::Tx tx = h.AddTransaction(b, s);
        for (int32_t id : {tx.buy, tx.sell}) {
            if (pick(8)) h.SetField(id, "PendingTime", Variant(h.Ago(pick(400))));
            if (pick(2)) h.SetField(id, "OrderCloseTime", Variant(h.Ago(pick(400))));
            if (pick(12) == 0) h.SetField(id, "ATRaiseChecked", Variant(true));
        }
    }
}

// The sweeps in steps come out as the sweeps at once: the same legs back to To Open, the
// same legs marked, the same credits, over lists of several steps' worth of legs.
TEST_F(Housekeeping, InStepsTheSweepsComeOutAsAtOnce) {
    struct Case {
        unsigned seed;
        int transactions;
        bool addCanceled, addClosed;
    };
    const Case cases[] = {
        {1, 40, true, true}, {2, 300, true, true}, {3, 500, false, true}, {4, 500, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE("seed " + std::to_string(c.seed));
        struct Desk : Housekeeping {
            void TestBody() override {}
        } whole, steps;
        for (Housekeeping* h : {&whole, &steps}) {
            h->SetUp();
            h->controls.checked[Ctl::chkbAddCanT] = c.addCanceled;
            h->controls.checked[Ctl::chkbAddCloT] = c.addClosed;
            FillRandomList(*h, c.seed, c.transactions);
        }
        // Two minutes: the first sweep reads every leg, the second only those that may earn.
        for (int minute = 0; minute < 2; ++minute) {
            whole.Sweep();
            const int n = SweepInSteps(*steps.desk);
            if (c.transactions > OrderHousekeeping::kLegsPerStep) {
                EXPECT_GT(n, 2);
            }
            EXPECT_EQ(steps.List().SaveToString(), whole.List().SaveToString());
            EXPECT_EQ(steps.Credits(), whole.Credits());
            for (Housekeeping* h : {&whole, &steps}) h->clock.AdvanceSeconds(60);
        }
        EXPECT_GT(whole.Credits(), 0);
        EXPECT_FALSE(steps.desk->housekeeping.Sweeping());
    }
}

// Between steps EA messages change legs. Every step ends between two transactions, so no
// transaction is ever seen half swept; a leg that changes before its transaction's step is
// swept as it is then, one that changes after it is left as it was made.
TEST_F(Housekeeping, LegsChangedWhileTheSweepIsUnderWay) {
    std::vector<Tx> txs;
    for (int k = 0; k < 100; ++k) txs.push_back(PendingTransaction(90));
    // A Pending leg alone (it stays) comes first, so that a step's count of legs ends in the
    // middle of a transaction.
    LegSpec lone;
    lone.status = stPending;
    SetField(AddLeg(lone), "PendingTime", Variant(Ago(90)));
    // Newest first: the first step sweeps the newest transactions.
    ASSERT_TRUE(desk->housekeeping.BeginSweeps());
    auto swept = [&](const Tx& tx) { return Status(tx.buy) == stToOpen; };
    int steps = 1;
    bool changedAhead = false, changedBehind = false;
    const Tx& oldest = txs.front();
    do {
        for (size_t k = changedAhead ? 1 : 0; k < txs.size(); ++k)
            EXPECT_EQ(Status(txs[k].buy), Status(txs[k].sell)) << "half swept at step " << steps;
        if (!changedAhead) {
            // Ahead of the sweep: its buy leg was opened by its EA meanwhile.
            ASSERT_FALSE(swept(oldest));
            SetField(oldest.buy, "Status", Variant(static_cast<int32_t>(stOpened)));
            changedAhead = true;
        } else if (!changedBehind) {
            // Behind the sweep: made Pending again by a new trigger.
            ASSERT_TRUE(swept(txs.back()));
            for (int32_t id : {txs.back().buy, txs.back().sell}) {
                SetField(id, "Status", Variant(static_cast<int32_t>(stPending)));
                SetField(id, "PendingTime", Variant(Ago(0)));
            }
            changedBehind = true;
        }
        ++steps;
    } while (desk->housekeeping.SweepStep());
    EXPECT_GT(steps, 3);
    EXPECT_EQ(Status(oldest.buy), stOpened);
    EXPECT_EQ(Status(oldest.sell), stPending); // its counter order has gone further
    EXPECT_EQ(Status(txs.back().buy), stPending);
    EXPECT_EQ(Status(txs.back().sell), stPending);
    for (size_t k = 1; k + 1 < txs.size(); ++k) EXPECT_TRUE(swept(txs[k]));
}

// A sweep under way when the next tick comes runs to its end first; a list opened anew
// meanwhile leaves the rest of the sweep to the next tick.
TEST_F(Housekeeping, ASweepUnderWayAtTheNextTickOrAtAReopening) {
    std::vector<Tx> txs;
    for (int k = 0; k < 100; ++k) txs.push_back(PendingTransaction(90));
    ASSERT_TRUE(desk->housekeeping.BeginSweeps());
    Sweep(); // the next tick, at once
    for (const Tx& tx : txs) EXPECT_EQ(Status(tx.buy), stToOpen);
    EXPECT_FALSE(desk->housekeeping.Sweeping());

    for (const Tx& tx : txs)
        for (int32_t id : {tx.buy, tx.sell}) {
            SetField(id, "Status", Variant(static_cast<int32_t>(stPending)));
            SetField(id, "PendingTime", Variant(Ago(90)));
        }
    ASSERT_TRUE(desk->housekeeping.BeginSweeps());
    desk->orders.SaveOrderList();
    desk->orders.CloseOrderList();
    desk->orders.OpenOrderList();
    EXPECT_FALSE(desk->housekeeping.SweepStep());
    EXPECT_EQ(Status(txs.front().buy), stPending); // left to the next tick
    EXPECT_TRUE(view.stopBoxes.empty());
    Sweep();
    for (const Tx& tx : txs) EXPECT_EQ(Status(tx.buy), stToOpen);
}

TEST(SecondsApart, WholeSecondsOfTheDistance) {
    const TDateTime t = 46000.5;
    struct Case {
        double seconds;
        int64_t whole;
    };
    const Case cases[] = {{0, 0},   {0.999, 0}, {1, 1},       {59.9994, 59},
                          {60, 60}, {61, 61},   {299.9, 299}, {300, 300}};
    for (const Case& c : cases) {
        EXPECT_EQ(SecondsApart(t, t - c.seconds / 86400.0), c.whole) << c.seconds;
        EXPECT_EQ(SecondsApart(t - c.seconds / 86400.0, t), c.whole) << c.seconds;
    }
    EXPECT_GT(SecondsApart(t, 0.0), 300); // a null stamp is very old
}

} // namespace
