// What the main window's repaints cost the GUI thread while EAs quote. Ten EAs of table 0 (all
// ticked) quote in turn (bid, ask, data complete) with the page named by the benchmark in front:
// - BM_QuoteHeld: the handlers and the rest of their loop turn, the window's repaint held back
//   as it is while EA records wait (the cost an EA's message pays);
// - BM_QuotePainted: the same, then the repaint delivered at once after every quote (what a
//   quote costs when every one is painted);
// - BM_QuoteRepaint: the repaint alone.
// Pages: 0 the table tab, 1 the Watch tab, 2 the ADMIN PANEL. Runs on the offscreen platform
// unless QT_QPA_PLATFORM names another (xcb under Xvfb).
#include <QApplication>
#include <QListWidget>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>

#include "desk/uSkarlin.h"
#include "desk/windows/uFrmTable.h"
#include "platform/widgets/paintthrottle.h"
#include "qtbenchmain.h"
#include "tests/support/tempdir.h"

using namespace quorvel;

namespace {

struct Window {
    test::TempDir tmp;
    const std::filesystem::path& dir = tmp.Path();
    std::unique_ptr<TForm3> form;
    int k = 0;
    Window() {
        std::ofstream(dir / "config.ini", std::ios::binary)
            << "[Defaults]\r\nTables=2\r\nTimeout=30\r\nAlertLevel=-1\r\n";
        form = std::make_unique<TForm3>(DeskPaths::In(dir.string(), dir.string()), "");
        form->resize(1280, 1000);
        // Every broker of table 0 ticked: its quotes make cross spreads for the Watch row.
        QListWidget* brokers = form->GetFrameTable(0)->m_lbBrokerIDs1;
        for (int i = 0; i < brokers->count(); ++i) brokers->item(i)->setCheckState(Qt::Checked);
        form->show();
        QApplication::processEvents();
        form->Paints()->Flush();
    }
    void Show(int page) {
        QWidget* pages[] = {form->PageControl1->widget(0), form->m_tsWatch, form->TabSheet4};
        form->PageControl1->setCurrentWidget(pages[page]);
        QApplication::processEvents();
        form->Paints()->Flush();
    }
    // One EA's complete quote, the prices moving a little each time.
    void Quote() {
        const int ea = 1 + k % 10;
        const int32_t bid = 123450 + (k * 7) % 23;
        ++k;
        TMessage m{EAMsg::NewDataBid, ea, bid, 0};
        form->DeskCore().Dispatch(m);
        m = TMessage{EAMsg::NewDataAsk, ea, bid + 12, 0};
        form->DeskCore().Dispatch(m);
        m = TMessage{EAMsg::DataComplete, ea, 0, 0};
        form->DeskCore().Dispatch(m);
    }
};

std::unique_ptr<Window> g_window;

Window& TheWindow() {
    if (!g_window) g_window = std::make_unique<Window>();
    return *g_window;
}

struct RecordsWait {
    RecordsWait() {
        SetPaintsWaitWhile([] { return true; });
    }
    ~RecordsWait() { SetPaintsWaitWhile(nullptr); }
};

void BM_QuoteHeld(benchmark::State& state) {
    Window& w = TheWindow();
    w.Show(static_cast<int>(state.range(0)));
    RecordsWait wait;
    for (auto _ : state) {
        w.Quote();
        QApplication::processEvents();
    }
    w.form->Paints()->Flush();
}
BENCHMARK(BM_QuoteHeld)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void BM_QuotePainted(benchmark::State& state) {
    Window& w = TheWindow();
    w.Show(static_cast<int>(state.range(0)));
    RecordsWait wait;
    for (auto _ : state) {
        w.Quote();
        QApplication::processEvents();
        w.form->Paints()->Flush();
    }
}
BENCHMARK(BM_QuotePainted)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void BM_QuoteRepaint(benchmark::State& state) {
    Window& w = TheWindow();
    w.Show(static_cast<int>(state.range(0)));
    RecordsWait wait;
    for (auto _ : state) {
        state.PauseTiming();
        w.Quote();
        QApplication::processEvents();
        state.ResumeTiming();
        w.form->Paints()->Flush();
    }
}
BENCHMARK(BM_QuoteRepaint)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return quorvel::bench::RunWidgetBenchmarks(argc, argv, [] { g_window.reset(); });
}
