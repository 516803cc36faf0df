// The built desk and its state files: special files in their place, linked files, and kills
// in the middle of the shut-down saves of a large order list.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <poll.h>
#include <random>
#include <sys/stat.h>

#include "desk/core/notifications.h"
#include "desk/core/orderlist.h"
#include "desk/core/pricestore.h"
#include "desk_process.h"
#include "platform/clientdataset.h"
#include "platform/files.h"
#include "tests/support/tempdir.h"

using namespace quorvel;
using namespace quorvel::e2e;

namespace {

// One message and its answer; nullopt when the desk gives none within a generous guard (it
// hangs) or the link breaks.
std::optional<int32_t> Ask(LinkClient& ea, int32_t msg, int32_t wp, int32_t lp) {
    unsigned char buf[16];
    EncodeMessage(TMessage{msg, wp, lp, 0}, buf);
    try {
        ea.SendRaw(buf, sizeof buf);
    } catch (const LinkError&) {
        return std::nullopt;
    }
    size_t have = 0;
    while (have < sizeof buf) {
        pollfd p{ea.Fd(), POLLIN, 0};
        if (poll(&p, 1, 30000) <= 0) return std::nullopt;
        const ssize_t n = read(ea.Fd(), buf + have, sizeof buf - have);
        if (n <= 0) return std::nullopt;
        have += static_cast<size_t>(n);
    }
    return DecodeMessage(buf).Result;
}

std::vector<fs::path> Named(const fs::path& dir, const std::string& part) {
    std::vector<fs::path> out;
    for (auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().find(part) != std::string::npos) out.push_back(e.path());
    return out;
}

std::vector<fs::path> TempFiles(const fs::path& dir) {
    return Named(dir, ".tmp-");
}

} // namespace

TEST(DeskFiles, SpecialFilesInPlaceOfStateFilesAreSetAsideAndTheDeskStartsWithoutThem) {
    enum Kind { Fifo, Directory, LinkToZero };
    for (const Kind kind : {Fifo, Directory, LinkToZero}) {
        SCOPED_TRACE(kind);
        test::TempDir dir;
        DeskProcess desk(dir.Path());
        for (const char* name : {"Data.dat", "Notifications.txt"}) {
            const fs::path p = dir.Path() / name;
            if (kind == Fifo) {
                ASSERT_EQ(mkfifo(p.c_str(), 0600), 0);
            }
            if (kind == Directory) fs::create_directories(p / "inside");
            if (kind == LinkToZero) fs::create_symlink("/dev/zero", p);
        }
        ASSERT_TRUE(desk.Start()) << desk.StdErr();
        LinkClient ea;
        ASSERT_TRUE(ea.Connect(desk.SocketPath()));
        EXPECT_EQ(Ask(ea, EAMsg::NewDataBid, 1, 100000), 2) << "the desk does not answer";
        EXPECT_EQ(Ask(ea, EAMsg::NewDataAsk, 1, 100012), 1);
        EXPECT_EQ(Ask(ea, EAMsg::DataComplete, 1, 0), 5);
        ea.Disconnect();
        EXPECT_EQ(desk.Stop(), 0);

        const std::string err = desk.StdErr();
        for (const char* name : {"Data.dat", "Notifications.txt"}) {
            EXPECT_NE(err.find(std::string(name) + " is not a regular file"), std::string::npos) << err;
            const auto aside = Named(dir.Path(), std::string(name) + ".damaged-");
            ASSERT_EQ(aside.size(), 1u) << name;
            EXPECT_NE(err.find("set aside as " + aside[0].filename().string()), std::string::npos) << err;
            const bool rightKind = kind == Fifo        ? fs::is_fifo(aside[0])
                                   : kind == Directory ? fs::is_directory(aside[0] / "inside")
                                                       : fs::is_symlink(aside[0]);
            EXPECT_TRUE(rightKind) << aside[0];
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.Path() / name))) << name;
        }
        const auto snapshot = ReadWholeFile((dir.Path() / "Data.dat").string());
        ASSERT_TRUE(snapshot);
        ASSERT_EQ(snapshot->size(), kDataDatSize);
        PriceStore p;
        p.Deserialize(*snapshot);
        EXPECT_EQ(p.Spread[1], 12);
        // The notifications that told of both files were kept in the new file.
        const auto notes = ReadWholeFile((dir.Path() / "Notifications.txt").string());
        ASSERT_TRUE(notes);
        for (const char* name : {"Data.dat", "Notifications.txt"})
            EXPECT_NE(notes->find(std::string(name) + " is not a regular file"), std::string::npos) << *notes;
    }
}

TEST(DeskFiles, AnOrderListThatIsAFifoDoesNotHangTheStart) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    ASSERT_EQ(mkfifo((dir.Path() / "Orderlist.xml").c_str(), 0600), 0);
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    // The load-failure box is open; the desk answers through it.
    LinkClient ea;
    ASSERT_TRUE(ea.Connect(desk.SocketPath()));
    EXPECT_EQ(Ask(ea, EAMsg::GetEARequoteWaitMS, 0, 0), 0) << "the desk does not answer";
    const auto aside = Named(dir.Path(), "Orderlist.xml.damaged-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_TRUE(fs::is_fifo(aside[0]));
    EXPECT_NE(desk.StdErr().find("Orderlist.xml was set aside as " + aside[0].filename().string()),
              std::string::npos)
        << desk.StdErr();
    desk.Kill();
}

TEST(DeskFiles, LinkedStateFilesAreUpdatedThroughTheirLinks) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    fs::create_directories(dir.Path() / "store");
    const char* names[] = {"Data.dat", "Orderlist.xml", "Notifications.txt"};
    for (const char* name : names) fs::create_symlink(std::string("store/") + name, dir.Path() / name);
    auto run = [&](int32_t bid) {
        ASSERT_TRUE(desk.Start()) << desk.StdErr();
        LinkClient ea;
        ASSERT_TRUE(ea.Connect(desk.SocketPath()));
        EXPECT_EQ(Ask(ea, EAMsg::NewDataBid, 1, bid), 2);
        EXPECT_EQ(Ask(ea, EAMsg::NewDataAsk, 1, bid + 12), 1);
        EXPECT_EQ(Ask(ea, EAMsg::DataComplete, 1, 0), 5);
        ea.Disconnect();
        EXPECT_EQ(desk.Stop(), 0);
    };
    run(100000);
    // The operator narrows the snapshot's mode; a save keeps it.
    fs::permissions(dir.Path() / "store" / "Data.dat", fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace);
    run(200000);
    for (const char* name : names) {
        EXPECT_TRUE(fs::is_symlink(dir.Path() / name)) << name;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.Path() / "store" / name))) << name;
    }
    const auto snapshot = ReadWholeFile((dir.Path() / "store" / "Data.dat").string());
    ASSERT_TRUE(snapshot);
    PriceStore p;
    p.Deserialize(*snapshot);
    EXPECT_EQ(p.Bid[1], 200000);
    EXPECT_EQ(p.Min[1], 12);
    EXPECT_EQ(fs::status(dir.Path() / "store" / "Data.dat").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    ClientDataSet list;
    EXPECT_NO_THROW(list.LoadFromFile((dir.Path() / "store" / "Orderlist.xml").string()));
    EXPECT_TRUE(TempFiles(dir.Path()).empty());
    EXPECT_TRUE(TempFiles(dir.Path() / "store").empty());
}

TEST(DeskFiles, KillsDuringTheShutDownSavesOfALargeListLoseNoFile) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    constexpr int kLegs = 40000;
    {
        ClientDataSet engine;
        engine.CreateDataSet(OrderListFieldDefs(), IdxOrderIDDesc());
        for (int i = 0; i < kLegs; ++i) {
            engine.Append();
            engine.FieldByName("TableID").SetAsInteger(i % 20);
            engine.FieldByName("Lots").SetAsFloat(0.1 * (1 + i % 5));
            engine.FieldByName("OrderType").SetAsInteger(1 + i % 2);
            engine.FieldByName("Spread").SetAsCurrency(0.00012);
            engine.FieldByName("Status").SetAsInteger(stClosed);
            engine.FieldByName("EAID").SetAsInteger(1 + i % 200);
            engine.FieldByName("Zeitpunkt").SetAsDateTime(45000.0 + i / 1000.0);
            engine.FieldByName("Ticket").SetAsInteger(10000000 + i);
            engine.FieldByName("Kurs").SetAsCurrency(1.08123 + (i % 100) * 0.00001);
            engine.FieldByName("Gewinn").SetAsCurrency(-1.25 + (i % 7) * 0.5);
            engine.Post();
        }
        engine.SaveToFile((dir.Path() / "Orderlist.xml").string());
    }
    std::string notes;
    for (int i = 0; i < 20000; ++i)
        notes += "10.12. 12:00:00,000: notification " + std::to_string(i) + "\r\n";
    WriteFileAtomic((dir.Path() / "Notifications.txt").string(), notes);

    const fs::path bin = dir.Path() / "bin";
    auto everyFileLoads = [&](const char* when) {
        SCOPED_TRACE(when);
        ClientDataSet list;
        ASSERT_NO_THROW(list.LoadFromFile((dir.Path() / "Orderlist.xml").string()));
        EXPECT_EQ(list.RecordCount(), kLegs);
        const auto snapshot = ReadWholeFile((dir.Path() / "Data.dat").string());
        ASSERT_TRUE(snapshot);
        EXPECT_EQ(snapshot->size(), kDataDatSize);
        const auto text = ReadWholeFile((dir.Path() / "Notifications.txt").string());
        ASSERT_TRUE(text);
        EXPECT_GE(DecodeNotificationLines(*text).size(), 20000u);
        EXPECT_TRUE(ReadWholeFile((bin / "config.ini").string()));
        EXPECT_TRUE(Named(dir.Path(), ".damaged-").empty());
    };
    // Starts the desk and waits for its first answer: by then it has cleared what the last
    // kill left behind.
    auto startAndServe = [&](int32_t bid) {
        ASSERT_TRUE(desk.Start()) << desk.StdErr();
        LinkClient ea;
        ASSERT_TRUE(ea.Connect(desk.SocketPath()));
        ASSERT_EQ(Ask(ea, EAMsg::NewDataBid, 1, bid), 2) << "the desk does not answer";
        ASSERT_EQ(Ask(ea, EAMsg::NewDataAsk, 1, bid + 12), 1);
        ASSERT_EQ(Ask(ea, EAMsg::DataComplete, 1, 0), 5);
        EXPECT_TRUE(TempFiles(dir.Path()).empty());
        EXPECT_TRUE(TempFiles(bin).empty());
    };

    // One whole shut-down, to learn how long its saves take here: the kills aim inside it.
    startAndServe(100000);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(desk.Stop(), 0);
    const auto stopUs =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count();
    everyFileLoads("after a whole shut-down");

    std::mt19937 rng(20261210);
    std::uniform_int_distribution<long> delay(0, std::max<long>(stopUs, 1000));
    int leftBehind = 0;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        startAndServe(100000 + round);
        kill(desk.Pid(), SIGTERM);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(rng)));
        desk.Kill();
        leftBehind += static_cast<int>(TempFiles(dir.Path()).size());
        everyFileLoads("after a kill");
    }
    startAndServe(300000);
    ASSERT_EQ(desk.Stop(), 0);
    everyFileLoads("after the last start");
    EXPECT_TRUE(TempFiles(dir.Path()).empty());
    std::printf("shut-down %ld us; the kills left %d temporary files, all removed at the next start\n",
                static_cast<long>(stopUs), leftBehind);
}
