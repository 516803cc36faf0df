// Signals end the built desk within seconds even while a modal box waits for a click: the box
// closes, the saves that are due run, and the box's text goes to stderr and the notifications.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <thread>

#include "desk/core/notifications.h"
#include "desk/core/pricestore.h"
#include "desk_process.h"
#include "platform/files.h"
#include "tests/support/tempdir.h"

using namespace quorvel;
using namespace quorvel::e2e;

namespace {

constexpr const char* kLoadFailed = "The data structure has been changed. Please restart the application!";

int32_t SnapshotAccount(const fs::path& dir, int id) {
    const auto bytes = ReadWholeFile((dir / "Data.dat").string());
    if (!bytes) return -99;
    PriceStore p;
    p.Deserialize(*bytes);
    return p.Accounts[id];
}

std::string NotificationFile(const fs::path& dir) {
    NotificationList list;
    list.Load((dir / "Notifications.txt").string());
    std::string all;
    for (const std::string& line : list.Lines()) all += line + "\n";
    return all;
}

bool SetAsideExists(const fs::path& dir, const std::string& name) {
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind(name + ".damaged-", 0) == 0) return true;
    return false;
}

} // namespace

// The order list does not load: its start-up box is open, and its loop serves the EAs, when
// the signal comes.
TEST(DeskSignals, EndTheDeskWhileTheStartUpBoxIsOpen) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        test::TempDir dir;
        std::ofstream(dir.Path() / "Orderlist.xml", std::ios::binary)
            << "<DATAPACKET Version=\"2.0\"><METADATA";
        DeskProcess desk(dir.Path());
        ASSERT_TRUE(desk.Start()) << desk.StdErr();
        {
            LinkClient ea;
            ASSERT_TRUE(ea.Connect(desk.SocketPath()));
            EXPECT_EQ(ea.Send(EAMsg::NewDataAccount, 1, 4242), 4); // answered from within the box's loop
        }
        EXPECT_EQ(desk.Stop(sig), 0) << "still running ten seconds after the signal";

        const std::string err = desk.StdErr();
        EXPECT_NE(err.find(kLoadFailed), std::string::npos) << err;
        EXPECT_NE(NotificationFile(dir.Path()).find(kLoadFailed), std::string::npos);
        EXPECT_EQ(SnapshotAccount(dir.Path(), 1), 4242); // the snapshot was due, and saved
        EXPECT_TRUE(SetAsideExists(dir.Path(), "Orderlist.xml"));
    }
}

// A WM_COPYDATA box is open while the desk runs: the signal closes it, its EA gets its answer,
// and the shut-down saves run as after an ordinary close.
TEST(DeskSignals, EndTheDeskWhileAnEABoxIsOpen) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    LinkClient ea;
    ASSERT_TRUE(ea.Connect(desk.SocketPath()));
    EXPECT_EQ(ea.Send(EAMsg::NewDataAccount, 2, 777), 4);

    std::atomic<int32_t> boxAnswer{-1};
    std::thread boxEA([&] {
        LinkClient c;
        if (!c.Connect(desk.SocketPath())) return;
        try {
            boxAnswer = c.Send(EAMsg::NewDataCompanyName, 2, 'Q');
        } catch (const LinkError&) {
            boxAnswer = -2;
        }
    });
    // Served in arrival order: once this answer is back, the box is open.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ea.Send(EAMsg::GetEALoopTime, 0, 0), 200);
    ea.Disconnect();

    EXPECT_EQ(desk.Stop(SIGTERM), 0) << "still running ten seconds after the signal";
    boxEA.join();
    EXPECT_EQ(boxAnswer.load(), 6);
    EXPECT_NE(desk.StdErr().find("Skarlin: Q\n"), std::string::npos) << desk.StdErr();
    EXPECT_NE(NotificationFile(dir.Path()).find(": Q"), std::string::npos);
    EXPECT_EQ(SnapshotAccount(dir.Path(), 2), 777);
}
