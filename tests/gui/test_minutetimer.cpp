// The main window's minute timer runs the two sweeps of the order list: a stale Pending
// transaction goes back to To Open, a cancelled one gives its credit back to "Max. AT".
#include <QApplication>
#include <QTimer>
#include <gtest/gtest.h>
#include <vector>

#include "desk/uSkarlin.h"
#include "tests/support/qt/loopuntil.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;
using quorvel::test::LoopUntil;

namespace {

// Two legs of one transaction in `status`, triggered `seconds` ago; returns the sell leg's OrderID.
int32_t AddTransaction(ClientDataSet& list, int32_t status, double seconds) {
    int32_t first = 0;
    for (int32_t type : {int32_t{otBuy}, int32_t{otSell}}) {
        list.Append();
        if (first > 0) list.FieldByName("FirstOrderID").SetAsInteger(first);
        list.FieldByName("TableID").SetAsInteger(0);
        list.FieldByName("OrderType").SetAsInteger(type);
        list.FieldByName("Status").SetAsInteger(status);
        list.FieldByName("EAID").SetAsInteger(type);
        list.FieldByName("PendingTime").SetAsDateTime(NowLocal() - seconds / 86400.0);
        list.Post();
        if (first == 0) first = list.FieldByName("OrderID").AsInteger();
    }
    return list.FieldByName("OrderID").AsInteger();
}

} // namespace

TEST(MinuteTimer, TheTickResetsStalePendingLegsAndGivesCreditsBack) {
    test::TempDir dir;
    TForm3 form(test::PathsIn(dir), "");
    EXPECT_EQ(form.TimerResetPending.interval(), 60000);
    EXPECT_TRUE(form.TimerResetPending.isActive());
    Desk& desk = form.DeskCore();
    ClientDataSet& list = desk.orders.m_CDSOrderliste;
    const int32_t pending = AddTransaction(list, stPending, 120);
    const int32_t cancelled = AddTransaction(list, stCanceled, 120);
    const int32_t credits = desk.Controls().SpinValue(Ctl::seMaxAutoTrades);
    ASSERT_TRUE(desk.Controls().Checked(Ctl::chkbAddCanT)); // the default

    form.TimerResetPending.setSingleShot(true);
    form.TimerResetPending.start(0);
    auto status = [&](int32_t id) { return list.Lookup("OrderID", Variant(id), "Status").AsInteger(); };
    // The credits come back in a later step of the same tick: wait for the tick to end.
    EXPECT_TRUE(LoopUntil([&] { return status(pending) == stToOpen && !desk.housekeeping.Sweeping(); }));
    EXPECT_EQ(desk.Controls().SpinValue(Ctl::seMaxAutoTrades), credits + 1);
    EXPECT_TRUE(list.Lookup("OrderID", Variant(cancelled), "ATRaiseChecked").AsBoolean());
}

// The sweeps of a long tick run in steps, one per pass of the loop: what else is queued runs
// while the sweep is under way, and the sweep still ends with every stale transaction back.
TEST(MinuteTimer, ALongSweepRunsInStepsAndTheLoopGoesOnBetweenThem) {
    test::TempDir dir;
    TForm3 form(test::PathsIn(dir), "");
    Desk& desk = form.DeskCore();
    ClientDataSet& list = desk.orders.m_CDSOrderliste;
    std::vector<int32_t> pending;
    for (int k = 0; k < 200; ++k) pending.push_back(AddTransaction(list, stPending, 120));
    auto status = [&](int32_t id) { return list.Lookup("OrderID", Variant(id), "Status").AsInteger(); };

    // Another handler of the loop, run at every pass: it finds the sweep under way.
    int passesMeanwhile = 0;
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&] { passesMeanwhile += desk.housekeeping.Sweeping(); });
    probe.start();
    form.TimerResetPending.setSingleShot(true);
    form.TimerResetPending.start(0);
    EXPECT_TRUE(
        LoopUntil([&] { return status(pending.front()) == stToOpen && !desk.housekeeping.Sweeping(); }));
    EXPECT_GT(passesMeanwhile, 2);
    for (int32_t id : pending) EXPECT_EQ(status(id), stToOpen);
    EXPECT_FALSE(form.m_sweepSteps.isActive());
}
