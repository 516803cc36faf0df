#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "desk/uSkarlin.h"
#include "desk/windows/uMessageBox.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "tests/unit/localescope.h"
#include "tests/unit/tempdir.h"
#include "tests/unit/testpaths.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

void WriteRaw(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

QStringList Items(const NotificationListBox* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->LineText(i);
    return out;
}

struct NotificationsWindow : ::testing::Test {
    TempDir dir;
    std::string path = dir.File("Notifications.txt");
    ManualClock clock{EncodeDateTime(2026, 12, 8, 19, 45, 14, 123)};
    test::LocaleScope comma{','};
    void TearDown() override { ASSERT_EQ(MessageBox, nullptr) << "a test left its window"; }
};

} // namespace

QT_BEGIN_NAMESPACE
void PrintTo(const QRect& r, std::ostream* os) {
    *os << "QRect(" << r.x() << ", " << r.y() << ", " << r.width() << ", " << r.height() << ")";
}
QT_END_NAMESPACE

TEST_F(NotificationsWindow, StartsHiddenWithTheFileLinesInFileOrder) {
    WriteRaw(path, "third\r\nsecond\r\nK\xE4ufer\r\n");
    auto* box = new TMessageBox(path);
    EXPECT_EQ(MessageBox, box);
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(box->windowTitle(), "Notifications");
    EXPECT_TRUE(box->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(box->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_EQ(box->size(), QSize(505, 168));
    EXPECT_EQ(Items(box->ListBox1), (QStringList{"third", "second", QString::fromUtf8("K\xC3\xA4ufer")}));
    EXPECT_EQ(box->ListBox1->geometry(), QRect(0, 0, 505, 137));
    EXPECT_EQ(box->OKButton->geometry(), QRect(373, 140, 75, 25));
    EXPECT_EQ(box->Button1->geometry(), QRect(64, 140, 105, 25));
    EXPECT_EQ(box->Button1->text(), "Delete Notifications");
    // The list stretches; "OK" keeps to the right and bottom, the other button to the bottom left.
    box->show();
    box->resize(700, 300);
    EXPECT_EQ(box->ListBox1->geometry(), QRect(0, 0, 700, 269));
    EXPECT_EQ(box->OKButton->geometry(), QRect(568, 272, 75, 25));
    EXPECT_EQ(box->Button1->geometry(), QRect(64, 272, 105, 25));
    delete box;
    EXPECT_EQ(MessageBox, nullptr);
}

TEST_F(NotificationsWindow, ANotificationGoesFirstIsSelectedAndShowsTheWindow) {
    ShowNotification("dropped: no window yet");
    auto* box = new TMessageBox(path);
    box->SetClock(&clock);
    EXPECT_EQ(box->ListBox1->count(), 0); // the dropped one was not kept

    ShowNotification("Alert Tab 0: Cross Spread -0,00021");
    clock.AdvanceSeconds(1.5);
    ShowNotification(QString::fromUtf8("Order 12 opened: Käufer"));
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(Items(box->ListBox1),
              (QStringList{QString::fromUtf8("08.12. 19:45:15,623: Order 12 opened: Käufer"),
                           "08.12. 19:45:14,123: Alert Tab 0: Cross Spread -0,00021"}));
    EXPECT_EQ(box->ListBox1->currentRow(), 0);
    EXPECT_TRUE(box->ListBox1->selectionModel()->isRowSelected(0));

    // "OK" hides it; the next notification shows it again.
    QTest::mouseClick(box->OKButton, Qt::LeftButton);
    EXPECT_FALSE(box->isVisible());
    clock.AdvanceSeconds(60);
    ShowNotification("Order 12 closed");
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->ListBox1->count(), 3);
    // Enter is "OK" as well.
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_FALSE(box->isVisible());
    // The window on its own: shown, nothing added.
    ShowNotificationWindow();
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->ListBox1->count(), 3);

    // Destruction saves the list, newest first, in the code page.
    delete box;
    EXPECT_EQ(ReadWholeFile(path), "08.12. 19:46:15,623: Order 12 closed\r\n"
                                   "08.12. 19:45:15,623: Order 12 opened: K\xE4ufer\r\n"
                                   "08.12. 19:45:14,123: Alert Tab 0: Cross Spread -0,00021\r\n");
}

TEST_F(NotificationsWindow, DeleteEmptiesTheListAndTheFileAtTheNextSave) {
    WriteRaw(path, "old 1\r\nold 2\r\n");
    auto* box = new TMessageBox(path);
    QTest::mouseClick(box->Button1, Qt::LeftButton);
    EXPECT_EQ(box->ListBox1->count(), 0);
    EXPECT_EQ(ReadWholeFile(path), "old 1\r\nold 2\r\n"); // until the next save
    delete box;
    EXPECT_EQ(ReadWholeFile(path), "");
}

TEST_F(NotificationsWindow, JunkFileLoads) {
    std::string junk("\xFF\xFE", 2);
    for (int i = 0; i < 4000; ++i) junk += static_cast<char>((i * 7919) & 0xFF);
    WriteRaw(path, junk);
    auto* box = new TMessageBox(path);
    EXPECT_GT(box->ListBox1->count(), 0);
    box->show();
    EXPECT_FALSE(box->grab().isNull());
    delete box;
}

TEST_F(NotificationsWindow, TheMainWindowForwardsNotificationsAndSaves) {
    DeskPaths paths = test::PathsIn(dir);
    paths.notifications = path;
    auto* form3 = new TForm3(paths, "");
    IDeskView& view = form3->DeskCore().View();
    view.ShowNotification("before the window: dropped");
    view.SaveNotifications(); // no window: nothing to save
    EXPECT_FALSE(FileExists(path));
    QTest::mouseClick(form3->Button19, Qt::LeftButton); // "Popup" without the window: nothing

    auto* box = new TMessageBox(paths.notifications);
    box->SetClock(&clock);
    QTest::mouseClick(form3->Button19, Qt::LeftButton);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->ListBox1->count(), 0);
    box->hide();
    view.ShowNotification("Alert Tab 0: \xE2\x82\xAC"); // UTF-8 from the core
    EXPECT_TRUE(box->isVisible());
    ASSERT_EQ(box->ListBox1->count(), 1);
    EXPECT_EQ(box->ListBox1->LineText(0), QString::fromUtf8("08.12. 19:45:14,123: Alert Tab 0: €"));

    form3->DeskCore().SaveData();
    EXPECT_EQ(ReadWholeFile(path), "08.12. 19:45:14,123: Alert Tab 0: \x80\r\n");

    // Shut-down order: the notifications window first (it saves), then the main window,
    // whose save no longer finds it.
    view.ShowNotification("last");
    delete box;
    const auto saved = ReadWholeFile(path);
    delete form3;
    EXPECT_EQ(ReadWholeFile(path), saved);
    EXPECT_EQ(saved->substr(0, 25), "08.12. 19:45:14,123: last");
}

TEST_F(NotificationsWindow, Screenshot) {
    WriteRaw(path, "07.12. 18:02:11,450: Order 7 closed: Profit 12,40\r\n"
                   "07.12. 18:01:57,003: Order 7 opened at 1,08412 / 1,08391\r\n");
    auto* box = new TMessageBox(path);
    box->SetClock(&clock);
    ShowNotification("Alert Tab 0: Cross Spread -0,00021 (EA 3 / EA 7)");
    clock.AdvanceSeconds(2.25);
    ShowNotification("Order 12 opened: EA 3 Buy 0,10 Lots at 1,08433");
    clock.AdvanceSeconds(0.5);
    ShowNotification("Order 13 opened: EA 7 Sell 0,10 Lots at 1,08412");
    QCoreApplication::processEvents();
    const QString dir = QUORVEL_SCREENSHOT_DIR;
    std::filesystem::create_directories(dir.toStdString());
    const QString file = dir + "/notifications.png";
    EXPECT_TRUE(box->grab().save(file));
    EXPECT_TRUE(FileExists(file.toStdString()));
    delete box;
}

TEST_F(NotificationsWindow, AFileThatIsNoRegularFileIsSetAsideAndToldInTheWindow) {
    std::filesystem::create_directories(path + "/inside");
    auto* box = new TMessageBox(path);
    ASSERT_EQ(box->ListBox1->count(), 1);
    const QString line = box->ListBox1->LineText(0);
    EXPECT_TRUE(line.contains(QString::fromStdString(path + " is not a regular file"))) << line.toStdString();
    EXPECT_TRUE(line.contains(".damaged-")) << line.toStdString();
    EXPECT_TRUE(box->isVisible());
    EXPECT_FALSE(std::filesystem::exists(path));
    delete box; // saves the list with that line in a new file
    EXPECT_TRUE(std::filesystem::is_regular_file(path));
}
