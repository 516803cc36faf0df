// The fleet's desk folder (config.ini and the waiting transactions, read back by the desk
// itself) and the check of how the transactions of a run ended.
#include <gtest/gtest.h>

#include <set>

#include "desk/core/notifications.h"
#include "desk/core/orderlist.h"
#include "deskharness.h"
#include "tools/fleetfiles.h"

namespace quorvel::test {
namespace {

using fleet::TransactionEnd;

TEST(FleetEAs, DealtOutOverTheTablesInTurn) {
    struct Case {
        int eas, tables;
        std::vector<std::vector<int32_t>> want;
    };
    const Case cases[] = {
        {7, 0, {{1, 2, 3, 4, 5, 6, 7}}},
        {20, 0, {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {11, 12, 13, 14, 15, 16, 17, 18, 19, 20}}},
        {7, 3, {{1, 2, 3}, {11, 12}, {21, 22}}},
        {21, 2, {}},  // eleven on a table
        {10, 21, {}}, // more tables than the desk has
        {0, 1, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fleet::EAsByTable(c.eas, c.tables), c.want) << c.eas << " EAs, " << c.tables;
    const auto all = fleet::EAsByTable(200, 20);
    ASSERT_EQ(all.size(), 20u);
    EXPECT_EQ(all[19].back(), 200);
}

// One fleet process of several plays the EAs of its IDs with the tables the whole fleet deals
// them to, so that every share trades the same prepared desk.
TEST(FleetEAs, AShareKeepsTheWholeFleetsTables) {
    struct Case {
        int eas, tables;
        const char* ids;
        std::vector<int32_t> tables_;
        std::vector<std::vector<int32_t>> byTable;
        std::vector<int32_t> split;
    };
    const Case cases[] = {
        {7, 3, "11-12", {1}, {{11, 12}}, {}},
        {7, 3, "2,21-22", {0, 2}, {{2}, {21, 22}}, {0}},
        {12, 2, "1-6", {0}, {{1, 2, 3, 4, 5, 6}}, {}},
        {200, 20, "151-200", {15, 16, 17, 18, 19}, {}, {}},
    };
    for (const Case& c : cases) {
        EaIdRanges ids;
        ASSERT_TRUE(EaIdRanges::Parse(c.ids, ids)) << c.ids;
        fleet::FleetShare share;
        std::string error;
        ASSERT_TRUE(fleet::ShareOfFleet(c.eas, c.tables, ids, share, error)) << c.ids << ": " << error;
        EXPECT_EQ(share.tables, c.tables_) << c.ids;
        if (!c.byTable.empty()) {
            EXPECT_EQ(share.byTable, c.byTable) << c.ids;
        }
        EXPECT_EQ(share.splitTables, c.split) << c.ids;
    }
    EaIdRanges ids;
    ASSERT_TRUE(EaIdRanges::Parse("151-200", ids));
    fleet::FleetShare share;
    std::string error;
    ASSERT_TRUE(fleet::ShareOfFleet(200, 20, ids, share, error));
    EXPECT_EQ(share.Count(), 50u);
    EXPECT_EQ(share.byTable.front().front(), 151);
    EXPECT_EQ(share.byTable.back().back(), 200);
}

TEST(FleetEAs, AShareNamingEAsTheFleetDoesNotPlayIsRefused) {
    struct Case {
        int eas, tables;
        const char* ids;
        const char* named; // the EA ID the refusal names
    };
    const Case cases[] = {
        {7, 3, "3-4", "EA ID 4 "},           // table 0 holds EAs 1 to 3
        {20, 0, "1-25", "EA ID 21 "},        // two tables: 1..10 and 11..20
        {200, 20, "151-2000", "EA ID 201 "}, // past the fleet
        {40, 4, "999999", "EA ID 999999 "},  // far past it
        {21, 2, "1-5", "do not fit"},        // eleven on a table
    };
    for (const Case& c : cases) {
        EaIdRanges ids;
        ASSERT_TRUE(EaIdRanges::Parse(c.ids, ids)) << c.ids;
        fleet::FleetShare share;
        std::string error;
        EXPECT_FALSE(fleet::ShareOfFleet(c.eas, c.tables, ids, share, error)) << c.ids;
        EXPECT_NE(error.find(c.named), std::string::npos) << c.ids << ": " << error;
        EXPECT_EQ(share.Count(), 0u) << c.ids;
    }
}

struct FleetFolder : DeskHarness {};

// The desk reads the prepared folder as a desk folder: it trades ("Standby" unticked, no
// trend-ordered opening), answers every EA of the fleet, and finds K waiting transactions over
// the brokers of their tables after the closed history.
TEST_F(FleetFolder, TheDeskLoadsItReadyToTrade) {
    fleet::PrepareOptions o;
    o.eas = 7;
    o.tables = 3;
    o.transactions = 10;
    o.history = 5;
    fleet::WriteFleetConfig(Paths().configIni, o);
    fleet::WriteFleetOrderList(Paths().orderList, o);
    Desk& d = Make();
    d.FormCreate();
    EXPECT_FALSE(controls.Checked(Ctl::chkbStandby));
    EXPECT_FALSE(controls.Checked(Ctl::chkbSeqMode));
    EXPECT_FALSE(controls.Checked(Ctl::chkbDelayMode));
    EXPECT_EQ(d.settings.maxIDs, 30);
    // The desk's own automatic transactions would trade with the fleet: none without credits,
    // the fleet's spreads in every order box, the fleet's EAs ticked.
    EXPECT_EQ(controls.SpinValue(Ctl::seMaxAutoTrades), 0);
    for (int t = 0; t < 3; ++t) {
        EXPECT_NEAR(controls.FrameRealValue(t, FrameCtl::reSpread1), fleet::kOpenSpreadPoints * 0.00001,
                    1e-12);
        EXPECT_NEAR(controls.FrameRealValue(t, FrameCtl::reCloseSpread1), fleet::kCloseSpreadPoints * 0.00001,
                    1e-12);
        EXPECT_TRUE(controls.FrameChecked(t, FrameCtl::rbBuySell1));
    }
    EXPECT_TRUE(controls.BrokerChecked(0, 2)); // EA 3
    EXPECT_TRUE(controls.BrokerChecked(2, 1)); // EA 22

    ClientDataSet& ds = d.orders.m_CDSOrderlisteAnzeige;
    ASSERT_TRUE(ds.Active());
    ASSERT_EQ(ds.RecordCount(), 5 + 2 * 10);
    const auto byTable = fleet::EAsByTable(o.eas, o.tables);
    int closed = 0, waiting = 0, oneSided = 0;
    for (ds.First(); !ds.Eof(); ds.Next()) {
        const int32_t id = ds.FieldByName("OrderID").AsInteger();
        const int32_t status = ds.FieldByName("Status").AsInteger();
        const int32_t type = ds.FieldByName("OrderType").AsInteger();
        const int32_t table = ds.FieldByName("TableID").AsInteger();
        ASSERT_GE(table, 0);
        ASSERT_LT(table, 3);
        if (status == stClosed) {
            ++closed;
            EXPECT_LE(id, 5) << "history comes first";
            continue;
        }
        EXPECT_GT(id, 5);
        const int32_t counter = d.orders.GetCounterOrderID(id);
        ASSERT_GT(counter, 0) << id;
        EXPECT_EQ(d.orders.GetCounterOrderID(counter), id);
        if (type == otNone) {
            EXPECT_EQ(status, stNoLeg);
            ++oneSided;
            continue;
        }
        EXPECT_EQ(status, stToOpen);
        EXPECT_NE(d.orders.GetOrderTypeByID(counter), type);
        ++waiting;
        // Its brokers are the fleet's EAs of its table, the unused ones -1.
        std::vector<int32_t> brokers;
        for (int k = 1; k <= 10; ++k) {
            const int32_t b = ds.FieldByName("ID" + std::to_string(k)).AsInteger();
            if (b != -1) brokers.push_back(b);
        }
        EXPECT_EQ(brokers, byTable[static_cast<size_t>(table)]);
        EXPECT_EQ(ds.FieldByName("CloseBedingung").AsInteger(), 1);
        EXPECT_NEAR(ds.FieldByName("Spread").AsCurrency(), fleet::kOpenSpreadPoints * 0.00001, 1e-12);
    }
    EXPECT_EQ(closed, 5);
    EXPECT_EQ(oneSided, 2); // every fifth transaction
    EXPECT_EQ(waiting, 18);
}

TEST_F(FleetFolder, TheTrendModesAndAutoTradeCreditsAreSetAsAsked) {
    struct Case {
        bool seq, del;
    };
    for (const Case c : {Case{true, false}, Case{false, true}, Case{true, true}}) {
        fleet::PrepareOptions o;
        o.seqMode = c.seq;
        o.delMode = c.del;
        o.autoTrades = 5;
        std::filesystem::remove(Paths().configIni);
        fleet::WriteFleetConfig(Paths().configIni, o);
        Make().FormCreate();
        EXPECT_EQ(controls.Checked(Ctl::chkbSeqMode), c.seq);
        EXPECT_EQ(controls.Checked(Ctl::chkbDelayMode), c.del);
        EXPECT_FALSE(controls.Checked(Ctl::chkbStandby));
        EXPECT_EQ(controls.SpinValue(Ctl::seMaxAutoTrades), 5);
    }
}

// With credits, the desk places its automatic transactions at a cross spread the fleet quotes:
// two EAs of a table 17 points apart, the spread the order boxes open at, place one; 16 points
// place none.
TEST_F(FleetFolder, WithCreditsTheFleetsSpreadPlacesAnAutomaticTransaction) {
    struct Case {
        int32_t apart;
        int placed;
    };
    for (const Case c : {Case{17, 1}, Case{16, 0}}) {
        fleet::PrepareOptions o;
        o.eas = 10;
        o.transactions = 0;
        o.autoTrades = 5;
        std::filesystem::remove(Paths().configIni);
        fleet::WriteFleetConfig(Paths().configIni, o);
        Desk& d = Make();
        d.FormCreate();
        controls.checked[Ctl::cbAutoTrade] = true; // as "Reset AT" ticks it
        constexpr int32_t mid = 110000;
        Quote(1, mid - fleet::kQuoteSpreadPoints / 2, mid + fleet::kQuoteSpreadPoints / 2);
        Quote(2, mid + c.apart - fleet::kQuoteSpreadPoints / 2,
              mid + c.apart + fleet::kQuoteSpreadPoints / 2);
        EXPECT_EQ(d.orders.m_CDSOrderlisteAnzeige.RecordCount(), 2 * c.placed) << c.apart << " points apart";
        EXPECT_EQ(controls.SpinValue(Ctl::seMaxAutoTrades), 5 - c.placed) << c.apart << " points apart";
    }
}

TEST(FleetFolderErrors, EAsThatDoNotFitAreRefused) {
    TempDir dir;
    fleet::PrepareOptions o;
    o.eas = 3;
    o.tables = 2; // one table would hold a single EA: nothing can trade there
    EXPECT_THROW(fleet::WriteFleetOrderList(dir.File("Orderlist.xml"), o), std::invalid_argument);
    o.eas = 25;
    EXPECT_THROW(fleet::WriteFleetOrderList(dir.File("Orderlist.xml"), o), std::invalid_argument);
    EXPECT_FALSE(std::filesystem::exists(dir.File("Orderlist.xml")));
}

// ---- the check after a run --------------------------------------------------------------------

struct LegSpec {
    int32_t type, status, ea, ticket;
};

struct EndCase {
    const char* name;
    std::vector<LegSpec> legs;
    std::vector<std::string> notes;
    TransactionEnd want;
};

TEST(FleetCheck, HowEachTransactionEnded) {
    const std::string manual1 = "OPEN POSITION: MANUAL CLOSE REQUIRED: OrderNo=501 - Account=1000001 - EA=1";
    const std::vector<EndCase> cases = {
        {"both closed", {{otBuy, stClosed, 1, 501}, {otSell, stClosed, 2, 502}}, {}, TransactionEnd::Ended},
        {"closed and canceled",
         {{otBuy, stClosed, 1, 501}, {otSell, stCanceled, 2, 0}},
         {},
         TransactionEnd::Ended},
        {"both canceled", {{otBuy, stCanceled, 1, 0}, {otSell, stCanceled, 2, 0}}, {}, TransactionEnd::Ended},
        {"never started", {{otBuy, stToOpen, -1, 0}, {otSell, stToOpen, -1, 0}}, {}, TransactionEnd::Waiting},
        {"one-sided closed", {{otBuy, stClosed, 1, 501}, {otNone, stNoLeg, 2, 0}}, {}, TransactionEnd::Ended},
        {"one-sided waiting",
         {{otNone, stNoLeg, -1, 0}, {otSell, stToOpen, -1, 0}},
         {},
         TransactionEnd::Waiting},
        {"waits again beside a closed leg",
         {{otBuy, stToOpen, -1, 0}, {otSell, stClosed, 2, 502}},
         {},
         TransactionEnd::Ended},
        {"open leg, operator told",
         {{otBuy, stOpened, 1, 501}, {otSell, stCanceled, 2, 0}},
         {manual1},
         TransactionEnd::Manual},
        {"open leg, nobody told",
         {{otBuy, stOpened, 1, 501}, {otSell, stCanceled, 2, 0}},
         {},
         TransactionEnd::HalfOpen},
        {"told about another EA's leg",
         {{otBuy, stCloseCond, 1, 501}, {otSell, stCanceled, 2, 0}},
         {"OPEN POSITION: MANUAL CLOSE REQUIRED: OrderNo=501 - Account=1000001 - EA=11"},
         TransactionEnd::HalfOpen},
        {"told about one open leg of two",
         {{otBuy, stOpened, 1, 501}, {otSell, stOpened, 2, 502}},
         {manual1},
         TransactionEnd::HalfOpen},
        {"both pending", {{otBuy, stPending, 1, 0}, {otSell, stPending, 2, 0}}, {}, TransactionEnd::HalfOpen},
        {"still to close",
         {{otBuy, stToClose, 1, 501}, {otSell, stClosed, 2, 502}},
         {},
         TransactionEnd::HalfOpen},
        {"one-sided left open",
         {{otNone, stNoLeg, 1, 0}, {otSell, stCloseCond, 2, 502}},
         {},
         TransactionEnd::HalfOpen},
    };
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ClientDataSet ds("legs");
        ds.CreateDataSet(OrderListFieldDefs());
        int32_t first = 0;
        // A closed transaction of other EAs before it, so that the grouping is tested too.
        for (int pass = 0; pass < 2; ++pass) {
            const std::vector<LegSpec> legs =
                pass == 0 ? std::vector<LegSpec>{{otBuy, stClosed, 5, 1}, {otSell, stClosed, 6, 2}} : c.legs;
            first = 0;
            for (const LegSpec& leg : legs) {
                ds.Append();
                if (first) ds.FieldByName("FirstOrderID").SetAsInteger(first);
                ds.FieldByName("OrderType").SetAsInteger(leg.type);
                ds.FieldByName("Status").SetAsInteger(leg.status);
                if (leg.ea > 0) {
                    ds.FieldByName("EAID").SetAsInteger(leg.ea);
                    ds.FieldByName("Account").SetAsInteger(1000000 + leg.ea);
                }
                if (leg.ticket) ds.FieldByName("Ticket").SetAsInteger(leg.ticket);
                ds.Post();
                if (!first) first = ds.FieldByName("OrderID").AsInteger();
            }
        }
        ds.SaveToFile(dir.File("Orderlist.xml"));
        NotificationList notes;
        notes.Add(45000.5, ':', "LONG-Position CLOSED: OrderNo=501 - Account=1000001 - EA=1");
        for (const std::string& n : c.notes) notes.Add(45000.5, ':', n);
        notes.Save(dir.File("Notifications.txt"));

        const fleet::CheckReport r =
            fleet::CheckOrderList(dir.File("Orderlist.xml"), dir.File("Notifications.txt"));
        ASSERT_EQ(r.transactions.size(), 2u);
        EXPECT_EQ(r.transactions[0].end, TransactionEnd::Ended);
        EXPECT_EQ(r.transactions[1].key, 3);
        EXPECT_EQ(r.transactions[1].legs.size(), c.legs.size());
        EXPECT_EQ(r.transactions[1].end, c.want);
        EXPECT_EQ(r.halfOpen, c.want == TransactionEnd::HalfOpen ? 1 : 0);
    }
}

TEST(FleetCheck, ADamagedOrderListIsAnError) {
    TempDir dir;
    std::ofstream(dir.File("Orderlist.xml")) << "<DATAPACKET";
    EXPECT_ANY_THROW(fleet::CheckOrderList(dir.File("Orderlist.xml"), dir.File("Notifications.txt")));
    EXPECT_ANY_THROW(fleet::CheckOrderList(dir.File("missing.xml"), dir.File("Notifications.txt")));
}

} // namespace
} // namespace quorvel::test
