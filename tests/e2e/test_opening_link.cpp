// A waiting transaction through the built desk and the real link: two EAs quote, the
// transaction triggers, each EA collects, executes and reports its leg, and the saved order
// list holds both legs waiting for their close condition.
#include <gtest/gtest.h>

#include "../unit/tempdir.h"
#include "desk/core/orderlist.h"
#include "desk_process.h"
#include "platform/clientdataset.h"

using namespace quorvel;
using namespace quorvel::e2e;

namespace {

constexpr int32_t BID = WM_APP + 400, ASK = WM_APP + 401, ACCOUNT = WM_APP + 403, COMPLETE = WM_APP + 404,
                  QUESTION = WM_APP + 500, TYPE = WM_APP + 501, LOTS = WM_APP + 502, OPENED = WM_APP + 503,
                  PRICE = WM_APP + 506, BY_TICKET = WM_APP + 510, TRIGGER = WM_APP + 513;

// config.ini beside the desk's executable: the engine awake, one table, a generous timeout.
void WriteConfig(const DeskProcess& desk, bool seqMode) {
    std::ofstream ini(desk.Root() / "bin" / "config.ini", std::ios::binary);
    ini << "[Defaults]\r\nTables=1\r\nStandby=0\r\nDelMode=0\r\nSeqMode=" << (seqMode ? 1 : 0)
        << "\r\nTimeout=60\r\nAutoSaveMinutes=0\r\n";
}

// Orderlist.xml with one waiting transaction of table 0 over EAs 1 and 2: OrderID 1 buys,
// OrderID 2 sells, target -0.00019, close below -0.00009, slippage correction on.
void WriteWaitingTransaction(const DeskProcess& desk) {
    ClientDataSet ds;
    ds.CreateDataSet(OrderListFieldDefs(), IdxOrderIDDesc());
    for (int leg = 1; leg <= 2; ++leg) {
        ds.Append();
        ds.FieldByName("TableID").SetAsInteger(0);
        ds.FieldByName("Lots").SetAsFloat(0.29);
        ds.FieldByName("OrderType").SetAsInteger(leg == 1 ? otBuy : otSell);
        ds.FieldByName("Bedingung").SetAsInteger(1);
        ds.FieldByName("Spread").SetAsCurrency(-0.00019);
        ds.FieldByName("Status").SetAsInteger(stToOpen);
        for (int k = 1; k <= 10; ++k) ds.FieldByName("ID" + std::to_string(k)).SetAsInteger(k <= 2 ? k : -1);
        ds.FieldByName("Zeitpunkt").SetAsDateTime(NowLocal());
        ds.FieldByName("CloseBedingung").SetAsInteger(1);
        ds.FieldByName("CloseSpread").SetAsCurrency(-0.00009);
        if (leg == 2) ds.FieldByName("FirstOrderID").SetAsInteger(1);
        ds.FieldByName("SlippageAusgleich").SetAsBoolean(true);
        ds.FieldByName("AutoClose").SetAsBoolean(false);
        ds.FieldByName("MaxVerlust").SetAsCurrency(-0.0001);
        ds.Post();
    }
    ds.SaveToFile((desk.Root() / "Orderlist.xml").string());
}

// EA 1 quotes first with the lowest ask, EA 2 then with the highest bid: a cross spread of
// -19 points, and the mid price rising from EA 1's quote to EA 2's.
void QuoteBoth(LinkClient& ea1, LinkClient& ea2) {
    EXPECT_EQ(ea1.Send(ACCOUNT, 1, 5550001), 4);
    EXPECT_EQ(ea1.Send(BID, 1, 123440), 2);
    EXPECT_EQ(ea1.Send(ASK, 1, 123456), 1);
    EXPECT_EQ(ea1.Send(COMPLETE, 1, 0), 5);
    EXPECT_EQ(ea2.Send(ACCOUNT, 2, 5550002), 4);
    EXPECT_EQ(ea2.Send(BID, 2, 123475), 2);
    EXPECT_EQ(ea2.Send(ASK, 2, 123490), 1);
    EXPECT_EQ(ea2.Send(COMPLETE, 2, 0), 5);
}

struct Leg {
    int32_t status, ticket, account, eaid;
    double kurs, toSpread, trigOpenKurs;
    bool waited;
};
std::vector<Leg> SavedLegs(const DeskProcess& desk) {
    ClientDataSet ds;
    ds.LoadFromFile((desk.Root() / "Orderlist.xml").string());
    std::vector<Leg> legs;
    for (int32_t id : {1, 2}) {
        EXPECT_TRUE(ds.Locate("OrderID", Variant(id)));
        legs.push_back({ds.FieldByName("Status").AsInteger(), ds.FieldByName("Ticket").AsInteger(),
                        ds.FieldByName("Account").AsInteger(), ds.FieldByName("EAID").AsInteger(),
                        ds.FieldByName("Kurs").AsFloat(), ds.FieldByName("TO_Spread").AsFloat(),
                        ds.FieldByName("TrigOpenKurs").AsFloat(),
                        ds.FieldByName("OpenAfterCounterOrder").AsBoolean()});
    }
    return legs;
}

TEST(OpeningLink, TwoEAsOpenATransactionToItsCloseCondition) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    WriteConfig(desk, false);
    WriteWaitingTransaction(desk);
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    LinkClient ea1, ea2;
    ASSERT_TRUE(ea1.Connect(desk.SocketPath()));
    ASSERT_TRUE(ea2.Connect(desk.SocketPath()));
    EXPECT_EQ(ea1.Send(QUESTION, 1, 0), -1); // nothing to do before the quotes
    QuoteBoth(ea1, ea2);

    struct Step {
        LinkClient& ea;
        int32_t id, orderID, direction, trigger, ticket, fill;
    };
    const Step steps[] = {{ea1, 1, 1, 1, 123456, 70001, 123456}, {ea2, 2, 2, 2, 123475, 70002, 123470}};
    for (const Step& s : steps) {
        ASSERT_EQ(s.ea.Send(QUESTION, s.id, 0), s.orderID) << s.id;
        EXPECT_EQ(s.ea.Send(TYPE, s.orderID, 0), s.direction);
        EXPECT_EQ(s.ea.Send(LOTS, s.orderID, 0), 29);
        EXPECT_EQ(s.ea.Send(TRIGGER, s.orderID, 0), s.trigger);
    }
    for (const Step& s : steps) EXPECT_EQ(s.ea.Send(OPENED, s.orderID, s.ticket), 0);
    for (const Step& s : steps) EXPECT_EQ(s.ea.Send(PRICE, s.orderID, s.fill), 0);
    EXPECT_EQ(ea1.Send(QUESTION, 1, 0), -1);
    EXPECT_EQ(ea2.Send(BY_TICKET, 0, 70002), 2);
    EXPECT_EQ(ea2.Send(BY_TICKET, 0, 12345), -1);
    ea1.Disconnect();
    ea2.Disconnect();
    ASSERT_EQ(desk.Stop(), 0);

    const std::vector<Leg> legs = SavedLegs(desk);
    ASSERT_EQ(legs.size(), 2u);
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(legs[k].status, stCloseCond);
        EXPECT_EQ(legs[k].ticket, steps[k].ticket);
        EXPECT_EQ(legs[k].account, 5550001 + k);
        EXPECT_EQ(legs[k].eaid, 1 + k);
        EXPECT_DOUBLE_EQ(legs[k].kurs, steps[k].fill / 100000.0);
        EXPECT_DOUBLE_EQ(legs[k].toSpread, -0.00014);
        EXPECT_DOUBLE_EQ(legs[k].trigOpenKurs, steps[k].trigger / 100000.0);
    }
}

TEST(OpeningLink, InSeqModeTheTrailingLegGoesOnceItsCounterIsOpened) {
    test::TempDir dir;
    DeskProcess desk(dir.Path());
    WriteConfig(desk, true);
    WriteWaitingTransaction(desk);
    ASSERT_TRUE(desk.Start()) << desk.StdErr();
    LinkClient ea1, ea2;
    ASSERT_TRUE(ea1.Connect(desk.SocketPath()));
    ASSERT_TRUE(ea2.Connect(desk.SocketPath()));
    QuoteBoth(ea1, ea2); // rising: buy first, the sell leg waits
    EXPECT_EQ(ea2.Send(QUESTION, 2, 0), -1);
    ASSERT_EQ(ea1.Send(QUESTION, 1, 0), 1);
    EXPECT_EQ(ea2.Send(QUESTION, 2, 0), -1); // its counter order is Pending, not opened
    EXPECT_EQ(ea1.Send(OPENED, 1, 80001), 0);
    EXPECT_EQ(ea2.Send(QUESTION, 2, 0), 2);
    EXPECT_EQ(ea2.Send(OPENED, 2, 80002), 0);
    ea1.Disconnect();
    ea2.Disconnect();
    ASSERT_EQ(desk.Stop(), 0);

    const std::vector<Leg> legs = SavedLegs(desk);
    ASSERT_EQ(legs.size(), 2u);
    EXPECT_EQ(legs[0].status, stOpened);
    EXPECT_FALSE(legs[0].waited);
    EXPECT_EQ(legs[1].status, stOpened);
    EXPECT_TRUE(legs[1].waited);
    EXPECT_EQ(legs[1].ticket, 80002);
}

} // namespace
