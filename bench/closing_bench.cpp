// Cost of one close question (WM_APP+507) through the desk core with 100 and with 100,000 legs
// in the order list: a leg in "Close Cond." whose close spread is not reached, and one whose
// close triggers (both legs to "To Close", the pair's window counted, the answer). Both legs
// are found by OrderID; the closed history around them must not make the question dearer.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "desk/core/desk.h"
#include "tests/support/fakes.h"
#include "tests/support/legs.h"
#include "tests/support/tempdir.h"

namespace {
using namespace quorvel;

class BenchControls : public IDeskControls {
public:
    std::string Text(Ctl c) const override {
        switch (c) {
        case Ctl::seSlippage:
            return "2";
        case Ctl::seTimeOut:
            return "7";
        default:
            return "1";
        }
    }
    // Nothing ticked (no Standby, no SeqMode, no DelMode) and no table frames.
    int ActiveTableIndex() const override { return 21; }
};

using test::NullView;

// A desk of 20 tables whose closing windows end at once, with `legs` legs in its list: `pool`
// transactions waiting in "Close Cond." first, then closed transactions as history.
struct ClosingBench {
    BenchControls controls;
    NullView view;
    ManualClock clock{45000.5};
    test::TempDir tmp;
    const std::string dir = tmp.Path().string();
    std::unique_ptr<Desk> desk;
    std::vector<int32_t> buyLegs;

    ClosingBench(int legs, int pool, double closeSpread) {
        const DeskPaths paths = DeskPaths::In(dir, dir);
        std::ofstream(paths.configIni, std::ios::binary) << "[Defaults]\r\nTables=20\r\nClosingPause=0\r\n";
        desk = std::make_unique<Desk>(controls, view, clock, paths);
        desk->FormCreate();
        // EA 1 buys at its bid 1.20000, EA 2 sells at its ask 1.19991: a close spread of -9 points.
        desk->prices.Bid[1] = 120000;
        desk->prices.Ask[1] = 120010;
        desk->prices.Bid[2] = 119985;
        desk->prices.Ask[2] = 119991;
        for (int i = 0; i < pool; ++i) buyLegs.push_back(AddTransaction(1, 2, stCloseCond, closeSpread));
        for (int i = 2 * pool; i + 1 < legs; i += 2)
            AddTransaction(1 + (i / 2) % 200, 1 + (i / 2 + 7) % 200, stClosed, -0.00009);
    }

    int32_t AddLeg(int32_t type, int32_t status, int32_t ea, int32_t first, double closeSpread) {
        ClientDataSet& d = desk->orders.m_CDSOrderliste;
        test::Leg leg;
        leg.table = (ea - 1) / 10;
        leg.type = type;
        leg.status = status;
        leg.ea = ea;
        leg.ticket = 1000000 + d.RecordCount();
        leg.firstOrderID = first;
        leg.closeBedingung = 1;
        leg.closeSpread = closeSpread;
        if (status == stClosed) {
            leg.closeKurs = 1.2001;
            leg.tcSpread = -0.00009;
            leg.gewinnPips = 0.0001;
            leg.gewinn = 1.0;
        }
        return test::AppendLeg(d, leg);
    }
    int32_t AddTransaction(int buyEA, int sellEA, int32_t status, double closeSpread) {
        const int32_t buy = AddLeg(otBuy, status, buyEA, 0, closeSpread);
        AddLeg(otSell, status, sellEA, buy, closeSpread);
        return buy;
    }
    // Both legs of the transaction back to "Close Cond.".
    void Reopen(int32_t buy) {
        ClientDataSet& d = desk->orders.m_CDSOrderliste;
        for (int32_t id : {buy, buy + 1}) {
            d.Locate("OrderID", Variant(id));
            d.Edit();
            d.FieldByName("Status").SetAsInteger(stCloseCond);
            d.Post();
        }
    }
};

void BM_CloseQuestionNotMet(benchmark::State& state) {
    // A close spread of -10 points: one point short of the quotes' -9.
    ClosingBench b(static_cast<int>(state.range(0)), 1, -0.0001);
    TMessage m{EAMsg::OrderCloseQuestions, b.buyLegs[0], 0, 0};
    for (auto _ : state) {
        b.desk->Dispatch(m);
        benchmark::DoNotOptimize(m.Result);
    }
    if (m.Result != 0) state.SkipWithError("the close triggered");
    state.counters["legs"] = b.desk->orders.m_CDSOrderliste.RecordCount();
}
BENCHMARK(BM_CloseQuestionNotMet)->Arg(100)->Arg(100000);

void BM_CloseQuestionTriggers(benchmark::State& state) {
    constexpr int kPool = 40;
    ClosingBench b(static_cast<int>(state.range(0)), kPool, -0.00009);
    size_t next = 0;
    int32_t result = 1;
    for (auto _ : state) {
        if (next == b.buyLegs.size()) {
            state.PauseTiming();
            for (int32_t id : b.buyLegs) b.Reopen(id);
            next = 0;
            state.ResumeTiming();
        }
        TMessage m{EAMsg::OrderCloseQuestions, b.buyLegs[next++], 0, 0};
        b.desk->Dispatch(m);
        result &= m.Result;
    }
    if (result != 1) state.SkipWithError("a close did not trigger");
    state.counters["legs"] = b.desk->orders.m_CDSOrderliste.RecordCount();
}
BENCHMARK(BM_CloseQuestionTriggers)->Arg(100)->Arg(100000);

} // namespace

BENCHMARK_MAIN();
