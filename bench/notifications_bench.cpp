// What a notification costs the GUI thread, with the notifications window on screen over a
// list of 0 and 500,000 lines:
// - BM_Notification: ShowNotification and the rest of its loop turn, the window's paint held
//   back as it is while EA records wait (the cost an EA's message pays);
// - BM_NotificationPainted: the same, then the window's paint delivered at once (what one
//   notification costs when every one is painted);
// - BM_NotificationWindowPaint: the paint alone, of a window whose newest line changed.
// Runs on the offscreen platform unless QT_QPA_PLATFORM names another (xcb under Xvfb).
#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>

#include "desk/windows/uMessageBox.h"
#include "platform/widgets/paintthrottle.h"
#include "qtbenchmain.h"
#include "tests/support/tempdir.h"

using namespace quorvel;

namespace {

// The window over a list of `lines` lines, shown.
struct Window {
    test::TempDir tmp;
    const std::filesystem::path& dir = tmp.Path();
    std::unique_ptr<TMessageBox> box;
    explicit Window(int lines) {
        const std::string path = (dir / "Notifications.txt").string();
        {
            std::ofstream out(path, std::ios::binary);
            for (int i = 0; i < lines; ++i)
                out << "07.12. 18:02:11,450: LONG-Position CLOSED: OrderNo=" << 10000000 + i
                    << " - Account=5000123 - EA=" << 1 + i % 200 << "\r\n";
        }
        box = std::make_unique<TMessageBox>(path);
        box->show();
        QApplication::processEvents();
        box->Paints()->Flush();
    }
    ~Window() { box.reset(); } // saves the list while its folder stands
};

// Built once per benchmark and size (the list grows by one line per iteration); gone before
// the application object.
std::map<std::pair<std::string, int>, std::unique_ptr<Window>> g_windows;

Window& WindowOf(const char* bench, const benchmark::State& state) {
    auto& w = g_windows[{bench, static_cast<int>(state.range(0))}];
    if (!w) w = std::make_unique<Window>(static_cast<int>(state.range(0)));
    return *w;
}

// Times the paint events of the widgets it watches (not for a scroll area's viewport, whose
// events go to the area first).
struct PaintTimer : QObject {
    std::map<QObject*, qint64> ns;
    bool inside = false;
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() != QEvent::Paint || inside) return false;
        inside = true;
        QElapsedTimer t;
        t.start();
        static_cast<QObject*>(watched)->event(e);
        ns[watched] += t.nsecsElapsed();
        inside = false;
        return true;
    }
};

// EA records wait while this lives: no paint is let through.
struct RecordsWait {
    RecordsWait() {
        SetPaintsWaitWhile([] { return true; });
    }
    ~RecordsWait() { SetPaintsWaitWhile(nullptr); }
};

const QString kText = "BUY-Order EXECUTED: OrderNo=12345678 - Account=5000123 - EA=17";

void BM_Notification(benchmark::State& state) {
    Window& w = WindowOf("BM_Notification", state);
    RecordsWait wait;
    for (auto _ : state) {
        ShowNotification(kText);
        QApplication::processEvents();
    }
    state.counters["lines"] = w.box->ListBox1->count();
    w.box->Paints()->Flush();
}
BENCHMARK(BM_Notification)->Arg(0)->Arg(500000)->Unit(benchmark::kMicrosecond);

void BM_NotificationPainted(benchmark::State& state) {
    Window& w = WindowOf("BM_NotificationPainted", state);
    RecordsWait wait;
    for (auto _ : state) {
        ShowNotification(kText);
        QApplication::processEvents();
        w.box->Paints()->Flush();
    }
    state.counters["lines"] = w.box->ListBox1->count();
}
BENCHMARK(BM_NotificationPainted)->Arg(0)->Arg(500000)->Unit(benchmark::kMicrosecond);

void BM_NotificationWindowPaint(benchmark::State& state) {
    Window& w = WindowOf("BM_NotificationWindowPaint", state);
    RecordsWait wait;
    PaintTimer timer; // the scroll bar's part
    QWidget* bar = w.box->ListBox1->verticalScrollBar();
    bar->installEventFilter(&timer);
    for (auto _ : state) {
        state.PauseTiming();
        ShowNotification(kText);
        QApplication::processEvents();
        state.ResumeTiming();
        w.box->Paints()->Flush();
    }
    state.counters["lines"] = w.box->ListBox1->count();
    const double n = static_cast<double>(state.iterations());
    state.counters["scrollbar_us"] = static_cast<double>(timer.ns[bar]) / 1000.0 / n;
}
BENCHMARK(BM_NotificationWindowPaint)->Arg(0)->Arg(500000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return quorvel::bench::RunWidgetBenchmarks(argc, argv, [] { g_windows.clear(); });
}
