// The main window's link and the order list's journal: when an EA has the answer to a report,
// the change the report made is already in Orderlist.journal.
#include <QApplication>
#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

#include "desk/core/orderjournal.h"
#include "desk/core/orderlist.h"
#include "desk/uSkarlin.h"
#include "platform/files.h"
#include "tests/support/qt/loopuntil.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;

namespace {

// Whether the journal holds a change that set `field` of any leg to `value`.
bool JournalHolds(const std::string& path, const std::string& field, double value) {
    const journal::Parsed p = journal::Parse(ReadWholeFile(path).value_or(""));
    int column = -1;
    for (size_t c = 0; c < p.columns.size(); ++c)
        if (p.columns[c].name == field) column = static_cast<int>(c);
    for (const journal::Change& change : p.changes)
        for (const auto& [c, v] : change.cells)
            if (c == column && !v.IsNull() && v.Raw() == value) return true;
    return false;
}

TEST(JournalThroughTheLink, AReportIsOnDiskWhenItsAnswerArrives) {
    test::TempDir dir;
    DeskPaths p = test::PathsIn(dir);
    std::ofstream(p.configIni, std::ios::binary)
        << "[Defaults]\r\nStandby=0\r\nSeqMode=0\r\nTables=1\r\nTimeout=60\r\nAlertLevel=-1\r\n"
           "CombinationPause=0\r\nAutoSaveMinutes=0\r\n";
    {
        ClientDataSet list("list");
        list.CreateDataSet(OrderListFieldDefs(), IdxOrderIDDesc());
        for (int32_t type : {int32_t{otBuy}, int32_t{otSell}}) {
            list.Append();
            if (type == otSell) list.FieldByName("FirstOrderID").SetAsInteger(1);
            list.FieldByName("TableID").SetAsInteger(0);
            list.FieldByName("OrderType").SetAsInteger(type);
            list.FieldByName("Status").SetAsInteger(stToOpen);
            list.FieldByName("Lots").SetAsFloat(0.1);
            list.FieldByName("Spread").SetAsCurrency(-0.00002);
            for (int k = 1; k <= 10; ++k)
                list.FieldByName("ID" + std::to_string(k)).SetAsInteger(k <= 2 ? k : -1);
            list.Post();
        }
        list.SaveToFile(p.orderList);
    }
    const std::string path = dir.File("xdg/TForm3");
    TForm3 form(p, path);
    std::atomic<bool> done{false};
    std::atomic<int> handedOut{0}, found{0}, missing{0};
    std::thread ea([&] {
        LinkClient c;
        if (c.Connect(path)) {
            for (int32_t id : {1, 2}) {
                c.Send(EAMsg::NewDataBid, id, id == 1 ? 120000 : 120010);
                c.Send(EAMsg::NewDataAsk, id, id == 1 ? 120005 : 120015);
                c.Send(EAMsg::DataComplete, id, 0);
            }
            for (int32_t id : {1, 2}) {
                const int32_t leg = c.Send(EAMsg::OrderQuestion, id, 0);
                if (leg <= 0) continue;
                ++handedOut;
                const int32_t ticket = 7000 + id;
                c.Send(EAMsg::OrderOpened, leg, ticket);
                (JournalHolds(p.orderJournal, "Ticket", ticket) ? found : missing)++;
                c.Send(EAMsg::OrderOpenPrice, leg, 120005);
                (JournalHolds(p.orderJournal, "Kurs", 1.20005) ? found : missing)++;
            }
        }
        done = true;
    });
    test::LoopUntil([&] { return done.load(); }, 20000);
    ea.join();
    ASSERT_TRUE(done.load());
    EXPECT_EQ(handedOut.load(), 2);
    EXPECT_EQ(found.load(), 4);
    EXPECT_EQ(missing.load(), 0);
}

} // namespace
