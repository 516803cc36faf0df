// A short run of the EA fleet against the built desk: the prepared folder, a few seconds of
// trading and winding down through the real link, and the order list the desk saved.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sys/wait.h>

#include "desk/core/orderlist.h"
#include "desk_process.h"
#include "platform/clientdataset.h"
#include "platform/files.h"
#include "tests/support/tempdir.h"

using namespace quorvel;
using namespace quorvel::e2e;

namespace {

struct ToolRun {
    int exitCode = -1;
    std::string out;
};

// Runs quorvel-ea with the arguments; its output is kept in `log`. The tool bounds itself;
// the time-out is only a guard against a hung test.
ToolRun Ea(const fs::path& log, const std::string& args, const std::string& env = {}) {
    const std::string cmd =
        env + " timeout 120 " + std::string(QUORVEL_EA_BINARY) + " " + args + " > " + log.string() + " 2>&1";
    ToolRun r;
    const int status = std::system(cmd.c_str());
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadWholeFile(log.string()).value_or("");
    return r;
}

// The legs opened and closed from the fleet's final line.
bool LegFigures(const std::string& text, uint64_t& opened, uint64_t& closed) {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex("legs opened (\\d+), closed (\\d+)"))) return false;
    opened = std::stoull(m[1]);
    closed = std::stoull(m[2]);
    return true;
}

TEST(Fleet, TradesAgainstTheDeskAndLeavesNoTransactionHalfOpen) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    const fs::path root = dir.Path();
    const ToolRun prep =
        Ea(root / "prepare.log", "prepare " + root.string() + " --eas 12 --tables 2 --transactions 16 " +
                                     "--history 100 --config " + (root / "bin" / "config.ini").string());
    ASSERT_EQ(prep.exitCode, 0) << prep.out;
    ASSERT_TRUE(desk.Start()) << desk.StdErr();

    const ToolRun fleet =
        Ea(root / "fleet.log", "fleet --socket " + desk.SocketPath() +
                                   " --eas 12 --tables 2 --seconds 3 --drain 8" +
                                   " --loop-ms 5 --fail-rate 0.2 --seed 5 --brief --dir " + root.string());
    EXPECT_EQ(fleet.exitCode, 0) << fleet.out; // no link lost, every answer as the protocol gives it
    EXPECT_NE(fleet.out.find("order list at the start: 66 transactions"), std::string::npos) << fleet.out;
    for (const char* msg :
         {"WM_APP+400", "WM_APP+401", "WM_APP+404", "WM_APP+500", "WM_APP+515", "WM_APP+602"})
        EXPECT_NE(fleet.out.find(msg), std::string::npos) << msg << "\n" << fleet.out;
    uint64_t opened = 0, closed = 0;
    ASSERT_TRUE(LegFigures(fleet.out, opened, closed)) << fleet.out;

    ASSERT_EQ(desk.Stop(), 0) << desk.StdErr(); // the shut-down saves the order list

    ClientDataSet saved;
    saved.LoadFromFile((root / "Orderlist.xml").string());
    ASSERT_EQ(saved.RecordCount(), 100 + 2 * 16);
    uint64_t withTicket = 0;
    for (saved.First(); !saved.Eof(); saved.Next())
        if (saved.FieldByName("OrderID").AsInteger() > 100 && !saved.FieldByName("Ticket").IsNull())
            ++withTicket;
    // Every leg an EA reported opened carries its ticket (a failed leg has none).
    EXPECT_EQ(withTicket, opened);

    const ToolRun check = Ea(root / "check.log", "check " + root.string());
    EXPECT_NE(check.out.find("order list: 66 transactions"), std::string::npos) << check.out;
    // Legs that were opened must end: closed through the close question, or cancelled with their
    // counter order closed, or named to the operator. A desk that closes nothing yet cannot
    // pass this, so it is asked once legs are closed at all.
    if (closed > 0 || opened == 0) {
        EXPECT_EQ(check.exitCode, 0) << check.out << fleet.out;
    }
}

// In "SeqMode" a transaction closes only on a price trend. While the fleet winds down every EA
// quotes the common price, so the winding down must keep a trend for the desk to close on, and
// must not end while legs are open. At the desk's own loop time some transactions are still
// open when the trading ends.
TEST(Fleet, ASeqModeFleetWindsDownWithEveryTransactionEnded) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    const fs::path root = dir.Path();
    const ToolRun prep = Ea(root / "prepare.log", "prepare " + root.string() +
                                                      " --eas 12 --transactions 40 --seqmode --config " +
                                                      (root / "bin" / "config.ini").string());
    ASSERT_EQ(prep.exitCode, 0) << prep.out;
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    const ToolRun fleet = Ea(root / "fleet.log", "fleet --socket " + desk.SocketPath() +
                                                     " --eas 12 --seconds 8 --drain 30 --fail-rate 0.1" +
                                                     " --seed 4 --brief --dir " + root.string());
    EXPECT_EQ(fleet.exitCode, 0) << fleet.out;
    uint64_t opened = 0, closed = 0;
    ASSERT_TRUE(LegFigures(fleet.out, opened, closed)) << fleet.out;
    EXPECT_GT(opened, 0u) << fleet.out;
    EXPECT_EQ(closed, opened) << "legs left open\n" << fleet.out;
    ASSERT_EQ(desk.Stop(), 0) << desk.StdErr();
    const ToolRun check = Ea(root / "check.log", "check " + root.string());
    EXPECT_EQ(check.exitCode, 0) << check.out << fleet.out;
}

// Two fleet processes, one a terminal machine, share one desk: each plays the EAs of its IDs at
// the tables the whole fleet's preparation dealt them to, neither checks the list while the
// other may still trade, and the list the desk saves after both is checked on its own.
TEST(Fleet, TwoSharesTradeOneDeskAndTheListIsCheckedAfterBoth) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    const fs::path root = dir.Path();
    const ToolRun prep =
        Ea(root / "prepare.log", "prepare " + root.string() + " --eas 12 --tables 2 --transactions 16 " +
                                     "--config " + (root / "bin" / "config.ini").string());
    ASSERT_EQ(prep.exitCode, 0) << prep.out;
    ASSERT_TRUE(desk.Start()) << desk.StdErr();

    // Table 0 holds EAs 1 to 6, table 1 EAs 11 to 16.
    const char* shares[] = {"1-6", "11-16"};
    std::string both;
    for (int k = 0; k < 2; ++k) {
        if (k) both += " & ";
        both += "timeout 120 " + std::string(QUORVEL_EA_BINARY) + " fleet --socket " + desk.SocketPath() +
                " --eas 12 --tables 2 --ids " + shares[k] +
                " --seconds 3 --drain 8 --loop-ms 5 --fail-rate 0.2 --seed " + std::to_string(k + 1) +
                " --brief --dir " + root.string() + " > " +
                (root / ("share" + std::to_string(k) + ".log")).string() + " 2>&1; echo $? > " +
                (root / ("share" + std::to_string(k) + ".rc")).string();
    }
    ASSERT_EQ(std::system(("(" + both + "; wait)").c_str()), 0);

    uint64_t opened = 0;
    for (int k = 0; k < 2; ++k) {
        const std::string out =
            ReadWholeFile((root / ("share" + std::to_string(k) + ".log")).string()).value_or("");
        const std::string rc =
            ReadWholeFile((root / ("share" + std::to_string(k) + ".rc")).string()).value_or("");
        EXPECT_EQ(rc, "0\n") << out; // no link lost, every answer as the protocol gives it
        EXPECT_NE(out.find(std::string("fleet: 6 of 12 EAs (IDs ") + shares[k] + ") over 1 of 2 tables"),
                  std::string::npos)
            << out;
        EXPECT_EQ(out.find("order list: "), std::string::npos) << "a share checked the list\n" << out;
        uint64_t o = 0, c = 0;
        ASSERT_TRUE(LegFigures(out, o, c)) << out;
        opened += o;
    }
    ASSERT_EQ(desk.Stop(), 0) << desk.StdErr();

    ClientDataSet saved;
    saved.LoadFromFile((root / "Orderlist.xml").string());
    uint64_t withTicket = 0;
    bool eachOnItsTable = true;
    for (saved.First(); !saved.Eof(); saved.Next()) {
        if (saved.FieldByName("Ticket").IsNull()) continue;
        ++withTicket;
        // A ticket names the EA that opened the leg; the EA trades at its own table only.
        const int32_t ea = saved.FieldByName("Ticket").AsInteger() / 10000000;
        if ((ea - 1) / 10 != saved.FieldByName("TableID").AsInteger()) eachOnItsTable = false;
    }
    EXPECT_GT(opened, 0u);
    EXPECT_EQ(withTicket, opened); // every leg a share opened, and no leg twice
    EXPECT_TRUE(eachOnItsTable);
    const ToolRun check = Ea(root / "check.log", "check " + root.string());
    EXPECT_EQ(check.exitCode, 0) << check.out;
}

TEST(Fleet, RefusesWhatItCannotPlayAndSaysWhenNoDeskIsRunning) {
    test::TempDir dir;
    const ToolRun r = Ea(dir.Path() / "fleet.log",
                         "fleet --socket " + (dir.Path() / "none").string() + " --eas 4 --seconds 1");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("no desk is running"), std::string::npos) << r.out;
    struct Case {
        const char* args;
        const char* says; // on stderr, or "" for the usage alone
    };
    const Case cases[] = {
        {"--eas 21 --tables 2", ""},
        {"--eas 20 --ids 15-25", "EA ID 21 is not one of the fleet's 20 EAs over 2 tables"},
        {"--eas 20 --ids 5-1", "--ids needs EA IDs"},
        {"--eas 20 --ids 1-10 --dir . --stop-desk 1", ""}, // one share cannot stop the desk
    };
    for (const Case& c : cases) {
        const ToolRun bad = Ea(dir.Path() / "bad.log", std::string("fleet --seconds 1 ") + c.args);
        EXPECT_EQ(bad.exitCode, 2) << c.args << "\n" << bad.out;
        EXPECT_NE(bad.out.find(c.says), std::string::npos) << c.args << "\n" << bad.out;
    }
}

} // namespace
