// The close reports: "Closed" with its time, beeps and notification; the close price with the
// leg's gain and the transaction's achieved close spread; the profit or loss.
#include <gtest/gtest.h>

#include <climits>
#include <optional>

#include "closingfixture.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

using CloseReportsTest = ClosingDesk;

TEST_F(CloseReportsTest, ClosedFromAnyStatusWithTwoBeepsAndANotification) {
    struct Case {
        int32_t type, status;
        bool withNumbers; // Ticket, Account and EAID set
        const char* text;
    };
    const Case cases[] = {
        {otBuy, stToClose, true, "LONG-Position CLOSED: OrderNo=9003 - Account=5550003 - EA=3"},
        {otSell, stCanceled, true, "SHORT-Position CLOSED: OrderNo=9003 - Account=5550003 - EA=3"},
        {otBuy, stToOpen, true, "LONG-Position CLOSED: OrderNo=9003 - Account=5550003 - EA=3"},
        {otNone, stNoLeg, true, "SHORT-Position CLOSED: OrderNo=9003 - Account=5550003 - EA=3"},
        {otSell, stClosed, false, "SHORT-Position CLOSED: OrderNo= - Account= - EA="},
        {otBuy, stCloseCond, false, "LONG-Position CLOSED: OrderNo= - Account= - EA="},
    };
    controls.checked[Ctl::chkbStandby] = true; // reports are recorded in Standby too
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        clock.AdvanceSeconds(1.5);
        LegSpec s;
        s.type = c.type;
        s.status = c.status;
        s.ea = 3;
        const int32_t id = AddLeg(s);
        if (!c.withNumbers)
            for (const char* f : {"Ticket", "Account", "EAID"}) SetField(id, f, Variant());
        const int beeps = view.beeps;
        EXPECT_EQ(Send(kClosed, id), 0);
        EXPECT_EQ(Status(id), stClosed);
        EXPECT_DOUBLE_EQ(Get(id, "OrderCloseTime").AsFloat(), clock.Now());
        EXPECT_EQ(view.beeps, beeps + 2);
        ASSERT_FALSE(view.notifications.empty());
        EXPECT_EQ(view.notifications.back(), c.text);
        // A second report renews the close time.
        clock.AdvanceSeconds(0.25);
        EXPECT_EQ(Send(kClosed, id), 0);
        EXPECT_DOUBLE_EQ(Get(id, "OrderCloseTime").AsFloat(), clock.Now());
    }
}

TEST_F(CloseReportsTest, ClosePriceGivesTheGainAndTheSecondCompletesTheCloseSpreadOnBoth) {
    struct Case {
        const char* what;
        std::optional<double> buyKurs, sellKurs; // open prices; nullopt: none
        int32_t firstPoints, secondPoints;       // close prices as reported
        bool sellFirst;                          // which leg reports first
        double firstGain, secondGain;
        double closeSpread; // the sell leg's close price minus the buy leg's
    };
    const Case cases[] = {
        {"buy closes above its open price", 1.23456, 1.23456, 123500, 123500, false, 0.00044, -0.00044, 0.0},
        {"sell closes below its open price", 1.23456, 1.23456, 123400, 123390, true, 0.00056, -0.00066,
         0.0001},
        {"buy first, then sell", 1.23456, 1.23456, 123400, 123390, false, -0.00056, 0.00066, -0.0001},
        {"no open price counts as 0", std::nullopt, std::nullopt, 123456, 123450, false, 1.23456, -1.2345,
         -0.00006},
        // Gains of a half point go to the even neighbour: -2.5 -> -2, -1.5 -> -2, +2.5 -> +2.
        {"half points of gain", 0.000035, 0.000025, 1, 4, false, -0.00002, -0.00002, 0.00003},
        {"half points, sell first", 0.000035, 0.000035, 1, 1, true, 0.00002, -0.00002, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Tx tx = AddTransaction(1, 2, -0.00009, stToClose);
        SetField(tx.buy, "Kurs", c.buyKurs ? Variant(*c.buyKurs) : Variant());
        SetField(tx.sell, "Kurs", c.sellKurs ? Variant(*c.sellKurs) : Variant());
        const int32_t first = c.sellFirst ? tx.sell : tx.buy;
        const int32_t second = c.sellFirst ? tx.buy : tx.sell;
        EXPECT_EQ(Send(kClosePrice, first, c.firstPoints), 0);
        EXPECT_DOUBLE_EQ(Get(first, "CloseKurs").AsFloat(), c.firstPoints / 100000.0);
        EXPECT_DOUBLE_EQ(Get(first, "GewinnPips").AsFloat(), c.firstGain);
        EXPECT_TRUE(Get(tx.buy, "TC_Spread").IsNull());
        EXPECT_TRUE(Get(tx.sell, "TC_Spread").IsNull());
        EXPECT_EQ(Send(kClosePrice, second, c.secondPoints), 0);
        EXPECT_DOUBLE_EQ(Get(second, "CloseKurs").AsFloat(), c.secondPoints / 100000.0);
        EXPECT_DOUBLE_EQ(Get(second, "GewinnPips").AsFloat(), c.secondGain);
        EXPECT_DOUBLE_EQ(Get(tx.buy, "TC_Spread").AsFloat(), c.closeSpread);
        EXPECT_DOUBLE_EQ(Get(tx.sell, "TC_Spread").AsFloat(), c.closeSpread);
        EXPECT_EQ(Status(tx.buy), stToClose); // the price report leaves the status alone
    }
}

TEST_F(CloseReportsTest, CloseSpreadRoundsHalfPointsToEven) {
    struct Case {
        double counterClose; // the counter order's close price, already recorded
        bool sellReports;
        int32_t points;
        double closeSpread;
    };
    // The sell leg's close minus the buy leg's: 0.00001 - 0.000035 = -2.5 points -> -2;
    // 0.000035 - 0.00001 = +2.5 -> +2; 0.000025 - 0.00001 = +1.5 -> +2.
    const Case cases[] = {
        {0.000035, true, 1, -0.00002},
        {0.000035, false, 1, 0.00002},
        {0.00001, true, 3, 0.00002}, // exact: 0.00003 - 0.00001
        {0.000025, false, 1, 0.00002},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.counterClose << (c.sellReports ? " sell" : " buy"));
        const Tx tx = AddTransaction(1, 2, -0.00009, stToClose);
        const int32_t own = c.sellReports ? tx.sell : tx.buy, counter = c.sellReports ? tx.buy : tx.sell;
        SetField(counter, "CloseKurs", Variant(c.counterClose));
        EXPECT_EQ(Send(kClosePrice, own, c.points), 0);
        EXPECT_DOUBLE_EQ(Get(own, "TC_Spread").AsFloat(), c.closeSpread);
        EXPECT_DOUBLE_EQ(Get(counter, "TC_Spread").AsFloat(), c.closeSpread);
    }
}

TEST_F(CloseReportsTest, OneSidedTransactionAndRepeatedReports) {
    // A one-sided transaction never gets a close spread: the empty leg has no close price.
    LegSpec real;
    real.kurs = 1.1;
    const int32_t buy = AddLeg(real);
    LegSpec empty = real;
    empty.type = otNone;
    empty.status = stNoLeg;
    empty.firstOrderID = buy;
    const int32_t none = AddLeg(empty);
    EXPECT_EQ(Send(kClosePrice, buy, 110010), 0);
    EXPECT_DOUBLE_EQ(Get(buy, "GewinnPips").AsFloat(), 0.0001);
    EXPECT_TRUE(Get(buy, "TC_Spread").IsNull());
    EXPECT_TRUE(Get(none, "TC_Spread").IsNull());
    EXPECT_TRUE(Get(none, "CloseKurs").IsNull());

    // A repeated price report recomputes the gain and, with the counter's price, the spread on both.
    const Tx tx = AddTransaction(1, 2, -0.00009, stClosed);
    EXPECT_EQ(Send(kClosePrice, tx.buy, 120000), 0);
    EXPECT_EQ(Send(kClosePrice, tx.sell, 120005), 0);
    EXPECT_DOUBLE_EQ(Get(tx.buy, "TC_Spread").AsFloat(), 0.00005);
    EXPECT_EQ(Send(kClosePrice, tx.buy, 119990), 0);
    EXPECT_DOUBLE_EQ(Get(tx.buy, "GewinnPips").AsFloat(), -0.0001);
    EXPECT_DOUBLE_EQ(Get(tx.buy, "TC_Spread").AsFloat(), 0.00015);
    EXPECT_DOUBLE_EQ(Get(tx.sell, "TC_Spread").AsFloat(), 0.00015);
}

TEST_F(CloseReportsTest, ProfitLossIsStoredAsItComes) {
    const Tx tx = AddTransaction(1, 2, -0.00009, stClosed);
    struct Case {
        int32_t lparam;
        double gewinn;
    };
    const Case cases[] = {
        {-1234567, -12.34567}, {0, 0.0}, {INT32_MAX, 21474.83647}, {INT32_MIN, -21474.83648}};
    for (const Case& c : cases) {
        EXPECT_EQ(Send(kProfitLoss, tx.sell, c.lparam), 0);
        EXPECT_DOUBLE_EQ(Get(tx.sell, "Gewinn").AsFloat(), c.gewinn) << c.lparam;
    }
    EXPECT_TRUE(Get(tx.buy, "Gewinn").IsNull());
}

TEST_F(CloseReportsTest, UnknownOrderChangesNothing) {
    const Tx tx = AddTransaction(1, 2, -0.00009, stToClose);
    const std::string before = List().SaveToString();
    const int notes = static_cast<int>(view.notifications.size());
    for (int32_t msg : {kClosed, kClosePrice, kProfitLoss})
        for (int32_t id : {0, -1, tx.sell + 1, INT32_MAX})
            EXPECT_EQ(Send(msg, id, 123456), 0) << msg << " " << id;
    EXPECT_EQ(List().SaveToString(), before);
    // Nor does any report while the list is not open.
    desk->orders.CloseOrderList();
    for (int32_t msg : {kClosed, kClosePrice, kProfitLoss}) EXPECT_EQ(Send(msg, tx.sell, 123456), 0) << msg;
    EXPECT_EQ(view.beeps, 0);
    EXPECT_EQ(static_cast<int>(view.notifications.size()), notes);
    EXPECT_TRUE(view.stopBoxes.empty());
}

} // namespace
