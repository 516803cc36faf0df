#include <gtest/gtest.h>

#include <cstring>

#include "desk/core/pricestore.h"
#include "desk_process.h"
#include "platform/files.h"
#include "tests/support/tempdir.h"

using namespace quorvel;
using namespace quorvel::e2e;

namespace {

PriceStore ReadSnapshot(const fs::path& file) {
    PriceStore p;
    const auto bytes = ReadWholeFile(file.string());
    EXPECT_TRUE(bytes);
    if (bytes) {
        EXPECT_EQ(bytes->size(), kDataDatSize);
        p.Deserialize(*bytes);
    }
    return p;
}

TEST(DeskLink, AnswersTheProtocolAndKeepsTheSnapshotAcrossARestart) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    LinkClient ea;
    ASSERT_TRUE(ea.Connect(desk.SocketPath()));
    EXPECT_EQ(ea.Send(EAMsg::NewDataAccount, 1, 5550001), 4);
    EXPECT_EQ(ea.Send(EAMsg::NewDataBid, 1, 123456), 2);
    EXPECT_EQ(ea.Send(EAMsg::NewDataAsk, 1, 123468), 1);
    EXPECT_EQ(ea.Send(EAMsg::DataComplete, 1, 0), 5);
    EXPECT_EQ(ea.Send(EAMsg::Reserved402, 1, 0), 0);
    EXPECT_EQ(ea.Send(EAMsg::GetEARequoteWaitMS, 0, 0), 0);
    EXPECT_EQ(ea.Send(EAMsg::NewDataCompanyName, 0, 65), 6); // invalid EA ID: no box
    EXPECT_EQ(ea.Send(EAMsg::NewDataBid, 201, 1), 2);
    EXPECT_EQ(ea.Send(EAMsg::ParamCounterCheckSeconds, 1, 30), 0);
    ea.Disconnect();
    EXPECT_EQ(desk.Stop(SIGTERM), 0);

    PriceStore p = ReadSnapshot(dir.Path() / "Data.dat");
    EXPECT_EQ(p.Accounts[1], 5550001);
    EXPECT_EQ(p.Bid[1], 123456);
    EXPECT_EQ(p.Ask[1], 123468);
    EXPECT_EQ(p.Spread[1], 12);
    EXPECT_EQ(p.Min[1], 12);
    EXPECT_GT(p.Time[1], 40000.0);
    EXPECT_EQ(p.Accounts[2], kNoAccount);
    const std::string first = *ReadWholeFile((dir.Path() / "Data.dat").string());

    // A second run restores the snapshot and writes it back unchanged.
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    EXPECT_EQ(desk.Stop(SIGINT), 0);
    EXPECT_EQ(*ReadWholeFile((dir.Path() / "Data.dat").string()), first);
}

TEST(DeskLink, ParameterQuestionsAnswerTheSettingsBar) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    LinkClient ea;
    ASSERT_TRUE(ea.Connect(desk.SocketPath()));
    // A first start writes config.ini with the defaults; the answers are the boxes' values.
    EXPECT_EQ(ea.Send(EAMsg::GetEALoopTime, 0, 0), 200);
    EXPECT_EQ(ea.Send(EAMsg::GetEAMaxRequotes, 0, 0), 2);
    EXPECT_EQ(ea.Send(EAMsg::GetEASlippage, 0, 0), 16);
    EXPECT_EQ(ea.Send(EAMsg::GetEAMaxCounterCheckSeconds, 0, 0), 60);
    EXPECT_TRUE(fs::exists(dir.Path() / "bin" / "config.ini"));
    EXPECT_EQ(desk.Stop(), 0);

    // Values from an edited file, clamped by their boxes.
    {
        std::ofstream ini(dir.Path() / "bin" / "config.ini", std::ios::trunc);
        ini << "[Defaults]\r\nLoopTime=0x20\r\nSlippage=500\r\nOrderAttempts=-3\r\nCloseTime=7\r\nTables="
               "2\r\n";
    }
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    ASSERT_TRUE(ea.Connect(desk.SocketPath()));
    EXPECT_EQ(ea.Send(EAMsg::GetEALoopTime, 0, 0), 32);
    EXPECT_EQ(ea.Send(EAMsg::GetEASlippage, 0, 0), 100);
    EXPECT_EQ(ea.Send(EAMsg::GetEAMaxRequotes, 0, 0), 0);
    EXPECT_EQ(ea.Send(EAMsg::GetEAMaxCounterCheckSeconds, 0, 0), 7);
    // "Tables" 2: EA 20 is valid, 21 is not.
    EXPECT_EQ(ea.Send(EAMsg::NewDataBid, 20, 100000), 2);
    EXPECT_EQ(ea.Send(EAMsg::NewDataAsk, 20, 100010), 1);
    EXPECT_EQ(ea.Send(EAMsg::NewDataBid, 21, 100000), 2);
    EXPECT_EQ(ea.Send(EAMsg::NewDataAsk, 21, 100010), 1);
    ea.Disconnect();
    EXPECT_EQ(desk.Stop(), 0);
    const PriceStore p = ReadSnapshot(dir.Path() / "Data.dat");
    EXPECT_EQ(p.Ask[20], 100010);
    EXPECT_EQ(p.Ask[21], kNoPoints);
}

TEST(DeskLink, ASecondDeskRefusesAndAStaleSocketIsReplaced) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    DeskProcess second(dir.Path());
    EXPECT_NE(second.RunToExit(), 0);
    EXPECT_NE(desk.StdErr().find("already running"), std::string::npos) << desk.StdErr();
    LinkClient ea;
    ASSERT_TRUE(ea.Connect(desk.SocketPath())); // the first desk still answers
    EXPECT_EQ(ea.Send(EAMsg::NewDataBid, 1, 100), 2);
    ea.Disconnect();

    desk.Kill(); // leaves its socket file behind
    ASSERT_TRUE(fs::exists(desk.SocketPath()));
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    ASSERT_TRUE(ea.Connect(desk.SocketPath()));
    EXPECT_EQ(ea.Send(EAMsg::NewDataAsk, 1, 100), 1);
    EXPECT_EQ(desk.Stop(), 0);
}

TEST(DeskLink, MisbehavingEAsDoNotStopTheDesk) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    LinkClient good;
    ASSERT_TRUE(good.Connect(desk.SocketPath()));
    for (int i = 0; i < 300; ++i) {
        LinkClient bad;
        ASSERT_TRUE(bad.Connect(desk.SocketPath()));
        if (i % 3 == 0) bad.SendRaw("\x90\x81\x00", 3);
        if (i % 3 == 1) {
            unsigned char rec[16] = {0x94, 0x81, 0, 0, 1, 0, 0, 0};
            bad.SendRaw(rec, 16); // gone before its answer
        }
    }
    std::string junk(4096 + 5, '\xEE');
    {
        LinkClient garbage;
        ASSERT_TRUE(garbage.Connect(desk.SocketPath()));
        garbage.SendRaw(junk.data(), junk.size());
    }
    EXPECT_EQ(good.Send(EAMsg::NewDataBid, 1, 99), 2);
    EXPECT_EQ(good.Send(EAMsg::GetEARequoteWaitMS, 0, 0), 0);
    EXPECT_EQ(desk.Stop(), 0);
}

TEST(DeskLink, CommandLineEAPrintsTheResult) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    char buf[64] = {};
    FILE* p = nullptr;
    // The message by its number or by the desk's handler of it.
    for (const char* msg : {"WM_APP+401", "NewDataAsk"}) {
        const std::string cmd = "XDG_RUNTIME_DIR=" + (dir.Path() / "xdg").string() + " " QUORVEL_EA_BINARY +
                                std::string(" send ") + msg + " 1 12345";
        p = popen(cmd.c_str(), "r");
        ASSERT_TRUE(p);
        ASSERT_TRUE(std::fgets(buf, sizeof buf, p)) << msg;
        EXPECT_EQ(pclose(p), 0) << msg;
        EXPECT_STREQ(buf, "1\n") << msg;
    }
    EXPECT_EQ(desk.Stop(), 0);
    const std::string none = "XDG_RUNTIME_DIR=" + (dir.Path() / "xdg").string() + " " QUORVEL_EA_BINARY +
                             std::string(" send WM_APP+401 1 12345 2>&1");
    p = popen(none.c_str(), "r");
    ASSERT_TRUE(p);
    std::string out;
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    EXPECT_NE(pclose(p), 0);
    EXPECT_NE(out.find("no desk is running"), std::string::npos) << out;
}

} // namespace
