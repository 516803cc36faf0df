// The program block: application object, title, the two windows in their order, the message
// loop, and the last-resort error box.
#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "desk/core/orderjournal.h"
#include "desk/uSkarlin.h"
#include "desk/windows/shutdownboxes.h"
#include "desk/windows/uMessageBox.h"
#include "platform/ealink.h"
#include "platform/numbers.h"
#include "platform/widgets/apptitle.h"

using namespace quorvel;

namespace {

int g_signalPipe[2] = {-1, -1};

// QUORVEL_STALLS=1: a 1 ms timer on the GUI thread notes how late each of its ticks comes, and
// the longest gap between two ticks from one second after the start (the longest time the
// loop did not come round) is printed at the end, with when the gaps over 5 ms ended. Each gap
// is split as the system's scheduler counted the thread's time: on a processor (the desk's own
// work), waiting for one (the machine busy with others), and the rest blocked (the disk, a lock,
// a page fault). The journal's flushes follow: how many, the longest, and those over 5 ms (what
// the answers that wait for the disk waited for). Off by default: it wakes the loop a thousand
// times a second.
class StallWatch {
public:
    StallWatch() {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Tick(); });
        m_schedStat = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    }
    ~StallWatch() {
        if (m_schedStat >= 0) close(m_schedStat);
    }
    StallWatch(const StallWatch&) = delete;
    StallWatch& operator=(const StallWatch&) = delete;
    void Start() {
        m_start = m_last = Clock::now();
        m_lastSched = ReadSched();
        m_timer.start(1);
    }
    void Report() const {
        std::fprintf(stderr,
                     "quorvel: longest gap between two 1 ms ticks of the loop from 1 s after the start: ");
        Print(m_longest);
        std::fprintf(stderr, ", ending at %.1f s; %ld over 5 ms", m_longest.at, m_over5);
        for (long k = 0; k < m_over5 && k < 8; ++k) {
            std::fprintf(stderr, "%s%.1f s: ", k ? "; " : " (at ", m_over[k].at);
            Print(m_over[k]);
        }
        std::fprintf(stderr, m_over5 ? ")\n" : "\n");
    }

private:
    using Clock = std::chrono::steady_clock;
    struct Sched {
        double onCpuMs = 0, waitingMs = 0; // -1: not known
    };
    struct Gap {
        double ms = 0, at = 0;
        Sched sched;
    };
    static void Print(const Gap& g) {
        std::fprintf(stderr, "%.2f ms", g.ms);
        if (g.sched.onCpuMs >= 0)
            std::fprintf(stderr, " (%.2f on a processor, %.2f waiting for one)", g.sched.onCpuMs,
                         g.sched.waitingMs);
    }
    Sched ReadSched() const {
        char buf[128];
        unsigned long long onCpu = 0, waiting = 0;
        const ssize_t n = m_schedStat < 0 ? -1 : pread(m_schedStat, buf, sizeof buf - 1, 0);
        if (n <= 0) return Sched{-1, -1};
        buf[n] = '\0';
        if (std::sscanf(buf, "%llu %llu", &onCpu, &waiting) != 2) return Sched{-1, -1};
        return Sched{static_cast<double>(onCpu) / 1e6, static_cast<double>(waiting) / 1e6};
    }
    void Tick() {
        const Clock::time_point now = Clock::now();
        const Sched sched = ReadSched();
        Gap g;
        g.ms = std::chrono::duration<double, std::milli>(now - m_last).count();
        g.at = std::chrono::duration<double>(now - m_start).count();
        if (sched.onCpuMs >= 0 && m_lastSched.onCpuMs >= 0)
            g.sched = Sched{sched.onCpuMs - m_lastSched.onCpuMs, sched.waitingMs - m_lastSched.waitingMs};
        else
            g.sched = Sched{-1, -1};
        m_last = now;
        m_lastSched = sched;
        if (g.at < 1.0) return; // the window's first showing
        if (g.ms > 5.0 && m_over5 < 8) m_over[m_over5] = g;
        if (g.ms > m_longest.ms) m_longest = g;
        if (g.ms > 5.0) ++m_over5;
    }
    QTimer m_timer;
    int m_schedStat = -1;
    Clock::time_point m_start, m_last;
    Sched m_lastSched;
    Gap m_longest, m_over[8];
    long m_over5 = 0;
};

// The exit code of a run that could not keep everything on disk.
constexpr int kExitDataAtRisk = 2;

void OnSignal(int) {
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] ssize_t n = write(g_signalPipe[1], &c, 1); // never blocks: a full pipe is enough
    errno = saved;
}

// SIGTERM, SIGINT and SIGHUP reach the loop through a socket pair, from before the main
// window's creation on: a start-up box's loop serves them as the main loop does. Interrupted
// system calls resume, so a signal never turns a read of a state file into a failed one.
std::unique_ptr<QSocketNotifier> WatchSignals() {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0) return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
    return notifier;
}

LocaleFormat SystemLocaleFormat() {
    const QLocale loc = QLocale::system();
    LocaleFormat f;
    const QString dp = loc.decimalPoint();
    f.decimalSeparator = dp.size() == 1 && dp[0].unicode() < 128 ? static_cast<char>(dp[0].unicode()) : ',';
    const QString tf = loc.timeFormat(QLocale::ShortFormat);
    for (QChar ch : tf) {
        if (!ch.isLetterOrNumber() && ch != ' ' && ch.unicode() < 128) {
            f.timeSeparator = static_cast<char>(ch.unicode());
            break;
        }
    }
    return f;
}

void ShowFatal(const QString& text) {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    if (!SignalShutDown() && QGuiApplication::platformName() != "offscreen")
        QMessageBox(QMessageBox::NoIcon, ApplicationTitle(), text).exec();
}

} // namespace

int ProgramMain(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    RaiseOpenFilesLimit(); // room for every EA; the link caps its connections well below it
    QApplication app(argc, argv);
    TForm3* form3 = nullptr;
    TMessageBox* messageBox = nullptr;
    TForm3* running = nullptr; // the main window once its creation is complete
    DeskPaths paths;           // set once the application is named
    int rc = 0;
    bool dataAtRisk = false; // told by the main window's destruction
    // A signal closes the open boxes and lets no other box wait. Once the main window exists it
    // is closed in the ordinary way, so the shut-down saves run; during its creation the program
    // block sees the shut-down when the creation returns.
    const std::unique_ptr<QSocketNotifier> signalWatch = WatchSignals();
    if (signalWatch) {
        QObject::connect(signalWatch.get(), &QSocketNotifier::activated, [&running] {
            char buf[64];
            while (read(g_signalPipe[0], buf, sizeof buf) > 0) {
            }
            BeginSignalShutDown();
            if (running)
                QMetaObject::invokeMethod(
                    running, [w = running] { w->close(); }, Qt::QueuedConnection);
        });
    }
    try {
        QApplication::setApplicationName("Skarlin");
        SetLocale(SystemLocaleFormat());

        // config.ini beside the executable; the other state files in the current directory.
        paths = DeskPaths::In(QCoreApplication::applicationDirPath().toStdString(), "");
        // QUORVEL_JOURNAL=0: no Orderlist.journal (a kill then loses what the last save lacks).
        if (const char* journal = std::getenv("QUORVEL_JOURNAL"); journal && std::string(journal) == "0")
            paths.orderJournal.clear();
        form3 = new TForm3(paths, LinkSocketPath());
        form3->SetDataAtRiskFlag(&dataAtRisk);
        if (SignalShutDown()) {
            // Ended during the creation: no showing and no loop, but the notifications window
            // takes what the closed boxes said, and the saves that are due run as at any end.
            messageBox = new TMessageBox(paths.notifications);
            DeliverReportedTexts();
        } else {
            running = form3;
            form3->showMaximized();
            messageBox = new TMessageBox(paths.notifications);
            std::unique_ptr<StallWatch> stalls;
            if (const char* s = std::getenv("QUORVEL_STALLS"); s && std::strcmp(s, "1") == 0) {
                stalls = std::make_unique<StallWatch>();
                stalls->Start();
            }
            rc = QApplication::exec(); // a quit asked for during creation ends it at once
            if (stalls) {
                stalls->Report();
                if (const OrderJournal* journal = form3->DeskCore().orders.Journal())
                    std::fprintf(
                        stderr, "quorvel: the journal's flushes: %llu, the longest %.2f ms, %llu over 5 ms\n",
                        static_cast<unsigned long long>(journal->Flushes()), journal->LongestFlushMs(),
                        static_cast<unsigned long long>(journal->SlowFlushes()));
            }
        }
    } catch (const std::exception& e) {
        ShowFatal(QString("Exception in Hauptprogramm: ") + QString::fromLocal8Bit(e.what()));
        rc = 1;
    }
    running = nullptr;
    // The windows go in the reverse order of their creation.
    delete messageBox;
    delete form3;
    // What a signal shut-down reported after the notifications window was gone.
    SaveReportedTexts(paths.notifications);
    // The journal could not be written, or the shut-down save failed: the run is not all on disk.
    if (dataAtRisk && rc == 0) rc = kExitDataAtRisk;
    return rc;
}

int main(int argc, char** argv) {
    return ProgramMain(argc, argv);
}
