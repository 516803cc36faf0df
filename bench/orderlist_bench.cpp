// The order list at 100 and 100,000 legs: Orderlist.xml save and load, lookup by OrderID,
// locate by Ticket, append with its sum refresh.
#include <benchmark/benchmark.h>
#include <filesystem>
#include <memory>
#include <random>
#include <unistd.h>

#include "bench/orderlist_fixture.h"

using namespace quorvel;
using quorvel::bench::List;

namespace {

std::string BenchFile() {
    static const std::string dir = [] {
        std::string d = (std::filesystem::temp_directory_path() / "quorvel-bench-XXXXXX").string();
        if (!mkdtemp(d.data())) std::abort();
        return d;
    }();
    return dir + "/Orderlist.xml";
}

void BM_SaveOrderList(benchmark::State& state) {
    List list(static_cast<int>(state.range(0)));
    const std::string path = BenchFile();
    for (auto _ : state) list.engine.SaveToFile(path);
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
}

// The packet text alone, without the file.
void BM_SavePacketText(benchmark::State& state) {
    List list(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(list.engine.SaveToString());
}

// What the auto-save costs the thread that answers the EAs: taking the list's snapshot and
// dropping it after the write.
void BM_TakeSnapshot(benchmark::State& state) {
    List list(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto snap = list.engine.Snapshot();
        benchmark::DoNotOptimize(snap->RecordCount());
    }
}

// The auto-save's write on its own thread: the packet from a snapshot, to the file.
void BM_SaveFromSnapshot(benchmark::State& state) {
    List list(static_cast<int>(state.range(0)));
    const std::string path = BenchFile();
    auto snap = list.engine.Snapshot();
    for (auto _ : state) snap->SaveToFile(path);
}

// An edit while a snapshot is held: the row's former values are kept for the snapshot first.
void BM_EditWhileSnapshotHeld(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    List list(n);
    auto snap = list.engine.Snapshot();
    int i = 0;
    for (auto _ : state) {
        list.append.SetRecNo(1 + i++ % n);
        list.append.Edit();
        list.append.FieldByName("Status").SetAsInteger(i % 2 ? stOpened : stClosed);
        list.append.Post();
    }
}

void BM_LoadOrderList(benchmark::State& state) {
    const std::string path = BenchFile();
    {
        List list(static_cast<int>(state.range(0)));
        list.engine.SaveToFile(path);
    }
    ClientDataSet engine("engine");
    for (const std::string& n : EngineCursorFields()) {
        for (const FieldDef& d : OrderListFieldDefs())
            if (d.name == n) engine.AddField(n, d.type);
    }
    for (auto _ : state) {
        engine.LoadFromFile(path, IdxOrderIDDesc());
        benchmark::DoNotOptimize(engine.RecordCount());
    }
}

void BM_LookupByOrderID(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    List list(n);
    std::mt19937 rng(1);
    for (auto _ : state) {
        const int id = 1 + static_cast<int>(rng() % static_cast<unsigned>(n));
        benchmark::DoNotOptimize(list.engine.Lookup("OrderID", Variant(id), "Status"));
    }
}

void BM_LocateByTicket(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    List list(n);
    std::mt19937 rng(2);
    for (auto _ : state) {
        const int ticket = 10000000 + static_cast<int>(rng() % static_cast<unsigned>(n));
        benchmark::DoNotOptimize(list.engine.Locate("Ticket", Variant(ticket)));
    }
}

void BM_AppendWithSum(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    List list(n);
    int i = n;
    for (auto _ : state) {
        list.AddLeg(i++);
        benchmark::DoNotOptimize(list.sum->Value());
    }
}

} // namespace

BENCHMARK(BM_SaveOrderList)->Arg(100)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SavePacketText)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TakeSnapshot)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaveFromSnapshot)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EditWhileSnapshotHeld)->Arg(100000);
BENCHMARK(BM_LoadOrderList)->Arg(100)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookupByOrderID)->Arg(100)->Arg(100000);
BENCHMARK(BM_LocateByTicket)->Arg(100)->Arg(100000);
BENCHMARK(BM_AppendWithSum)->Arg(100)->Arg(100000);

BENCHMARK_MAIN();
