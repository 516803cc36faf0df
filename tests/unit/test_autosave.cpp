// The auto-save: the files of SaveData written on a thread of their own from what they held at
// the tick, one save at a time, its errors reported afterwards on the desk's thread.
#include <atomic>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <thread>

#include "desk/core/desk.h"
#include "desk/core/notifications.h"
#include "platform/files.h"
#include "tests/support/fakes.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;

namespace {

// A gate a writer step waits at until the test opens it.
struct Gate {
    std::promise<void> open;
    std::shared_future<void> opened = open.get_future().share();
};

struct AutoSaveTest : ::testing::Test {
    test::TempDir dir;
    test::FakeControls controls;
    ManualClock clock{45000.5};

    // A view whose notification writer runs on the writer's thread; it notes what it finds.
    struct View : test::FakeView {
        DeskPaths paths;
        std::function<void()> writer; // empty: the default (saved on the desk's thread)
        std::function<void()> NotificationsWriter() override { return writer; }
        bool otherFilesFirst = false;
        std::function<void()> onSave;
        void SaveNotifications() override {
            FakeView::SaveNotifications();
            otherFilesFirst = FileExists(paths.dataDat) && FileExists(paths.orderList);
            if (onSave) onSave();
        }
    } view;
    std::unique_ptr<Desk> desk;

    void Start() {
        view.paths = test::PathsIn(dir);
        desk = std::make_unique<Desk>(controls, view, clock, view.paths);
        desk->FormCreate();
    }
    void PlaceOrder() {
        std::vector<std::string> items;
        for (int k = 1; k <= 10; ++k) items.push_back(std::to_string(k));
        controls.SetBrokerItems(0, items);
        controls.SetBrokerChecked(0, 0, true);
        controls.SetBrokerChecked(0, 1, true);
        controls.SetFrameChecked(0, FrameCtl::rbBuySell1, true);
        controls.frames[0].text[FrameCtl::reLots1] = "0,10";
        desk->entry.TableOpenOrder(0, 0);
    }
    ClientDataSet& Engine() { return desk->orders.m_CDSOrderliste; }
    void EditNewest(int status) {
        Engine().First();
        Engine().Edit();
        Engine().FieldByName("Status").SetAsInteger(status);
        Engine().Post();
    }
    std::string File(const std::string& path) { return ReadWholeFile(path).value_or("(none)"); }
};

} // namespace

TEST_F(AutoSaveTest, WritesTheFilesAsTheyStoodAtTheTick) {
    Start();
    for (int i = 0; i < 200; ++i) PlaceOrder();
    desk->prices.Bid[1] = 110000;
    const std::string list = Engine().SaveToString();
    const std::string prices = desk->prices.Serialize();

    desk->files.AutoSave();
    EXPECT_TRUE(desk->files.AutoSaveRunning());
    // The desk goes on while the files are written.
    desk->prices.Bid[1] = 120000;
    EditNewest(stClosed);
    PlaceOrder();
    Engine().Last();
    Engine().Delete();
    desk->files.FinishAutoSave(true);
    EXPECT_FALSE(desk->files.AutoSaveRunning());

    EXPECT_EQ(File(view.paths.orderList), list);
    EXPECT_EQ(File(view.paths.dataDat), prices);
    // No writer for another thread: the list was saved here, after the other two.
    EXPECT_EQ(view.notificationSaves, 1);
    EXPECT_TRUE(view.otherFilesFirst);

    // The next save has what changed; a list that was never loaded is never written.
    desk->files.AutoSave();
    desk->files.FinishAutoSave(true);
    EXPECT_EQ(File(view.paths.orderList), Engine().SaveToString());
    EXPECT_EQ(File(view.paths.dataDat), desk->prices.Serialize());
    std::filesystem::remove(view.paths.orderList);
    desk->orders.m_bOrderListLoaded = false;
    desk->files.AutoSave();
    desk->files.FinishAutoSave(true);
    EXPECT_FALSE(FileExists(view.paths.orderList));
    EXPECT_EQ(view.notificationSaves, 3);
}

TEST_F(AutoSaveTest, TheNotificationWriterRunsOnTheWriterThreadLast) {
    Start();
    PlaceOrder();
    std::thread::id ranOn;
    bool othersFirst = false;
    view.writer = [&] {
        ranOn = std::this_thread::get_id();
        othersFirst = FileExists(view.paths.dataDat) && FileExists(view.paths.orderList);
        WriteFileAtomic(view.paths.notifications, "line\r\n");
    };
    desk->files.AutoSave();
    desk->files.FinishAutoSave(true);
    EXPECT_NE(ranOn, std::thread::id());
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(othersFirst);
    EXPECT_EQ(view.notificationSaves, 0);
    EXPECT_EQ(File(view.paths.notifications), "line\r\n");
}

TEST_F(AutoSaveTest, FailuresAreReportedOnTheDesksThreadAndTheOtherFilesAreWritten) {
    Start();
    PlaceOrder();
    // Something that cannot be replaced stands under the list's name; the notifications fail too.
    std::filesystem::create_directories(view.paths.orderList + "/keep");
    view.writer = [] { throw FileError("Cannot write Notifications.txt"); };
    desk->files.AutoSave();
    desk->Guarded([&] { desk->files.FinishAutoSave(true); });
    ASSERT_EQ(view.stopBoxes.size(), 1u);
    const std::string& text = view.stopBoxes[0];
    EXPECT_NE(text.find(view.paths.orderList), std::string::npos) << text;
    EXPECT_NE(text.find("\nCannot write Notifications.txt"), std::string::npos) << text;
    EXPECT_TRUE(std::filesystem::is_directory(view.paths.orderList + "/keep"));
    EXPECT_EQ(File(view.paths.dataDat), desk->prices.Serialize());
    // Reported once; Data.dat's failure is reported as well, and the list is written.
    std::filesystem::remove_all(view.paths.orderList);
    std::filesystem::remove(view.paths.dataDat);
    std::filesystem::create_directories(view.paths.dataDat + "/keep");
    view.writer = [] {};
    desk->files.AutoSave();
    desk->Guarded([&] { desk->files.FinishAutoSave(true); });
    ASSERT_EQ(view.stopBoxes.size(), 2u);
    EXPECT_NE(view.stopBoxes[1].find(view.paths.dataDat), std::string::npos) << view.stopBoxes[1];
    EXPECT_EQ(view.stopBoxes[1].find('\n'), std::string::npos) << view.stopBoxes[1];
    EXPECT_EQ(File(view.paths.orderList), Engine().SaveToString());
    // Everything writable again: nothing to report.
    std::filesystem::remove_all(view.paths.dataDat);
    desk->files.AutoSave();
    desk->Guarded([&] { desk->files.FinishAutoSave(true); });
    EXPECT_EQ(view.stopBoxes.size(), 2u);
    EXPECT_EQ(File(view.paths.dataDat), desk->prices.Serialize());
}

TEST_F(AutoSaveTest, ATickDuringASaveIsQueuedNeverASecondWriter) {
    Start();
    PlaceOrder();
    std::atomic<int> writing{0}, most{0}, runs{0};
    auto gate = std::make_shared<Gate>();
    view.writer = [&, gate] {
        most = std::max(most.load(), ++writing);
        ++runs;
        gate->opened.wait();
        --writing;
    };
    // One promise per save that ends, so that none is replaced while a writer still holds it.
    std::promise<void> ends[2];
    std::atomic<int> ended{0};
    desk->files.OnAutoSaveEnded = [&] { ends[ended++].set_value(); };

    desk->files.AutoSave();
    desk->files.FinishAutoSave(); // still writing: nothing to collect, nothing waits
    EXPECT_TRUE(desk->files.AutoSaveRunning());
    PlaceOrder();           // after the first snapshot
    desk->files.AutoSave(); // queued
    desk->files.AutoSave(); // still one queued save
    const std::string second = Engine().SaveToString();
    gate->open.set_value();
    ends[0].get_future().wait();
    desk->files.FinishAutoSave(); // collects the first, starts the queued one from the list as it is now
    EXPECT_TRUE(desk->files.AutoSaveRunning());
    PlaceOrder();
    ends[1].get_future().wait();
    desk->files.FinishAutoSave();
    EXPECT_FALSE(desk->files.AutoSaveRunning());
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(most, 1);
    EXPECT_EQ(File(view.paths.orderList), second);
}

TEST_F(AutoSaveTest, TheShutDownSaveWaitsForARunningSaveAndDropsAQueuedOne) {
    Start();
    PlaceOrder();
    std::atomic<bool> backgroundDone{false};
    auto gate = std::make_shared<Gate>();
    std::atomic<int> runs{0};
    view.writer = [&, gate] {
        ++runs;
        gate->opened.wait();
        backgroundDone = true;
    };
    desk->files.AutoSave();
    desk->files.AutoSave(); // queued
    PlaceOrder();
    const std::string last = Engine().SaveToString();
    // The shut-down save's notifications come only after the background save has ended.
    bool doneAtShutDownSave = false;
    view.onSave = [&] { doneAtShutDownSave = backgroundDone; };
    std::thread opener([gate] {
        std::this_thread::yield();
        gate->open.set_value();
    });
    const int savesBefore = view.notificationSaves;
    desk->FormDestroy();
    opener.join();
    EXPECT_TRUE(doneAtShutDownSave);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(view.notificationSaves, savesBefore + 1); // the shut-down save's own
    EXPECT_TRUE(view.stopBoxes.empty());
    EXPECT_EQ(File(view.paths.orderList), last);
}

TEST(NotificationSaveLater, WritesTheListAsItWasWhenTaken) {
    test::TempDir dir;
    const std::string path = dir.File("Notifications.txt");
    NotificationList list;
    list.Add(45000.5, ':', "first");
    const auto write = list.SaveLater(path);
    list.Add(45000.6, ':', "after the copy");
    const std::string expected = EncodeNotificationLines({list.Lines()[1]});
    std::thread([&] { write(); }).join();
    EXPECT_EQ(ReadWholeFile(path), expected);
    EXPECT_THROW(list.SaveLater(dir.File("missing/Notifications.txt"))(), FileError);
}
