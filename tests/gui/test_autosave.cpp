// The auto-save tick of the main window: the files are written on another thread, the end
// comes back through the loop, and a failure is shown in the stop box there.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>

#include "desk/uSkarlin.h"
#include "desk/windows/uMessageBox.h"
#include "platform/files.h"
#include "tests/support/qt/loopuntil.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;
using quorvel::test::LoopUntil;

namespace {

QMessageBox* OpenStopBox() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
    return nullptr;
}

void Tick(TForm3& form) {
    form.m_TimerAutoSave.setSingleShot(true);
    form.m_TimerAutoSave.start(0);
}

} // namespace

TEST(AutoSaveWindow, TheTickWritesElsewhereAndReportsThroughTheLoop) {
    test::TempDir dir;
    const DeskPaths paths = test::PathsIn(dir);
    TForm3 form(paths, "");
    auto* box = new TMessageBox(paths.notifications);
    ShowNotification("kept by the auto-save");
    box->hide();
    // Something that cannot be replaced stands under the list's name.
    std::filesystem::create_directories(paths.orderList + "/keep");

    // Close the stop box the failed save opens, noting its text.
    QString stopText;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QMessageBox* b = OpenStopBox()) {
            stopText = b->text();
            b->accept();
        }
    });
    poll.start();
    Tick(form);
    EXPECT_TRUE(LoopUntil([&] { return !stopText.isEmpty(); })) << "no stop box";
    EXPECT_TRUE(stopText.contains(QString::fromStdString(paths.orderList))) << stopText.toStdString();
    EXPECT_TRUE(LoopUntil([&] { return !form.DeskCore().files.AutoSaveRunning(); }));
    EXPECT_TRUE(std::filesystem::is_directory(paths.orderList + "/keep"));
    EXPECT_EQ(ReadWholeFile(paths.dataDat), form.DeskCore().prices.Serialize());
    const auto notes = ReadWholeFile(paths.notifications);
    ASSERT_TRUE(notes.has_value());
    EXPECT_NE(notes->find("kept by the auto-save\r\n"), std::string::npos);

    // The next tick writes the list.
    std::filesystem::remove_all(paths.orderList);
    stopText.clear();
    Tick(form);
    EXPECT_TRUE(
        LoopUntil([&] { return FileExists(paths.orderList) && !form.DeskCore().files.AutoSaveRunning(); }));
    poll.stop();
    EXPECT_TRUE(stopText.isEmpty()) << stopText.toStdString();
    EXPECT_EQ(ReadWholeFile(paths.orderList), form.DeskCore().orders.m_CDSOrderliste.SaveToString());
    delete box;
}
