// The minute sweeps against a short and a long order list (100 and 100,000 legs, almost all
// Closed and already counted): ten young Pending transactions that stay, ten transactions that
// ended within the credit window and were counted, the rest closed long ago. The long list's
// figure should stay close to the short one's: only the Pending legs and the legs whose time
// stamp lies within the window are visited. For comparison, a plain walk over every leg, and
// the cost the sweep's time-ordered cursors add to an edit of a leg's PendingTime.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/benchdesk.h"
#include "desk/core/desk.h"
#include "tests/support/tempdir.h"

namespace {
using namespace quorvel;

class SweepControls : public bench::FrameControls {
public:
    std::map<Ctl, std::string> text;
    std::string Text(Ctl c) const override {
        auto it = text.find(c);
        return it == text.end() ? std::string("1") : it->second;
    }
    void SetText(Ctl c, const std::string& t) override { text[c] = t; }
    bool Checked(Ctl c) const override { return c == Ctl::chkbAddCanT || c == Ctl::chkbAddCloT; }
};

using bench::NullView;

constexpr TDateTime kNow = 46000.5;
constexpr double kSecond = 1.0 / 86400.0;

struct BenchDesk {
    SweepControls controls;
    NullView view;
    ManualClock clock{kNow};
    test::TempDir tmp;
    const std::string dir = tmp.Path().string();
    std::unique_ptr<Desk> desk;

    explicit BenchDesk(int legs, bool swept = true) {
        const DeskPaths paths = DeskPaths::In(dir, dir);
        std::ofstream(paths.configIni, std::ios::binary) << "[Defaults]\r\nTables=20\r\n";
        desk = std::make_unique<Desk>(controls, view, clock, paths);
        desk->FormCreate();
        controls.SetText(Ctl::seMaxAutoTrades, "0");
        // Closed long ago and counted, two legs a transaction.
        for (int i = 40; i < legs; i += 2) {
            const TDateTime t = kNow - 1.0 - (legs - i) * 60 * kSecond;
            AddTransaction(stClosed, t - 30 * kSecond, t, true);
        }
        // Ended within the window and counted (the first leg stays unmarked).
        for (int k = 0; k < 10; ++k)
            AddTransaction(stClosed, kNow - 200 * kSecond, kNow - (100 + k) * kSecond, true);
        // Pending for 30 seconds: they stay.
        for (int k = 0; k < 10; ++k) AddTransaction(stPending, kNow - 30 * kSecond, 0.0, false);
        if (swept) desk->TimerResetPendingTimer(); // the cursors of the sweep are in place from now on
    }
    void AddTransaction(int32_t status, TDateTime pending, TDateTime closed, bool counted) {
        ClientDataSet& a = desk->orders.m_CDSOrderliste;
        int32_t first = 0;
        for (int leg = 0; leg < 2; ++leg) {
            a.Append();
            a.FieldByName("TableID").SetAsInteger(0);
            a.FieldByName("OrderType").SetAsInteger(leg == 0 ? otBuy : otSell);
            a.FieldByName("Status").SetAsInteger(status);
            a.FieldByName("EAID").SetAsInteger(1 + leg);
            a.FieldByName("PendingTime").SetAsDateTime(pending);
            if (closed > 0) a.FieldByName("OrderCloseTime").SetAsDateTime(closed);
            if (leg == 1) {
                a.FieldByName("FirstOrderID").SetAsInteger(first);
                if (counted) a.FieldByName("ATRaiseChecked").SetAsBoolean(true);
            }
            a.Post();
            first = a.FieldByName("OrderID").AsInteger();
        }
    }
};

// One tick of the minute timer: ResetPendingStatus, then CheckAutoTradeRaise.
void BM_MinuteSweeps(benchmark::State& state) {
    BenchDesk b(static_cast<int>(state.range(0)));
    for (auto _ : state) b.desk->TimerResetPendingTimer();
    if (b.view.stops || b.controls.SpinValue(Ctl::seMaxAutoTrades) != 0)
        state.SkipWithError("the sweep changed");
}

// For comparison: one walk of the engine cursor over every leg, reading the mark.
void BM_WalkEveryLeg(benchmark::State& state) {
    BenchDesk b(static_cast<int>(state.range(0)));
    ClientDataSet& ds = b.desk->orders.m_CDSOrderliste;
    const Field& mark = ds.FieldByName("ATRaiseChecked");
    for (auto _ : state) {
        int n = 0;
        for (ds.First(); !ds.Eof(); ds.Next()) n += mark.AsBoolean();
        benchmark::DoNotOptimize(n);
    }
}

// A leg's PendingTime set and cleared again, as the trigger and the reset do, with the
// sweep's time-ordered cursors kept up to date.
// The second argument 0: before the first sweep, without those cursors.
void BM_EditPendingTime(benchmark::State& state) {
    BenchDesk b(static_cast<int>(state.range(0)), state.range(1) != 0);
    ClientDataSet& ds = b.desk->orders.m_CDSOrderliste;
    ds.First();
    for (auto _ : state) {
        ds.Edit();
        ds.FieldByName("PendingTime").SetAsDateTime(kNow);
        ds.Post();
        ds.Edit();
        ds.FieldByName("PendingTime").Clear();
        ds.Post();
    }
}

// The time this thread has run, in microseconds: a step's own work, without the time the
// shared machine gives to others meanwhile.
double ThreadMicros() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// The minute timer's sweeps as the window runs them, each step timed (wall clock and this
// thread's time): in steps when the sweeps offer them, else at once.
struct StepTimes {
    double longestWall = 0.0, longestCpu = 0.0;
    int steps = 0;
};
template <class H> StepTimes TimeSteps(H& h, Desk& desk) {
    using Clock = std::chrono::steady_clock;
    StepTimes out;
    auto step = [&out](auto&& run) {
        const auto w0 = Clock::now();
        const double c0 = ThreadMicros();
        const bool more = run();
        out.longestCpu = std::max(out.longestCpu, ThreadMicros() - c0);
        out.longestWall =
            std::max(out.longestWall, std::chrono::duration<double, std::micro>(Clock::now() - w0).count());
        ++out.steps;
        return more;
    };
    if constexpr (requires { h.BeginSweeps(); }) {
        for (bool more = step([&] { return h.BeginSweeps(); }); more;
             more = step([&] { return h.SweepStep(); })) {
        }
    } else {
        step([&] {
            desk.TimerResetPendingTimer();
            return false;
        });
    }
    return out;
}

// A minute tick at 100,000 legs with 800 legs waiting: 400 transactions Pending for 90 seconds
// that go back to To Open, ten ended within the credit window still to be counted. The
// second argument 1: the first tick after the list was opened, which reads every leg once.
// Shows the longest step (the longest the loop waits for the sweeps) by this thread's time
// and by the wall clock (the median over the ticks of each tick's longest), the steps, and
// the whole sweep's time.
void BM_SweepSteps(benchmark::State& state) {
    BenchDesk b(static_cast<int>(state.range(0)));
    const bool first = state.range(1) != 0;
    ClientDataSet& ds = b.desk->orders.m_CDSOrderliste;
    std::vector<int32_t> waiting;
    for (int k = 0; k < 400; ++k) {
        b.AddTransaction(stPending, kNow - 90 * kSecond, 0.0, false);
        waiting.push_back(ds.FieldByName("OrderID").AsInteger());
    }
    double longestCpu = 0.0, total = 0.0;
    std::vector<double> longestWall;
    int steps = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // The waiting transactions Pending again, ten more ended within the window.
        for (int32_t id : waiting)
            for (int32_t leg : {id - 1, id}) {
                ds.Locate("OrderID", Variant(leg));
                ds.Edit();
                ds.FieldByName("Status").SetAsInteger(stPending);
                ds.FieldByName("PendingTime").SetAsDateTime(kNow - 90 * kSecond);
                ds.Post();
            }
        for (int k = 0; k < 10; ++k)
            b.AddTransaction(stClosed, kNow - 200 * kSecond, kNow - 100 * kSecond, false);
        if (first) ds.Refresh(); // as after opening: the credit sweep reads every leg
        state.ResumeTiming();
        const auto t0 = std::chrono::steady_clock::now();
        const StepTimes t = TimeSteps(b.desk->housekeeping, *b.desk);
        total += std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
        longestCpu = std::max(longestCpu, t.longestCpu);
        longestWall.push_back(t.longestWall);
        steps = t.steps;
    }
    if (b.view.stops || b.desk->orders.GetOrderStatusByID(waiting.front()) != stToOpen)
        state.SkipWithError("the sweep did not reset the waiting legs");
    std::sort(longestWall.begin(), longestWall.end());
    state.counters["longest_step_cpu_us"] = longestCpu;
    state.counters["longest_step_wall_p50_us"] = longestWall[longestWall.size() / 2];
    state.counters["steps"] = steps;
    state.counters["sweep_us"] = total / static_cast<double>(state.iterations());
}

} // namespace

BENCHMARK(BM_SweepSteps)->Args({100000, 0})->Args({100000, 1})->Unit(benchmark::kMicrosecond)->Iterations(20);
BENCHMARK(BM_MinuteSweeps)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WalkEveryLeg)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EditPendingTime)
    ->Args({100, 1})
    ->Args({100000, 1})
    ->Args({100, 0})
    ->Args({100000, 0})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
