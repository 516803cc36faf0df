// What the order list's journal adds to a message that changes legs: taking the change (its
// record encoded into memory), the write of a batch (what the serving thread pays) and the commit
// (the write and its flush on disk), alone and for a batch of changes, on the temporary
// directory's disk.
#include <benchmark/benchmark.h>
#include <filesystem>
#include <unistd.h>

#include "desk/core/orderjournal.h"
#include "desk/core/orderlist.h"
#include "platform/clientdataset.h"
#include "tests/support/tempdir.h"

using namespace quorvel;

namespace {

struct JournalledList {
    test::TempDir tmp;
    const std::string dir = tmp.Path().string();
    ClientDataSet list{"list"};
    OrderJournal journal;
    explicit JournalledList(int legs) : journal(dir + "/Orderlist.journal") {
        list.CreateDataSet(OrderListFieldDefs(), IdxOrderIDDesc());
        for (int i = 0; i < legs; ++i) {
            list.Append();
            list.FieldByName("TableID").SetAsInteger(i % 20);
            list.FieldByName("Status").SetAsInteger(stToOpen);
            list.FieldByName("Lots").SetAsFloat(0.1);
            list.FieldByName("Spread").SetAsCurrency(-0.00002);
            list.Post();
        }
        std::vector<std::string> notes;
        journal.Open(list, ListFileId{}, notes);
        list.SetChangeListener([this](const RecordChange& c) { journal.Record(c); });
    }
    // A fill report's change: ticket, price, status and time of one leg.
    void ChangeLeg(int32_t id, int32_t ticket) {
        list.Locate("OrderID", Variant(id));
        list.Edit();
        list.FieldByName("Ticket").SetAsInteger(ticket);
        list.FieldByName("Kurs").SetAsCurrency(1.08123);
        list.FieldByName("Status").SetAsInteger(stOpened);
        list.FieldByName("OrderOpenTime").SetAsDateTime(45000.5 + ticket * 1e-6);
        list.Post();
    }
};

// The post of a changed leg with and without the journal taking it (no commit).
void BM_PostLegChange(benchmark::State& state) {
    JournalledList j(1000);
    if (state.range(0) == 0) j.list.SetChangeListener({});
    int32_t ticket = 1;
    for (auto _ : state) {
        j.ChangeLeg(1 + ticket % 1000, ticket);
        ++ticket;
        if (j.journal.Idle() == false && ticket % 4096 == 0) j.journal.Commit();
    }
    state.SetLabel(state.range(0) ? "journal takes it" : "no journal");
}

// One commit after `range` changed legs: what the batch's answers wait for.
void BM_CommitBatch(benchmark::State& state) {
    JournalledList j(1000);
    int32_t ticket = 1;
    for (auto _ : state) {
        state.PauseTiming();
        for (int64_t k = 0; k < state.range(0); ++k, ++ticket) j.ChangeLeg(1 + ticket % 1000, ticket);
        state.ResumeTiming();
        j.journal.Commit();
    }
}

// The write of a batch's changes without waiting for their flush: what the serving thread
// pays at the batch's end (the journal's thread flushes meanwhile).
void BM_WriteBatch(benchmark::State& state) {
    JournalledList j(1000);
    int32_t ticket = 1;
    for (auto _ : state) {
        state.PauseTiming();
        for (int64_t k = 0; k < state.range(0); ++k, ++ticket) j.ChangeLeg(1 + ticket % 1000, ticket);
        state.ResumeTiming();
        j.journal.Write();
    }
}

} // namespace

BENCHMARK(BM_WriteBatch)->Arg(1)->Arg(16)->Unit(benchmark::kMicrosecond)->Iterations(300);
BENCHMARK(BM_PostLegChange)->Arg(0)->Arg(1);
BENCHMARK(BM_CommitBatch)->Arg(1)->Arg(16)->Unit(benchmark::kMicrosecond)->Iterations(300);
BENCHMARK_MAIN();
