#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>

#include "desk/uSkarlin.h"
#include "desk/windows/uMessageBox.h"
#include "onscreen.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "tests/support/localescope.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

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

    form3->DeskCore().files.SaveData();
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
    const QString shots = QUORVEL_SCREENSHOT_DIR;
    std::filesystem::create_directories(shots.toStdString());
    const QString file = shots + "/notifications.png";
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

namespace {

// Lines "old 0" .. "old n-1" in the file, in that order.
void WriteOldLines(const std::string& path, int n) {
    std::string bytes;
    for (int i = 0; i < n; ++i) bytes += "old " + std::to_string(i) + "\r\n";
    WriteRaw(path, bytes);
}

// What the model tells its views.
struct ModelSignals {
    std::vector<std::pair<int, int>> inserted;
    int resets = 0, layouts = 0, changed = 0, removed = 0;
    explicit ModelSignals(QAbstractItemModel* m) {
        QObject::connect(m, &QAbstractItemModel::rowsInserted,
                         [this](const QModelIndex&, int a, int b) { inserted.emplace_back(a, b); });
        QObject::connect(m, &QAbstractItemModel::modelReset, [this] { ++resets; });
        QObject::connect(m, &QAbstractItemModel::layoutChanged, [this] { ++layouts; });
        QObject::connect(m, &QAbstractItemModel::dataChanged, [this] { ++changed; });
        QObject::connect(m, &QAbstractItemModel::rowsRemoved, [this] { ++removed; });
    }
};

std::vector<int> SelectedRows(const NotificationListBox* list) {
    std::vector<int> rows;
    for (const QModelIndex& i : list->selectionModel()->selectedIndexes()) rows.push_back(i.row());
    return rows;
}

} // namespace

// A notification is one row inserted at the top, whatever the list holds, where the operator
// had scrolled to and what was selected: nothing else moves, nothing is laid out again.
TEST_F(NotificationsWindow, ANewLineIsOneRowInsertedAtTheTop) {
    struct Case {
        int lines;        // in the file
        int selected;     // the operator's row before; -1 none
        bool scrolledEnd; // the list scrolled to its end before
    };
    const Case cases[] = {{0, -1, false}, {1, 0, false},   {3, 2, false}, {3, -1, true},
                          {40, 25, true}, {40, 39, false}, {40, 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE("lines " + std::to_string(c.lines) + ", selected " + std::to_string(c.selected) +
                     (c.scrolledEnd ? ", scrolled to the end" : ""));
        WriteOldLines(path, c.lines);
        auto* box = new TMessageBox(path);
        box->SetClock(&clock);
        box->show();
        NotificationListBox* list = box->ListBox1;
        if (c.selected >= 0) list->setCurrentRow(c.selected);
        if (c.scrolledEnd) list->scrollToBottom();
        if (c.lines > 20 && c.scrolledEnd) {
            EXPECT_GT(list->TopRow(), 0);
        }
        ModelSignals sig(box->Model());

        ShowNotification("new");
        EXPECT_EQ(sig.inserted, (std::vector<std::pair<int, int>>{{0, 0}}));
        EXPECT_EQ(sig.resets + sig.layouts + sig.changed + sig.removed, 0);
        ASSERT_EQ(list->count(), c.lines + 1);
        EXPECT_EQ(list->LineText(0), "08.12. 19:45:14,123: new");
        for (int i = 0; i < c.lines; ++i) EXPECT_EQ(list->LineText(i + 1), QString("old %1").arg(i));
        EXPECT_EQ(list->currentRow(), 0);
        EXPECT_EQ(SelectedRows(list), std::vector<int>{0});
        EXPECT_EQ(list->TopRow(), 0); // line 0 is on screen
        EXPECT_EQ(list->indexAt(QPoint(5, 5)).row(), 0);
        EXPECT_EQ(list->visualRect(box->Model()->index(0, 0)),
                  QRect(0, 0, list->viewport()->width(), NotificationListBox::kItemHeight));
        delete box;
    }
}

// The window's text after N notifications, in the window and in the file.
TEST_F(NotificationsWindow, TheTextAfterNNotifications) {
    for (const int n : {1, 2, 13, 200}) {
        SCOPED_TRACE(n);
        std::filesystem::remove(path);
        auto* box = new TMessageBox(path);
        box->SetClock(&clock);
        QStringList expected;
        std::string file;
        for (int i = 0; i < n; ++i) {
            const int ms = 14123 + 10 * i; // from 19:45:14,123 on
            clock.Set(EncodeDateTime(2026, 12, 8, 19, 45, ms / 1000, ms % 1000));
            ShowNotification(QString("note %1").arg(i));
            const QString line = QString("08.12. 19:45:%1,%2: note %3")
                                     .arg(ms / 1000, 2, 10, QChar('0'))
                                     .arg(ms % 1000, 3, 10, QChar('0'))
                                     .arg(i);
            expected.prepend(line);
            file = line.toStdString() + "\r\n" + file;
        }
        EXPECT_EQ(Items(box->ListBox1), expected);
        EXPECT_EQ(box->ListBox1->currentRow(), 0);
        EXPECT_EQ(SelectedRows(box->ListBox1), std::vector<int>{0});
        box->Save();
        EXPECT_EQ(ReadWholeFile(path), file);
        delete box;
    }
}

// The operator moves in the list with the keys and the mouse, one row selected at a time.
TEST_F(NotificationsWindow, KeysAndClicksMoveTheOneSelectedRow) {
    WriteOldLines(path, 40);
    auto* box = new TMessageBox(path);
    box->show();
    NotificationListBox* list = box->ListBox1;
    list->setFocus();
    const int page = list->viewport()->height() / NotificationListBox::kItemHeight;
    ASSERT_GT(page, 3);
    struct Case {
        Qt::Key key;
        int from, to;
    };
    const Case keys[] = {{Qt::Key_Down, 0, 1},        {Qt::Key_Up, 1, 0},
                         {Qt::Key_Up, 0, 0},          {Qt::Key_End, 3, 39},
                         {Qt::Key_Down, 39, 39},      {Qt::Key_Home, 39, 0},
                         {Qt::Key_PageDown, 0, page}, {Qt::Key_PageUp, page + 2, 2},
                         {Qt::Key_PageDown, 35, 39}};
    for (const Case& c : keys) {
        const std::unique_ptr<char[]> key(QTest::toString(c.key)); // the caller owns the text
        SCOPED_TRACE(std::string(key.get()) + " from " + std::to_string(c.from));
        list->setCurrentRow(c.from);
        QTest::keyClick(list, c.key);
        EXPECT_EQ(list->currentRow(), c.to);
        EXPECT_EQ(SelectedRows(list), std::vector<int>{c.to});
        // the current row is on screen
        EXPECT_GE(c.to, list->TopRow());
        EXPECT_LT(c.to, list->TopRow() + page);
    }
    // A click selects the row under the mouse, wherever the list is scrolled to.
    for (const int top : {0, 5, 40 - page}) {
        SCOPED_TRACE(top);
        list->verticalScrollBar()->setValue(top);
        ASSERT_EQ(list->TopRow(), top);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          QPoint(30, 2 * NotificationListBox::kItemHeight + 4));
        EXPECT_EQ(list->currentRow(), top + 2);
        EXPECT_EQ(SelectedRows(list), std::vector<int>{top + 2});
        EXPECT_EQ(list->LineText(top + 2), QString("old %1").arg(top + 2));
    }
    // The scroll bar ends with the last line at the bottom of the list.
    list->scrollToBottom();
    EXPECT_EQ(list->TopRow(), 40 - page);
    EXPECT_EQ(list->indexAt(QPoint(5, (page - 1) * NotificationListBox::kItemHeight + 1)).row(), 39);
    // Below the last line there is no row.
    QTest::mouseClick(box->Button1, Qt::LeftButton);
    EXPECT_EQ(list->count(), 0);
    EXPECT_FALSE(list->indexAt(QPoint(5, 5)).isValid());
    EXPECT_EQ(list->verticalScrollBar()->maximum(), 0);
    delete box;
}

// The window paints at its own pace: a notification is in the list at once, the screen shows it
// once the window has painted, and not while work waits.
TEST_F(NotificationsWindow, ANotificationIsOnScreenAfterTheWindowPaints) {
    WriteOldLines(path, 3);
    auto* box = new TMessageBox(path);
    box->SetClock(&clock);
    box->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    ASSERT_TRUE(RunUntil([&] { return !box->Paints()->Holding(); }));
    EXPECT_EQ(box->Paints()->Interval(), TMessageBox::kPaintIntervalMs);
    EXPECT_GE(TMessageBox::kPaintIntervalMs, 100);
    EXPECT_LE(TMessageBox::kPaintIntervalMs, 250);
    QWidget* rows = box->ListBox1->viewport();
    const QImage before = OnScreen(rows);
    {
        Waiting waiting;
        PaintCounter counter(rows);
        for (int i = 1; i <= 5; ++i) {
            ShowNotification(QString("Order %1 opened").arg(i));
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(box->ListBox1->LineText(0), "08.12. 19:45:14,123: Order 5 opened"); // in the list at once
        QTest::qWait(3 * TMessageBox::kPaintIntervalMs);
        EXPECT_EQ(counter.paints, 0);
        EXPECT_TRUE(box->Paints()->Holding());
        EXPECT_EQ(OnScreen(rows), before);
        counter.paints = 0;
        waiting.on = false;
        EXPECT_TRUE(RunUntil([&] { return !box->Paints()->Holding(); }));
        EXPECT_EQ(counter.paints, 1); // the five in one paint
    }
    const QImage after = OnScreen(rows);
    EXPECT_NE(after, before);
    EXPECT_EQ(after, Drawn(rows));
    // With nothing waiting the next one gets there on its own.
    clock.AdvanceSeconds(1);
    const long delivered = box->Paints()->Delivered();
    ShowNotification("Order 6 opened");
    EXPECT_TRUE(RunUntil([&] { return box->Paints()->Delivered() > delivered; }));
    EXPECT_EQ(OnScreen(rows), Drawn(rows));
    EXPECT_NE(OnScreen(rows), after);
    delete box;
}

// The scroll bar shows the list as it is after every paint, while its slider shrinks and once
// it no longer does.
TEST_F(NotificationsWindow, TheScrollBarOnScreenFollowsTheList) {
    WriteOldLines(path, 5);
    auto* box = new TMessageBox(path);
    box->SetClock(&clock);
    box->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    QScrollBar* bar = box->ListBox1->verticalScrollBar();
    for (int i = 0; i < 400; ++i) {
        ShowNotification(QString("note %1").arg(i));
        QCoreApplication::processEvents();
        box->Paints()->Flush();
        if (i % 7 != 0 && i < 390) continue;
        SCOPED_TRACE(box->ListBox1->count());
        EXPECT_EQ(bar->maximum(), std::max(0, box->ListBox1->count() - 10));
        if (bar->isVisible()) {
            EXPECT_EQ(OnScreen(bar), Drawn(bar));
        }
        EXPECT_EQ(OnScreen(box->ListBox1->viewport()), Drawn(box->ListBox1->viewport()));
    }
    // Scrolled by the operator, the slider moves on screen.
    const QImage top = OnScreen(bar);
    bar->setValue(bar->maximum());
    QCoreApplication::processEvents();
    box->Paints()->Flush();
    EXPECT_NE(OnScreen(bar), top);
    EXPECT_EQ(OnScreen(bar), Drawn(bar));
    delete box;
}
