// The order list at 100 and 100,000 legs: Orderlist.xml save and load, lookup by OrderID,
// locate by Ticket, append with its sum refresh.
#include <benchmark/benchmark.h>
#include <filesystem>
#include <memory>
#include <random>
#include <unistd.h>

#include "desk/core/orderlist.h"
#include "platform/clientdataset.h"

using namespace quorvel;

namespace {

// A list of closed transactions with every field a run writes.
struct List {
    ClientDataSet engine{"engine"};
    ClientDataSet append{"append"};
    Aggregate* sum = nullptr;
    explicit List(int legs) {
        engine.CreateDataSet(OrderListFieldDefs(), IdxOrderIDDesc());
        append.CloneCursor(engine, true);
        sum = &engine.AddAggregate("SumGewinn", "Sum(Gewinn)");
        sum->Active = true;
        engine.AggregatesActive = true;
        for (int i = 0; i < legs; ++i) AddLeg(i);
    }
    void AddLeg(int i) {
        ClientDataSet& a = append;
        const double t = 45000.0 + i / 1000.0;
        a.Append();
        a.FieldByName("TableID").SetAsInteger(i % 20);
        a.FieldByName("Lots").SetAsFloat(0.1 * (1 + i % 5));
        a.FieldByName("OrderType").SetAsInteger(1 + i % 2);
        a.FieldByName("Spread").SetAsCurrency(0.00012);
        a.FieldByName("Status").SetAsInteger(stClosed);
        for (int k = 1; k <= 10; ++k) a.FieldByName("ID" + std::to_string(k)).SetAsInteger(k % 3 ? k : -1);
        a.FieldByName("EAID").SetAsInteger(1 + i % 200);
        a.FieldByName("Zeitpunkt").SetAsDateTime(t);
        a.FieldByName("OrderOpenTime").SetAsDateTime(t + 0.0001);
        a.FieldByName("OrderCloseTime").SetAsDateTime(t + 0.01);
        a.FieldByName("Ticket").SetAsInteger(10000000 + i);
        a.FieldByName("Account").SetAsInteger(5000000 + i % 200);
        a.FieldByName("Kurs").SetAsCurrency(1.08123 + (i % 100) * 0.00001);
        a.FieldByName("CloseBedingung").SetAsInteger(1);
        a.FieldByName("CloseSpread").SetAsCurrency(0.00005);
        if (i % 2) a.FieldByName("FirstOrderID").SetAsInteger(i);
        a.FieldByName("CloseKurs").SetAsCurrency(1.08223);
        a.FieldByName("Gewinn").SetAsCurrency(-1.25 + (i % 7) * 0.5);
        a.FieldByName("TO_Spread").SetAsCurrency(0.00011);
        a.FieldByName("TC_Spread").SetAsCurrency(0.00004);
        a.FieldByName("GewinnPips").SetAsCurrency(0.00007);
        a.FieldByName("SlippageAusgleich").SetAsBoolean(false);
        a.FieldByName("MaxVerlust").SetAsCurrency(-0.0005);
        a.FieldByName("AutoClose").SetAsBoolean(true);
        a.Post();
    }
};

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
BENCHMARK(BM_LoadOrderList)->Arg(100)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookupByOrderID)->Arg(100)->Arg(100000);
BENCHMARK(BM_LocateByTicket)->Arg(100)->Arg(100000);
BENCHMARK(BM_AppendWithSum)->Arg(100)->Arg(100000);

BENCHMARK_MAIN();
