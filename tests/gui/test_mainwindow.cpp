#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "desk/uSkarlin.h"
#include "desk/windows/uFrmTable.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;

namespace {

TEST(MainWindow, PagesStandInTheirOrderWithTheirCaptions) {
    test::TempDir dir;
    TForm3 form(test::PathsIn(dir), "");
    EXPECT_EQ(form.windowTitle(), "Quorvel");
    ASSERT_EQ(form.PageControl1->count(), 24);
    for (int t = 0; t < 20; ++t) EXPECT_EQ(form.PageControl1->tabText(t), QString("Tab %1").arg(t));
    EXPECT_EQ(form.PageControl1->tabText(20), "Watch");
    EXPECT_EQ(form.PageControl1->tabText(21), "ADMIN PANEL");
    EXPECT_EQ(form.PageControl1->tabText(22), "Debug");
    EXPECT_EQ(form.PageControl1->tabText(23), "Spreadlog");
    EXPECT_EQ(form.PageControl1->widget(3)->objectName(), "TabSheet5");
    EXPECT_EQ(form.Button19->text(), "Popup");
    EXPECT_EQ(form.Button17->text(), "Reset Tabs");
    for (int t = 0; t < 20; ++t) EXPECT_NE(form.GetFrameTable(t), nullptr);
    EXPECT_EQ(form.GetFrameTable(20), nullptr);
    EXPECT_EQ(form.GetFrameTable(-1), nullptr);
}

TEST(MainWindow, FirstShowingRemovesUnusedTablesAndShowsTheAdminPanel) {
    test::TempDir dir;
    TForm3 form(test::PathsIn(dir), "");
    form.DeskCore().settings.m_iAnzahlTabellen = 3;
    form.show();
    ASSERT_EQ(form.PageControl1->count(), 7);
    EXPECT_EQ(form.PageControl1->tabText(2), "Tab 2");
    EXPECT_EQ(form.PageControl1->tabText(3), "Watch");
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet4);
    EXPECT_EQ(form.GetActiveTableIndex(), 4);
    EXPECT_FALSE(form.PageControl1->isTabVisible(5));
    EXPECT_FALSE(form.PageControl1->isTabVisible(6));
    EXPECT_NE(form.GetFrameTable(2), nullptr);
    EXPECT_EQ(form.GetFrameTable(3), nullptr);
    EXPECT_EQ(form.GetFrameTable(19), nullptr);
    EXPECT_FALSE(form.Button17->isVisible());
    form.PageControl1->setCurrentIndex(1);
    EXPECT_EQ(form.GetActiveFrame(), form.GetFrameTable(1));
}

TEST(MainWindow, TwentyTablesKeepEveryPage) {
    test::TempDir dir;
    TForm3 form(test::PathsIn(dir), "");
    form.DeskCore().settings.m_iAnzahlTabellen = 20;
    form.show();
    EXPECT_EQ(form.PageControl1->count(), 24);
}

QMessageBox* OpenBox() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
    return nullptr;
}

// The one-character box of WM_COPYDATA is modal; while it is open the desk goes on answering
// other EAs, and the EA that sent it gets 6 when the box is closed.
TEST(MainWindow, CopyDataBoxKeepsServingOtherEAs) {
    test::TempDir dir;
    const std::string path = dir.File("xdg/TForm3");
    TForm3 form(test::PathsIn(dir), path);
    form.DeskCore().settings.maxIDs = 10;

    std::atomic<int32_t> boxResult{-1};
    std::atomic<int> othersAnswered{0};
    std::atomic<bool> othersDone{false};
    std::thread boxEA([&] {
        LinkClient c;
        if (c.Connect(path)) boxResult = c.Send(EAMsg::NewDataCompanyName, 1, 65);
    });
    QString boxText;
    bool othersWhileOpen = false;
    std::thread otherEA;
    // Poll for the modal box; once it is up, let another EA talk, then close the box.
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QMessageBox* box = OpenBox();
        if (!box) return;
        if (!otherEA.joinable()) {
            boxText = box->text();
            otherEA = std::thread([&] {
                LinkClient c;
                if (!c.Connect(path)) return;
                for (int i = 0; i < 20; ++i)
                    if (c.Send(EAMsg::NewDataAsk, 2, 1000 + i) == 1) ++othersAnswered;
                othersDone = true;
            });
            return;
        }
        if (othersDone.load()) {
            othersWhileOpen = boxResult.load() == -1;
            box->accept();
        }
    });
    poll.start();
    QElapsedTimer clock;
    clock.start();
    while (boxResult.load() == -1 && clock.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    poll.stop();
    if (boxResult.load() == -1) {
        ADD_FAILURE() << "the box never closed; box seen: " << (OpenBox() != nullptr)
                      << " other started: " << otherEA.joinable() << " answered " << othersAnswered.load();
        if (QMessageBox* box = OpenBox()) box->accept();
        for (int i = 0; i < 100 && boxResult.load() == -1; ++i)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    boxEA.join();
    if (otherEA.joinable()) otherEA.join();
    EXPECT_EQ(boxText, "A");
    EXPECT_EQ(othersAnswered.load(), 20);
    EXPECT_TRUE(othersWhileOpen);
    EXPECT_EQ(boxResult.load(), 6);
    EXPECT_EQ(form.DeskCore().prices.Ask[2], 1019);
}

TEST(MainWindow, ScreenshotOfTheMainWindow) {
    test::TempDir dir;
    TForm3 form(test::PathsIn(dir), "");
    form.resize(1280, 800);
    form.show();
    EXPECT_TRUE(form.grab().save(QString(QUORVEL_SCREENSHOT_DIR) + "/main_window.png"));
}

} // namespace
