// The order grid on screen while the list changes: the cost of one posted edit of a visible
// leg (the model's signal, the sums and the repaint it causes) at 100 and 100,000 legs, and
// what a scroll from the first to the last row draws. Counters tell how many cells a post
// repaints and whether anything reset the model.
#include <QApplication>
#include <QScrollBar>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <unistd.h>

#include "desk/core/orderlist.h"
#include "desk/uSkarlin.h"
#include "platform/widgets/paintthrottle.h"
#include "qtbenchmain.h"

using namespace quorvel;

namespace {

void WriteList(const std::string& path, int legs) {
    ClientDataSet a("a");
    a.CreateDataSet(OrderListFieldDefs(), IdxOrderIDDesc());
    for (int i = 0; i < legs; ++i) {
        const double t = 45000.0 + i / 100000.0;
        a.Append();
        a.FieldByName("TableID").SetAsInteger(i % 20);
        a.FieldByName("Lots").SetAsFloat(0.1 * (1 + i % 5));
        a.FieldByName("OrderType").SetAsInteger(1 + i % 2);
        a.FieldByName("Spread").SetAsCurrency(0.00012);
        a.FieldByName("Status").SetAsInteger(i % 7);
        a.FieldByName("EAID").SetAsInteger(1 + i % 200);
        a.FieldByName("Zeitpunkt").SetAsDateTime(t);
        a.FieldByName("OrderOpenTime").SetAsDateTime(t + 0.0001);
        a.FieldByName("Ticket").SetAsInteger(10000000 + i);
        a.FieldByName("Account").SetAsInteger(5000000 + i % 200);
        a.FieldByName("Kurs").SetAsCurrency(1.08123 + (i % 100) * 0.00001);
        if (i % 2) a.FieldByName("FirstOrderID").SetAsInteger(i);
        a.FieldByName("Gewinn").SetAsCurrency(-1.25 + (i % 7) * 0.5);
        a.FieldByName("GewinnPips").SetAsCurrency(0.00007);
        a.FieldByName("SlippageAusgleich").SetAsBoolean(false);
        a.FieldByName("MaxVerlust").SetAsCurrency(-0.0005);
        a.FieldByName("AutoClose").SetAsBoolean(i % 3 == 0);
        for (const char* b :
             {"OpenAfterCounterOrder", "CloseAfterCounterOrder", "ForceClose", "ATRaiseChecked"})
            a.FieldByName(b).SetAsBoolean(false);
        a.Post();
    }
    a.SaveToFile(path);
}

// The main window with the ADMIN PANEL on screen over a list of `legs` legs.
struct Desk {
    std::filesystem::path dir;
    std::unique_ptr<TForm3> form;
    long cells = 0;  // cells drawn
    long resets = 0; // model resets
    explicit Desk(int legs) {
        char tmpl[] = "/tmp/quorvel-gridbench-XXXXXX";
        dir = mkdtemp(tmpl);
        WriteList((dir / "Orderlist.xml").string(), legs);
        form = std::make_unique<TForm3>(DeskPaths::In(dir.string(), dir.string()), "");
        form->resize(1280, 800);
        form->show();
        form->PageControl1->setCurrentWidget(form->TabSheet4);
        form->DBSortGrid1->OnDrawColumnCell = [this](TDBSortGrid&, const QRect&, int, Field*,
                                                     TGridDrawState) { ++cells; };
        QObject::connect(form->DBSortGrid1->model(), &QAbstractItemModel::modelReset, [this] { ++resets; });
        QApplication::processEvents();
        form->Paints()->Flush();
    }
    ~Desk() {
        form.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

// Built once per size; gone before the application object.
std::map<int, std::unique_ptr<Desk>> g_desks;

Desk& DeskOf(int legs) {
    auto& d = g_desks[legs];
    if (!d) d = std::make_unique<Desk>(legs);
    return *d;
}

// One EA's edit of a leg that is on screen (the first row), posted through the engine
// cursor, then the repaint it causes.
void PostVisible(benchmark::State& state, bool changeSums) {
    Desk& d = DeskOf(static_cast<int>(state.range(0)));
    TDBSortGrid& grid = *d.form->DBSortGrid1;
    grid.verticalScrollBar()->setValue(0);
    QApplication::processEvents();
    d.form->Paints()->Flush();
    ClientDataSet& e = d.form->DeskCore().orders.m_CDSOrderliste;
    const long cells0 = d.cells, resets0 = d.resets;
    int k = 0;
    for (auto _ : state) {
        e.Locate("OrderID", Variant(int32_t{1}));
        e.Edit();
        ++k;
        if (changeSums) e.FieldByName("Gewinn").SetAsCurrency((k % 2) ? 1.5 : -1.5);
        e.FieldByName("Status").SetAsInteger(k % 7);
        e.Post();
        QApplication::processEvents();
        d.form->Paints()->Flush(); // the repaint, at once
    }
    state.counters["cells_per_post"] =
        benchmark::Counter(static_cast<double>(d.cells - cells0) / static_cast<double>(state.iterations()));
    state.counters["model_resets"] = static_cast<double>(d.resets - resets0);
}
// The profit changes too: the sum labels change their texts and colours.
void BM_GridPostOfAVisibleLeg(benchmark::State& state) {
    PostVisible(state, true);
}
BENCHMARK(BM_GridPostOfAVisibleLeg)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);
// Only the status changes: the sums stay.
void BM_GridPostOfAVisibleLegSumsUnchanged(benchmark::State& state) {
    PostVisible(state, false);
}
BENCHMARK(BM_GridPostOfAVisibleLegSumsUnchanged)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);

// The same edit of a leg that is off screen: no repaint of rows at all.
void BM_GridPostOfAHiddenLeg(benchmark::State& state) {
    Desk& d = DeskOf(static_cast<int>(state.range(0)));
    d.form->DBSortGrid1->verticalScrollBar()->setValue(0);
    QApplication::processEvents();
    d.form->Paints()->Flush();
    ClientDataSet& e = d.form->DeskCore().orders.m_CDSOrderliste;
    const int32_t id = static_cast<int32_t>(state.range(0)); // the newest leg, at the bottom
    const long cells0 = d.cells;
    int k = 0;
    for (auto _ : state) {
        e.Locate("OrderID", Variant(id));
        e.Edit();
        e.FieldByName("Status").SetAsInteger(++k % 7);
        e.Post();
        QApplication::processEvents();
        d.form->Paints()->Flush();
    }
    state.counters["cells_per_post"] =
        benchmark::Counter(static_cast<double>(d.cells - cells0) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_GridPostOfAHiddenLeg)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);

// From the first row to the last and back: each jump draws one screen of rows.
void BM_GridScrollFirstToLast(benchmark::State& state) {
    Desk& d = DeskOf(static_cast<int>(state.range(0)));
    TDBSortGrid& grid = *d.form->DBSortGrid1;
    const long cells0 = d.cells;
    for (auto _ : state) {
        grid.scrollToBottom();
        QApplication::processEvents();
        d.form->Paints()->Flush();
        grid.scrollToTop();
        QApplication::processEvents();
        d.form->Paints()->Flush();
    }
    state.counters["cells_per_scroll"] = benchmark::Counter(static_cast<double>(d.cells - cells0) /
                                                            (2.0 * static_cast<double>(state.iterations())));
    state.counters["rows"] = d.form->DBSortGrid1->model()->rowCount();
}
BENCHMARK(BM_GridScrollFirstToLast)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return quorvel::bench::RunWidgetBenchmarks(argc, argv, [] { g_desks.clear(); });
}
