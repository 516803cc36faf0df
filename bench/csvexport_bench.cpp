// The order grid's export of the list to a semicolon-separated file, at 100 and 100,000 legs:
// the display cursor with its 41 columns walked and written through a temporary file, the text
// streamed in pieces.
#include <benchmark/benchmark.h>
#include <filesystem>
#include <unistd.h>

#include "bench/orderlist_fixture.h"
#include "components/core/csvexport.h"
#include "desk/core/view.h"
#include "tests/support/fakes.h"
#include "tests/support/tempdir.h"

using namespace quorvel;

namespace {

// The desk's order list of `legs` closed legs, loaded from its file as at start-up.
struct ExportList {
    explicit ExportList(int legs) {
        bench::List(legs).engine.SaveToFile(dir + "/Orderlist.xml");
        book = std::make_unique<OrderList>(view, dir + "/Orderlist.xml");
        book->OpenOrderList();
        book->m_CDSOrderlisteAnzeige.SetRecNo(book->m_CDSOrderlisteAnzeige.RecordCount() / 2 + 1);
    }
    test::NullView view;
    test::TempDir tmp;
    const std::string dir = tmp.Path().string();
    std::unique_ptr<OrderList> book;
};

void BM_ExportCsvFile(benchmark::State& state) {
    ExportList list(static_cast<int>(state.range(0)));
    const std::string path = list.dir + "/export.csv";
    for (auto _ : state) ExportCsvFile(list.book->m_CDSOrderlisteAnzeige, path);
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
    state.counters["legs/s"] = benchmark::Counter(static_cast<double>(state.range(0)) * state.iterations(),
                                                  benchmark::Counter::kIsRate);
}

// The walk and the text alone, handed on in pieces that are dropped.
void BM_ExportCsvText(benchmark::State& state) {
    ExportList list(static_cast<int>(state.range(0)));
    size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        WriteCsv(list.book->m_CDSOrderlisteAnzeige,
                 [&bytes](std::string_view piece) { bytes += piece.size(); });
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}

} // namespace

BENCHMARK(BM_ExportCsvFile)->Arg(100)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportCsvText)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
