// One transaction through its whole life on the real desk: the quotes trigger it, both EAs
// collect, execute and report their legs, ask about closing until the close spread is reached,
// close, and report the close, the close price and the profit. The saved Orderlist.xml and
// Notifications.txt tell what was recorded.
#include <gtest/gtest.h>

#include <string>

#include "../unit/tempdir.h"
#include "desk/core/orderlist.h"
#include "desk_process.h"
#include "platform/clientdataset.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "transaction_steps.h"

using namespace quorvel;
using namespace quorvel::e2e;

namespace {

TEST(CloseTransaction, FromItsQuotesToClosedOnBothLegs) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    WriteOneTableConfig(dir.Path());
    WriteWaitingTransaction(dir.Path() / "Orderlist.xml", -0.0001);
    const TDateTime started = NowLocal();
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    EA buyer{1, {}}, seller{2, {}};
    ASSERT_TRUE(buyer.link.Connect(desk.SocketPath()));
    ASSERT_TRUE(seller.link.Connect(desk.SocketPath()));
    EXPECT_EQ(buyer.Send(EAMsg::NewDataAccount, 1, 5550001), 4);
    EXPECT_EQ(seller.Send(EAMsg::NewDataAccount, 2, 5550002), 4);

    // EA 1's ask 1.20005 and EA 2's bid 1.20010 cross by -5 points: the transaction triggers.
    buyer.Quote(120000, 120005);
    seller.Quote(120010, 120015);

    // Each EA collects its leg, executes it and reports the ticket and the fill.
    const int32_t buyLeg = buyer.Send(EAMsg::OrderQuestion, 1);
    const int32_t sellLeg = seller.Send(EAMsg::OrderQuestion, 2);
    ASSERT_GT(buyLeg, 0);
    ASSERT_GT(sellLeg, 0);
    EXPECT_NE(buyLeg, sellLeg);
    EXPECT_EQ(buyer.Send(EAMsg::GetOrderType, buyLeg), 1);
    EXPECT_EQ(seller.Send(EAMsg::GetOrderType, sellLeg), 2);
    EXPECT_EQ(buyer.Send(EAMsg::GetOrderLots, buyLeg), 10);
    EXPECT_EQ(buyer.Send(EAMsg::OrderOpened, buyLeg, 7001), 0);
    EXPECT_EQ(buyer.Send(EAMsg::OrderOpenPrice, buyLeg, 120005), 0);
    EXPECT_EQ(seller.Send(EAMsg::OrderOpened, sellLeg, 7002), 0);
    EXPECT_EQ(seller.Send(EAMsg::OrderOpenPrice, sellLeg, 120010), 0);

    // Close questions: EA 2's ask 1.20015 - EA 1's bid 1.20000 = 15 points, above the 5 of the
    // close spread; nothing closes.
    EXPECT_EQ(buyer.Send(EAMsg::OrderCloseQuestions, buyLeg), 0);
    EXPECT_EQ(seller.Send(EAMsg::OrderCloseQuestions, sellLeg), 0);
    EXPECT_EQ(buyer.Send(EAMsg::GetTriggerPriceClose, buyLeg), 0);
    // Then 1.20022 - 1.20020 = 2 points: both legs are to close now.
    buyer.Quote(120020, 120025);
    seller.Quote(120018, 120022);
    EXPECT_EQ(buyer.Send(EAMsg::OrderCloseQuestions, buyLeg), 1);
    EXPECT_EQ(seller.Send(EAMsg::OrderCloseQuestions, sellLeg), 1);
    EXPECT_EQ(buyer.Send(EAMsg::GetTriggerPriceClose, buyLeg), 120020);
    EXPECT_EQ(seller.Send(EAMsg::GetTriggerPriceClose, sellLeg), 120022);

    // The three reports of each leg, with the profit of 0.1 lots.
    EXPECT_EQ(buyer.Send(EAMsg::OrderClosed, buyLeg), 0);
    EXPECT_EQ(buyer.Send(EAMsg::OrderClosePrice, buyLeg, 120020), 0);
    EXPECT_EQ(buyer.Send(EAMsg::OrderProfitLoss, buyLeg, 150000), 0);
    EXPECT_EQ(seller.Send(EAMsg::OrderClosed, sellLeg), 0);
    EXPECT_EQ(seller.Send(EAMsg::OrderClosePrice, sellLeg, 120022), 0);
    EXPECT_EQ(seller.Send(EAMsg::OrderProfitLoss, sellLeg, -120000), 0);
    // A closed leg is not asked to close again.
    EXPECT_EQ(buyer.Send(EAMsg::OrderCloseQuestions, buyLeg), 0);
    buyer.link.Disconnect();
    seller.link.Disconnect();
    ASSERT_EQ(desk.Stop(SIGTERM), 0) << desk.StdErr();
    const TDateTime stopped = NowLocal();

    ClientDataSet saved("saved");
    saved.LoadFromFile((dir.Path() / "Orderlist.xml").string());
    ASSERT_EQ(saved.RecordCount(), 2);
    struct Want {
        int32_t id, type, ticket, account, ea;
        double kurs, closeKurs, gewinnPips, gewinn;
    };
    const Want legs[] = {{buyLeg, otBuy, 7001, 5550001, 1, 1.20005, 1.2002, 0.00015, 1.5},
                         {sellLeg, otSell, 7002, 5550002, 2, 1.2001, 1.20022, -0.00012, -1.2}};
    for (const Want& w : legs) {
        SCOPED_TRACE(w.id);
        ASSERT_TRUE(saved.Locate("OrderID", Variant(w.id)));
        auto f = [&](const char* name) { return saved.FieldByName(name).Value(); };
        EXPECT_EQ(f("Status").AsInteger(), stClosed);
        EXPECT_EQ(f("OrderType").AsInteger(), w.type);
        EXPECT_EQ(f("EAID").AsInteger(), w.ea);
        EXPECT_EQ(f("Ticket").AsInteger(), w.ticket);
        EXPECT_EQ(f("Account").AsInteger(), w.account);
        EXPECT_DOUBLE_EQ(f("Kurs").AsFloat(), w.kurs);
        EXPECT_DOUBLE_EQ(f("TO_Spread").AsFloat(), -0.00005);
        EXPECT_DOUBLE_EQ(f("TrigCloseKurs").AsFloat(), w.closeKurs);
        EXPECT_DOUBLE_EQ(f("CloseKurs").AsFloat(), w.closeKurs);
        EXPECT_DOUBLE_EQ(f("TC_Spread").AsFloat(), 0.00002);
        EXPECT_DOUBLE_EQ(f("GewinnPips").AsFloat(), w.gewinnPips);
        EXPECT_DOUBLE_EQ(f("Gewinn").AsFloat(), w.gewinn);
        // Times in their order, all within the run.
        const TDateTime pending = f("PendingTime").AsFloat(), opened = f("OrderOpenTime").AsFloat(),
                        closed = f("OrderCloseTime").AsFloat();
        const double slack = 1.0 / 86400.0; // the file keeps milliseconds
        EXPECT_GE(pending, started - slack);
        EXPECT_GE(opened, pending - slack);
        EXPECT_GE(closed, opened - slack);
        EXPECT_LE(closed, stopped + slack);
    }

    const auto text = ReadWholeFile((dir.Path() / "Notifications.txt").string());
    ASSERT_TRUE(text);
    EXPECT_NE(text->find(": LONG-Position CLOSED: OrderNo=7001 - Account=5550001 - EA=1\r\n"),
              std::string::npos)
        << *text;
    EXPECT_NE(text->find(": SHORT-Position CLOSED: OrderNo=7002 - Account=5550002 - EA=2\r\n"),
              std::string::npos)
        << *text;
    // Newest first: the sell leg closed last.
    EXPECT_LT(text->find("SHORT-Position CLOSED"), text->find("LONG-Position CLOSED"));
}

} // namespace
