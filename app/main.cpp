// The program block: application object, title, the two windows in their order, the message
// loop, and the last-resort error box.
#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <exception>
#include <sys/socket.h>
#include <unistd.h>

#include "desk/uSkarlin.h"
#include "desk/windows/uMessageBox.h"
#include "platform/numbers.h"

using namespace quorvel;

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char c = 1;
    [[maybe_unused]] ssize_t n = write(g_signalPipe[1], &c, 1);
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
    if (QGuiApplication::platformName() != "offscreen")
        QMessageBox(QMessageBox::NoIcon, ApplicationTitle(), text).exec();
}

} // namespace

int ProgramMain(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    TForm3* form3 = nullptr;
    TMessageBox* messageBox = nullptr;
    int rc = 0;
    try {
        QApplication::setApplicationName("Skarlin");
        SetLocale(SystemLocaleFormat());

        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) == 0) {
            std::signal(SIGTERM, OnSignal);
            std::signal(SIGINT, OnSignal);
            std::signal(SIGHUP, OnSignal);
        }

        // config.ini beside the executable; the other state files in the current directory.
        const DeskPaths paths = DeskPaths::In(QCoreApplication::applicationDirPath().toStdString(), "");
        form3 = new TForm3(paths, LinkSocketPath());
        auto* sigNotifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, form3);
        QObject::connect(sigNotifier, &QSocketNotifier::activated, form3, [form3] {
            char buf[16];
            [[maybe_unused]] ssize_t n = read(g_signalPipe[0], buf, sizeof buf);
            form3->close(); // the ordinary way out, so the shut-down saves run
        });
        form3->showMaximized();
        messageBox = new TMessageBox(paths.notifications);
        rc = QApplication::exec(); // a quit asked for during creation ends it at once
    } catch (const std::exception& e) {
        ShowFatal(QString("Exception in Hauptprogramm: ") + QString::fromLocal8Bit(e.what()));
        rc = 1;
    }
    // The windows go in the reverse order of their creation.
    delete messageBox;
    delete form3;
    return rc;
}

int main(int argc, char** argv) {
    return ProgramMain(argc, argv);
}
