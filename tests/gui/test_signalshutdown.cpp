// A shut-down that a signal started: open boxes close, no further box waits for a click, and
// their texts reach stderr and the notifications.
#include <QApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "desk/core/notifications.h"
#include "desk/uSkarlin.h"
#include "desk/windows/shutdownboxes.h"
#include "desk/windows/uMessageBox.h"
#include "platform/numbers.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

struct SignalShutDownTest : ::testing::Test {
    TempDir dir;
    std::string path = dir.File("Notifications.txt");
    void SetUp() override {
        SetLocale({',', ':'});
        EndSignalShutDownForTests();
    }
    void TearDown() override { EndSignalShutDownForTests(); }

    // Opens a box; `inside` runs from within its loop.
    static void OpenBox(const QString& text, std::function<void()> inside) {
        QMessageBox box(QMessageBox::Critical, "Skarlin", text, QMessageBox::Ok);
        QTimer::singleShot(0, &box, std::move(inside));
        ExecBox(box);
    }
    // Texts of the notifications window, newest first, without their time stamps.
    static std::vector<std::string> Notified() {
        std::vector<std::string> out;
        for (const std::string& line : MessageBox->List().Lines())
            out.push_back(line.substr(NotificationTimeStamp(0, ':').size()));
        return out;
    }
};

} // namespace

TEST_F(SignalShutDownTest, OpenBoxesCloseAndLaterBoxesDoNotWait) {
    TMessageBox notifications(path);
    ::testing::internal::CaptureStderr();
    // Two boxes, one inside the other, when the signal comes.
    bool innerReturned = false;
    OpenBox("outer box", [&] {
        OpenBox("inner box", [] { BeginSignalShutDown(); });
        innerReturned = true;
    });
    EXPECT_TRUE(innerReturned);
    EXPECT_TRUE(SignalShutDown());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // A box asked for now does not open: a box that opened would be found by this timer.
    bool opened = false;
    QTimer::singleShot(0, [&] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            opened = true;
            w->close();
        }
    });
    QMessageBox later(QMessageBox::Critical, "Skarlin", "In x kann nicht geschrieben werden.",
                      QMessageBox::Ok);
    ExecBox(later);
    QApplication::processEvents();
    EXPECT_FALSE(opened);

    const std::string err = ::testing::internal::GetCapturedStderr();
    for (const char* text : {"outer box", "inner box", "In x kann nicht geschrieben werden."})
        EXPECT_NE(err.find(std::string("Skarlin: ") + text + "\n"), std::string::npos) << text;
    std::vector<std::string> notified = Notified();
    ASSERT_EQ(notified.size(), 3u);
    EXPECT_EQ(notified[0], "In x kann nicht geschrieben werden.");
    std::sort(notified.begin() + 1, notified.end()); // the two closed boxes in either order
    EXPECT_EQ(notified[1], "inner box");
    EXPECT_EQ(notified[2], "outer box");
}

TEST_F(SignalShutDownTest, TextsWithoutANotificationsWindowWaitForItOrForTheFile) {
    ::testing::internal::CaptureStderr();
    BeginSignalShutDown();
    ReportWithoutBox("during the creation");
    {
        // The window that comes later takes what was kept.
        TMessageBox notifications(path);
        DeliverReportedTexts();
        EXPECT_EQ(Notified(), std::vector<std::string>{"during the creation"});
    }
    ReportWithoutBox("after the window");
    SaveReportedTexts(path); // added to what the window saved
    ::testing::internal::GetCapturedStderr();
    NotificationList file;
    file.Load(path);
    ASSERT_EQ(file.Lines().size(), 2u);
    EXPECT_NE(file.Lines()[0].find("after the window"), std::string::npos);
    EXPECT_NE(file.Lines()[1].find("during the creation"), std::string::npos);
    // Nothing kept: the file stays as it is.
    SaveReportedTexts(path);
    file.Load(path);
    EXPECT_EQ(file.Lines().size(), 2u);
}

TEST_F(SignalShutDownTest, WithoutASignalABoxWaitsForItsClick) {
    bool wasOpen = false;
    OpenBox("ordinary", [&] {
        QWidget* w = QApplication::activeModalWidget();
        wasOpen = w != nullptr;
        if (w) w->close();
    });
    EXPECT_TRUE(wasOpen);
    EXPECT_FALSE(SignalShutDown());
}

// The main window's stop box and plain box follow the same rule.
TEST_F(SignalShutDownTest, TheMainWindowsBoxesReportInstead) {
    TForm3 form(PathsIn(dir), "");
    TMessageBox notifications(path);
    form.DeskCore().settings.maxIDs = 10;
    BeginSignalShutDown();
    ::testing::internal::CaptureStderr();
    // A box that opened would be closed by this timer and recorded.
    bool opened = false;
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            opened = true;
            w->close();
        }
    });
    watch.start();
    form.DeskCore().Guarded([] { throw std::runtime_error("In config.ini kann nicht geschrieben werden"); });
    TMessage m{EAMsg::NewDataCompanyName, 1, 'Z', 0};
    form.DeskCore().Dispatch(m);
    EXPECT_EQ(m.Result, 6);
    QApplication::processEvents();
    watch.stop();
    EXPECT_FALSE(opened);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Skarlin: In config.ini kann nicht geschrieben werden.\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Skarlin: Z\n"), std::string::npos) << err;
    EXPECT_EQ(Notified(), (std::vector<std::string>{"Z", "In config.ini kann nicht geschrieben werden."}));
}
