// The opening engine against a short and a long order list (100 and 100,000 legs, of which 20
// wait "To Open" and the rest are "Closed"): one complete quote with its trigger test of the
// waiting legs, and an EA's work question with and without a Pending leg. The long list's
// figures should stay close to the short one's: the closed history is never walked.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/benchdesk.h"
#include "desk/core/desk.h"
#include "tests/support/tempdir.h"

namespace {
using namespace quorvel;

// The engine awake: "Standby", the modes, alerts and auto trade unticked.
class EngineControls : public bench::FrameControls {
public:
    std::string Text(Ctl c) const override {
        switch (c) {
        case Ctl::reAlert:
            return "-1,00000";
        case Ctl::seTimeOut:
            return "7";
        case Ctl::rePRIDynamic:
            return "0,0010";
        default:
            return "1";
        }
    }
};

using bench::NullView;

// A desk of three tables in a fresh temporary directory, its order list holding `legs` legs:
// ten waiting transactions of table 1 (EAs 11..20) with a target no quote here reaches, and
// closed legs of all three tables' EAs after them.
struct BenchDesk {
    EngineControls controls;
    NullView view;
    SystemClock clock;
    test::TempDir tmp;
    const std::string dir = tmp.Path().string();
    std::unique_ptr<Desk> desk;

    explicit BenchDesk(int legs) {
        const DeskPaths paths = DeskPaths::In(dir, dir);
        std::ofstream(paths.configIni, std::ios::binary) << "[Defaults]\r\nTables=3\r\n";
        desk = std::make_unique<Desk>(controls, view, clock, paths);
        desk->FormCreate();
        std::vector<BrokerItem> brokers;
        for (int id = 11; id <= 20; ++id) brokers.push_back({std::to_string(id), true});
        for (int k = 0; k < 10; ++k)
            desk->entry.OpenOrder(1, 0.1, 1, 3, -0.01, brokers, 1, -0.005, false, -0.0001, false);
        ClientDataSet& a = desk->orders.m_CDSAddNewOrder;
        for (int i = 20; i < legs; ++i) {
            a.Append();
            a.FieldByName("TableID").SetAsInteger(i % 3);
            a.FieldByName("Lots").SetAsFloat(0.1);
            a.FieldByName("OrderType").SetAsInteger(1 + i % 2);
            a.FieldByName("Spread").SetAsCurrency(-0.00019);
            a.FieldByName("Status").SetAsInteger(stClosed);
            for (int k = 1; k <= 10; ++k)
                a.FieldByName("ID" + std::to_string(k)).SetAsInteger((i % 3) * 10 + k);
            a.FieldByName("EAID").SetAsInteger(1 + i % 30);
            a.FieldByName("Ticket").SetAsInteger(10000000 + i);
            a.FieldByName("Account").SetAsInteger(5000000 + i % 30);
            a.FieldByName("Kurs").SetAsCurrency(1.08123);
            a.FieldByName("CloseBedingung").SetAsInteger(1);
            a.FieldByName("CloseSpread").SetAsCurrency(-0.00009);
            if (i % 2) a.FieldByName("FirstOrderID").SetAsInteger(i);
            a.Post();
        }
        // Every EA of the three tables quoting.
        for (int id = 1; id <= 30; ++id) Quote(id, 100000 + id, 100012 + id);
    }
    void Quote(int id, int32_t bid, int32_t ask) {
        TMessage b{EAMsg::NewDataBid, id, bid, 0}, s{EAMsg::NewDataAsk, id, ask, 0},
            c{EAMsg::DataComplete, id, 0, 0};
        desk->Dispatch(b);
        desk->Dispatch(s);
        desk->Dispatch(c);
        benchmark::DoNotOptimize(c.Result);
    }
};

// One complete quote of a table-1 EA: price store, cross spreads, and the trigger test of
// the twenty waiting legs (none reaches its target).
void BM_QuoteWithTrigger(benchmark::State& state) {
    BenchDesk b(static_cast<int>(state.range(0)));
    int id = 11;
    int32_t wobble = 0;
    for (auto _ : state) {
        wobble = (wobble + 7) % 23;
        b.Quote(id, 100000 + wobble, 100015 + wobble / 2);
        id = id == 20 ? 11 : id + 1;
    }
    if (b.desk->orders.GetOrderStatusByID(1) != stToOpen || b.view.stops)
        state.SkipWithError("a leg triggered");
    state.SetLabel(std::to_string(state.range(0)) + " legs");
}
BENCHMARK(BM_QuoteWithTrigger)->Arg(100)->Arg(100000);

// WM_APP+500 of an EA without work (EA 21, whose closed legs are in the list) and of an EA
// with one Pending leg (EA 11).
void BM_OrderQuestion(benchmark::State& state) {
    BenchDesk b(static_cast<int>(state.range(0)));
    const bool pending = state.range(1) != 0;
    ClientDataSet& ds = b.desk->orders.m_CDSOrderliste;
    if (pending) {
        ds.Locate("OrderID", Variant(int32_t{1}));
        ds.Edit();
        ds.FieldByName("Status").SetAsInteger(stPending);
        ds.FieldByName("EAID").SetAsInteger(11);
        ds.FieldByName("OpenAfterCounterOrder").SetAsBoolean(false);
        ds.Post();
    }
    const int ea = pending ? 11 : 21;
    const int32_t expected = pending ? 1 : -1;
    for (auto _ : state) {
        TMessage m{EAMsg::OrderQuestion, ea, 0, 0};
        b.desk->Dispatch(m);
        if (m.Result != expected) {
            state.SkipWithError("unexpected answer");
            break;
        }
        benchmark::DoNotOptimize(m.Result);
    }
    state.SetLabel(std::to_string(state.range(0)) + " legs, " + (pending ? "one Pending leg" : "no work"));
}
BENCHMARK(BM_OrderQuestion)->ArgsProduct({{100, 100000}, {0, 1}});

// A trading desk's order list: twenty tables of ten quoting EAs, 400 waiting transactions
// (twenty a table, 800 "To Open" legs) whose targets no quote here reaches, after a closed
// history of `history` legs.
struct FleetDesk {
    EngineControls controls;
    NullView view;
    SystemClock clock;
    std::string dir;
    std::unique_ptr<Desk> desk;

    explicit FleetDesk(int history) {
        char tmpl[] = "/tmp/opening_bench-XXXXXX";
        dir = mkdtemp(tmpl) ? tmpl : "/tmp";
        const DeskPaths paths = DeskPaths::In(dir, dir);
        std::ofstream(paths.configIni, std::ios::binary) << "[Defaults]\r\nTables=20\r\n";
        desk = std::make_unique<Desk>(controls, view, clock, paths);
        desk->FormCreate();
        ClientDataSet& a = desk->orders.m_CDSAddNewOrder;
        for (int i = 0; i < history; ++i) {
            a.Append();
            a.FieldByName("TableID").SetAsInteger(i % 20);
            a.FieldByName("OrderType").SetAsInteger(1 + i % 2);
            a.FieldByName("Status").SetAsInteger(stClosed);
            a.FieldByName("EAID").SetAsInteger(1 + i % 200);
            if (i % 2) a.FieldByName("FirstOrderID").SetAsInteger(i);
            a.Post();
        }
        for (int t = 0; t < 20; ++t) {
            std::vector<BrokerItem> brokers;
            for (int id = 10 * t + 1; id <= 10 * t + 10; ++id) brokers.push_back({std::to_string(id), true});
            for (int k = 0; k < 20; ++k)
                desk->entry.OpenOrder(t, 0.1, 1, 3, -0.01, brokers, 1, -0.005, false, -0.0001, false);
        }
        for (int id = 1; id <= 200; ++id) Quote(id, 100000 + id % 10, 100012 + id % 10);
    }
    ~FleetDesk() {
        desk.reset();
        std::filesystem::remove_all(dir);
    }
    void Quote(int id, int32_t bid, int32_t ask) {
        TMessage b{EAMsg::NewDataBid, id, bid, 0}, s{EAMsg::NewDataAsk, id, ask, 0},
            c{EAMsg::DataComplete, id, 0, 0};
        desk->Dispatch(b);
        desk->Dispatch(s);
        desk->Dispatch(c);
        benchmark::DoNotOptimize(c.Result);
    }
};

// One complete quote (bid, ask, data complete) of an EA picked at random among the 200, with
// 800 legs waiting: the time of each quote is taken, and its median, 99th percentile and
// maximum are shown beside the mean.
void BM_QuoteWith800Waiting(benchmark::State& state) {
    FleetDesk b(static_cast<int>(state.range(0)));
    std::mt19937 rng(7);
    std::vector<double> us;
    us.reserve(1 << 20);
    for (auto _ : state) {
        const int id = 1 + static_cast<int>(rng() % 200);
        const int32_t wobble = static_cast<int32_t>(rng() % 23);
        const auto t0 = std::chrono::steady_clock::now();
        b.Quote(id, 100000 + wobble, 100015 + wobble / 2);
        const auto t1 = std::chrono::steady_clock::now();
        if (us.size() < us.capacity())
            us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    // The first waiting leg comes after the history.
    if (b.desk->orders.GetOrderStatusByID(static_cast<int>(state.range(0)) + 1) != stToOpen || b.view.stops)
        state.SkipWithError("a leg triggered");
    std::sort(us.begin(), us.end());
    if (!us.empty()) {
        state.counters["p50_us"] = us[us.size() / 2];
        state.counters["p99_us"] = us[us.size() * 99 / 100];
        state.counters["max_us"] = us.back();
    }
    state.SetLabel(std::to_string(state.range(0)) + " closed legs, 800 waiting");
}
BENCHMARK(BM_QuoteWith800Waiting)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
