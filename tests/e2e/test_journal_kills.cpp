// The built desk trading through the link and killed at random moments, without any save in
// between: after each restart every report that was answered before the kill is in the order
// list, and no leg that was answered as opened is handed out again. And a folder the journal
// cannot be written in: Standby, the message, a non-zero exit.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "desk/core/orderjournal.h"
#include "desk/core/orderlist.h"
#include "desk_process.h"
#include "platform/clientdataset.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "tests/support/tempdir.h"
#include "transaction_steps.h"

using namespace quorvel;
using namespace quorvel::e2e;

namespace {

// One table, awake, no modes, no pauses, no automatic save: only the journal keeps the run.
void WriteConfig(const fs::path& root) {
    std::ofstream ini(root / "bin" / "config.ini", std::ios::binary);
    ini << "[Defaults]\r\nStandby=0\r\nSeqMode=0\r\nDelMode=0\r\nTables=1\r\nTimeout=60\r\n"
           "AlertLevel=-1\r\nAutoSaveMinutes=0\r\nCombinationPause=0\r\nClosingPause=0\r\n";
}

// What the EAs were told had been recorded, leg by leg.
struct Leg {
    int32_t ea = 0;
    int32_t ticket = 0;     // 503 answered
    int32_t openPrice = 0;  // 506 answered
    bool closed = false;    // 504 answered
    int32_t closePrice = 0; // 508 answered
};

// Two EAs trading every waiting transaction through its life until the link breaks: quotes
// that trigger, the hand-out, ticket and fill, quotes that close, the close question, the
// close and its price. Every answered report goes into `legs`; a hand-out of a leg that was
// answered as opened counts in `twice`.
struct Driver {
    std::map<int32_t, Leg> legs;
    int twice = 0;
    int32_t nextTicket = 80001;

    static void Quote(LinkClient& ea, int32_t id, int32_t bid, int32_t ask) {
        ea.Send(EAMsg::NewDataBid, id, bid);
        ea.Send(EAMsg::NewDataAsk, id, ask);
        ea.Send(EAMsg::DataComplete, id, 0);
    }

    // Runs until every leg is closed (true) or the link breaks (false).
    bool Trade(const std::string& socket) {
        LinkClient eas[2];
        for (LinkClient& ea : eas)
            if (!ea.Connect(socket)) return false;
        try {
            for (int cycle = 0; cycle < 200; ++cycle) {
                Quote(eas[0], 1, 120000, 120005);
                Quote(eas[1], 2, 120010, 120015);
                for (int32_t id : {1, 2}) {
                    LinkClient& ea = eas[id - 1];
                    for (int32_t leg = ea.Send(EAMsg::OrderQuestion, id, 0); leg > 0;
                         leg = ea.Send(EAMsg::OrderQuestion, id, 0)) {
                        Leg& l = legs[leg];
                        if (l.ticket != 0) {
                            ++twice;
                            break; // it would be executed twice: not done, and counted
                        }
                        const int32_t ticket = nextTicket++;
                        ea.Send(EAMsg::OrderOpened, leg, ticket);
                        l.ea = id;
                        l.ticket = ticket;
                    }
                }
                for (auto& [leg, l] : legs) {
                    if (l.ticket == 0 || l.openPrice != 0) continue;
                    const int32_t price = l.ea == 1 ? 120005 : 120010;
                    eas[l.ea - 1].Send(EAMsg::OrderOpenPrice, leg, price);
                    l.openPrice = price;
                }
                Quote(eas[0], 1, 120020, 120025);
                Quote(eas[1], 2, 120018, 120022);
                bool open = false;
                for (auto& [leg, l] : legs) {
                    if (l.ticket == 0 || l.closed) continue;
                    LinkClient& ea = eas[l.ea - 1];
                    if (ea.Send(EAMsg::OrderCloseQuestions, leg, 0) != 1) {
                        open = true;
                        continue;
                    }
                    ea.Send(EAMsg::OrderClosed, leg, 0);
                    l.closed = true;
                    const int32_t price = l.ea == 1 ? 120020 : 120022;
                    ea.Send(EAMsg::OrderClosePrice, leg, price);
                    l.closePrice = price;
                }
                if (!open && !legs.empty() && cycle > 0) return true;
            }
        } catch (const LinkError&) {
            return false;
        }
        return true;
    }

    // After a restart: neither EA is handed a leg it was told had opened.
    void CheckNoHandOutOfOpenedLegs(const std::string& socket) {
        LinkClient ea;
        ASSERT_TRUE(ea.Connect(socket));
        for (int32_t id : {1, 2}) {
            const int32_t leg = ea.Send(EAMsg::OrderQuestion, id, 0);
            if (leg <= 0) continue;
            const auto it = legs.find(leg);
            EXPECT_TRUE(it == legs.end() || it->second.ticket == 0) << "leg " << leg << " handed out again";
        }
    }
};

TEST(JournalKills, EveryAnsweredReportSurvivesKillsAtRandomMomentsAndNoLegOpensTwice) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    WriteConfig(dir.Path());
    constexpr int kTransactions = 100;
    WriteWaitingTransactions(dir.Path() / "Orderlist.xml", kTransactions, -0.0001);
    const std::string before = ReadWholeFile((dir.Path() / "Orderlist.xml").string()).value_or("");

    Driver driver;
    std::mt19937 rng(20261210);
    std::uniform_int_distribution<int> delayMs(5, 150);
    int kills = 0;
    for (int round = 0; round < 20 && kills < 8; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(desk.Start()) << desk.StdErr();
        driver.CheckNoHandOutOfOpenedLegs(desk.SocketPath());
        const pid_t pid = desk.Pid();
        const int delay = delayMs(rng);
        std::atomic<bool> done{false};
        std::thread killer([&] {
            for (int ms = 0; ms < delay && !done; ++ms)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!done) kill(pid, SIGKILL);
        });
        const bool finished = driver.Trade(desk.SocketPath());
        done = true;
        killer.join();
        if (finished) {
            ASSERT_EQ(desk.Stop(), 0) << desk.StdErr();
            break;
        }
        desk.Kill();
        ++kills;
    }
    EXPECT_GE(kills, 3);
    // No save ran during the killed runs: what they left is in the journal alone.
    EXPECT_EQ(driver.twice, 0);

    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    driver.CheckNoHandOutOfOpenedLegs(desk.SocketPath());
    ASSERT_EQ(desk.Stop(), 0) << desk.StdErr();
    EXPECT_EQ(desk.StdErr().find("journal"), std::string::npos) << desk.StdErr();

    ClientDataSet saved("saved");
    saved.LoadFromFile((dir.Path() / "Orderlist.xml").string());
    EXPECT_EQ(saved.RecordCount(), 2 * kTransactions);
    std::set<int32_t> tickets;
    size_t reports = 0;
    for (const auto& [leg, l] : driver.legs) {
        SCOPED_TRACE(leg);
        if (l.ticket == 0) continue;
        ASSERT_TRUE(saved.Locate("OrderID", Variant(leg)));
        const auto f = [&](const char* name) { return saved.FieldByName(name).Value(); };
        EXPECT_EQ(f("Ticket").AsInteger(), l.ticket);
        EXPECT_NE(f("Status").AsInteger(), stToOpen);
        EXPECT_NE(f("Status").AsInteger(), stPending);
        ++reports;
        if (l.openPrice) {
            EXPECT_DOUBLE_EQ(f("Kurs").AsFloat(), l.openPrice / 100000.0);
            ++reports;
        }
        if (l.closed) {
            EXPECT_EQ(f("Status").AsInteger(), stClosed);
            ++reports;
        }
        if (l.closePrice) {
            EXPECT_DOUBLE_EQ(f("CloseKurs").AsFloat(), l.closePrice / 100000.0);
            ++reports;
        }
        EXPECT_TRUE(tickets.insert(l.ticket).second);
    }
    EXPECT_GT(reports, 0u);
    EXPECT_NE(ReadWholeFile((dir.Path() / "Orderlist.xml").string()).value_or(""), before);
    std::printf("%d kills, %zu answered reports, all in the list\n", kills, reports);
}

TEST(JournalKills, AJournalThatCannotBeWrittenSetsStandbyTellsTheOperatorAndEndsNonZero) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    WriteConfig(dir.Path());
    WriteWaitingTransactions(dir.Path() / "Orderlist.xml", 1, -0.0001);
    {
        // The journal of that list, as a previous run left it.
        ClientDataSet list("list");
        std::string bytes = ReadWholeFile((dir.Path() / "Orderlist.xml").string()).value_or("");
        const ListFileId base = ListFileId::Of(bytes);
        list.LoadFromString(std::move(bytes), IdxOrderIDDesc());
        OrderJournal journal((dir.Path() / "Orderlist.journal").string());
        std::vector<std::string> notes;
        journal.Open(list, base, notes);
    }
    std::ofstream((dir.Path() / "stderr.log").string()).flush(); // the desk's stderr, kept writable
    // The folder and its state files read-only (files without a write bit stop root as well).
    const auto readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    for (const char* name : {"Orderlist.xml", "Orderlist.journal"})
        fs::permissions(dir.Path() / name, readOnly, fs::perm_options::replace);
    fs::permissions(dir.Path(),
                    readOnly | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::replace);

    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    {
        LinkClient buyer, seller;
        ASSERT_TRUE(buyer.Connect(desk.SocketPath()));
        ASSERT_TRUE(seller.Connect(desk.SocketPath()));
        // Quotes that would trigger the transaction: Standby keeps it waiting.
        Driver::Quote(buyer, 1, 120000, 120005);
        Driver::Quote(seller, 2, 120010, 120015);
        EXPECT_EQ(buyer.Send(EAMsg::OrderQuestion, 1, 0), -1);
        EXPECT_EQ(seller.Send(EAMsg::OrderQuestion, 2, 0), -1);
    }
    const int rc = desk.Stop();
    fs::permissions(dir.Path(), fs::perms::owner_all, fs::perm_options::replace);
    EXPECT_NE(rc, 0);
    EXPECT_NE(rc, -2) << "the desk did not end";
    const std::string err = desk.StdErr();
    EXPECT_NE(err.find("The order list's journal cannot be written"), std::string::npos) << err;
    EXPECT_NE(err.find("Standby is set"), std::string::npos) << err;
}

} // namespace
