// Cost of one complete quote through the desk core: bid, ask and data-complete messages with
// the table's cross spread, pair minima, labels and (on screen) the EA's two grid rows. The
// window is replaced by null doubles; "allocs/quote" counts the heap allocations per quote.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>

#include "bench/benchdesk.h"
#include "bench/orderlist_fixture.h"
#include "desk/core/desk.h"

namespace {
std::atomic<long long> g_allocs{0};
}

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t n) {
    g_allocs.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {
using namespace quorvel;

class NullControls : public bench::FrameControls {
public:
    int activePage = 21;
    bool watch = false;
    std::string Text(Ctl c) const override {
        switch (c) {
        case Ctl::reAlert:
            return "-1,00000"; // below every cross spread here: no alert, no auto trade
        case Ctl::seTimeOut:
            return "7";
        default:
            return "1";
        }
    }
    bool Checked(Ctl) const override { return true; }
    int ActiveTableIndex() const override { return activePage; }
    bool WatchPageActive() const override { return watch; }
};

class NullView : public IDeskView {
public:
    long long cells = 0, chars = 0;
    int GridRowCount(Grid g, int) const override { return g == Grid::Watch ? 4 : 21; }
    void SetGridCell(Grid, int, int, int, std::string_view text) override {
        ++cells;
        chars += static_cast<long long>(text.size());
    }
    void SetFrameLabel(int, FrameLabel, std::string_view text) override {
        chars += static_cast<long long>(text.size());
    }
};

enum Screen { kOff = 0, kOn = 1, kWatch = 2 };

// State files in a fresh temporary directory, with a config.ini of three tables.
DeskPaths BenchPaths() {
    char tmpl[] = "/tmp/quote_bench-XXXXXX";
    const std::string dir = mkdtemp(tmpl) ? tmpl : "/tmp";
    DeskPaths p = DeskPaths::In(dir, dir);
    std::ofstream(p.configIni, std::ios::binary) << "[Defaults]\r\nTables=3\r\n";
    return p;
}
void RemoveBenchPaths(const DeskPaths& p) {
    std::filesystem::remove_all(std::filesystem::path(p.configIni).parent_path());
}

void BM_CompleteQuote(benchmark::State& state) {
    NullControls controls;
    NullView view;
    SystemClock systemClock;
    ManualClock manualClock(NowLocal());
    const bool system = state.range(1) != 0;
    const DeskPaths paths = BenchPaths();
    Desk desk(controls, view, system ? static_cast<const IClock&>(systemClock) : manualClock, paths);
    desk.FormCreate();
    const Screen screen = static_cast<Screen>(state.range(0));
    controls.activePage = screen == kOn ? 1 : screen == kWatch ? 3 : 21;
    controls.watch = screen == kWatch;
    desk.PageControl1Change();
    // Every EA of table 1 quoting.
    for (int id = 11; id <= 20; ++id) {
        TMessage b{EAMsg::NewDataBid, id, 100000 + id, 0}, a{EAMsg::NewDataAsk, id, 100012 + id, 0},
            c{EAMsg::DataComplete, id, 0, 0};
        desk.Dispatch(b);
        desk.Dispatch(a);
        desk.Dispatch(c);
    }
    int id = 11;
    int32_t wobble = 0;
    const long long allocsBefore = g_allocs.load();
    const long long cellsBefore = view.cells;
    for (auto _ : state) {
        wobble = (wobble + 7) % 23;
        TMessage b{EAMsg::NewDataBid, id, 100000 + wobble, 0},
            a{EAMsg::NewDataAsk, id, 100015 + wobble / 2, 0}, c{EAMsg::DataComplete, id, 0, 0};
        desk.Dispatch(b);
        desk.Dispatch(a);
        desk.Dispatch(c);
        benchmark::DoNotOptimize(c.Result);
        id = id == 20 ? 11 : id + 1;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["allocs/quote"] = static_cast<double>(g_allocs.load() - allocsBefore) / n;
    state.counters["cells/quote"] = static_cast<double>(view.cells - cellsBefore) / n;
    RemoveBenchPaths(paths);
    state.SetLabel(std::string(screen == kOn      ? "table on screen"
                               : screen == kWatch ? "Watch on screen"
                                                  : "table off screen") +
                   (system ? ", local-time clock" : ", fixed clock"));
}
BENCHMARK(BM_CompleteQuote)->ArgsProduct({{kOn, kOff, kWatch}, {1, 0}});

// The 3-second full pass of the visible table: 20 quote rows and 45 pair rows.
void BM_FullPass(benchmark::State& state) {
    NullControls controls;
    NullView view;
    SystemClock clock;
    const DeskPaths paths = BenchPaths();
    Desk desk(controls, view, clock, paths);
    desk.FormCreate();
    controls.activePage = 1;
    for (int id = 11; id <= 20; ++id) {
        TMessage b{EAMsg::NewDataBid, id, 100000 + id, 0}, a{EAMsg::NewDataAsk, id, 100012 + id, 0},
            c{EAMsg::DataComplete, id, 0, 0};
        desk.Dispatch(b);
        desk.Dispatch(a);
        desk.Dispatch(c);
    }
    for (auto _ : state) desk.UpdateTables(-1);
    RemoveBenchPaths(paths);
}
BENCHMARK(BM_FullPass);

// What a save of a long list costs the thread that answers the EAs: the auto-save's tick
// (the files' contents taken, the writer started; its writing is not timed), against the
// shut-down save that writes on that thread itself.
void SaveBench(benchmark::State& state, bool tick) {
    NullControls controls;
    NullView view;
    ManualClock clock(NowLocal());
    const DeskPaths paths = BenchPaths();
    {
        bench::List list(static_cast<int>(state.range(0)));
        list.engine.SaveToFile(paths.orderList);
    }
    Desk desk(controls, view, clock, paths);
    desk.FormCreate();
    for (auto _ : state) {
        if (!tick) {
            desk.files.SaveData();
            continue;
        }
        desk.files.AutoSave();
        state.PauseTiming();
        desk.files.FinishAutoSave(true);
        state.ResumeTiming();
    }
    RemoveBenchPaths(paths);
}
void BM_AutoSaveTick(benchmark::State& state) {
    SaveBench(state, true);
}
void BM_SaveDataOnDeskThread(benchmark::State& state) {
    SaveBench(state, false);
}
BENCHMARK(BM_AutoSaveTick)->Arg(100000)->Iterations(10)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaveDataOnDeskThread)->Arg(100000)->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
