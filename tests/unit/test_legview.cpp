#include <gtest/gtest.h>

#include "desk/core/desk.h"
#include "desk/core/orderlist.h"
#include "desk/core/pricestore.h"
#include "deskharness.h"
#include "platform/numbers.h"

using namespace quorvel;

namespace {

struct LegViewTest : test::DeskHarness {
    OrderList& orders;
    LegViewTest() : orders(Make().orders) { orders.OpenOrderList(); }
    // Appends a leg through the engine cursor; returns its OrderID.
    int32_t Append(int32_t status) {
        ClientDataSet& ds = orders.m_CDSOrderliste;
        ds.Append();
        ds.FieldByName("Status").SetAsInteger(status);
        ds.Post();
        return ds.FieldByName("OrderID").AsInteger();
    }
};

} // namespace

TEST_F(LegViewTest, EachAccessorIsTheFieldOfItsName) {
    using Accessor = Field& (LegView::*)() const;
    const struct {
        Accessor get;
        const char* name;
    } cases[] = {
        {&LegView::FirstOrderID, "FirstOrderID"},
        {&LegView::TableID, "TableID"},
        {&LegView::Lots, "Lots"},
        {&LegView::OrderType, "OrderType"},
        {&LegView::OpenSpread, "Spread"},
        {&LegView::Status, "Status"},
        {&LegView::EAID, "EAID"},
        {&LegView::OrderTime, "Zeitpunkt"},
        {&LegView::OpenTime, "OrderOpenTime"},
        {&LegView::CloseTime, "OrderCloseTime"},
        {&LegView::Ticket, "Ticket"},
        {&LegView::Account, "Account"},
        {&LegView::OpenPrice, "Kurs"},
        {&LegView::OrderID, "OrderID"},
        {&LegView::CloseCondition, "CloseBedingung"},
        {&LegView::CloseSpread, "CloseSpread"},
        {&LegView::ClosePrice, "CloseKurs"},
        {&LegView::Profit, "Gewinn"},
        {&LegView::ConnectionStatus, "Verbindungsstatus"},
        {&LegView::AchievedOpenSpread, "TO_Spread"},
        {&LegView::AchievedCloseSpread, "TC_Spread"},
        {&LegView::ProfitPoints, "GewinnPips"},
        {&LegView::SlippageCompensation, "SlippageAusgleich"},
        {&LegView::TriggerOpenPrice, "TrigOpenKurs"},
        {&LegView::TriggerClosePrice, "TrigCloseKurs"},
        {&LegView::MaxLoss, "MaxVerlust"},
        {&LegView::PendingTime, "PendingTime"},
        {&LegView::OpenDelayUntil, "OpenDelayUntil"},
        {&LegView::CloseDelayUntil, "CloseDelayUntil"},
        {&LegView::AutoClose, "AutoClose"},
        {&LegView::OpenAfterCounterOrder, "OpenAfterCounterOrder"},
        {&LegView::CloseAfterCounterOrder, "CloseAfterCounterOrder"},
        {&LegView::ForceClose, "ForceClose"},
        {&LegView::CreditChecked, "ATRaiseChecked"},
    };
    ASSERT_EQ(static_cast<size_t>(kLegColumns), OrderListFieldDefs().size());
    const LegView& leg = orders.Leg();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(&(leg.*c.get)(), &orders.m_CDSOrderliste.FieldByName(c.name));
    }
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(&leg.Broker(k), &orders.m_CDSOrderliste.FieldByName("ID" + std::to_string(k + 1))) << k;
    // The display cursor's view is bound to the display cursor's own fields.
    EXPECT_EQ(&orders.ShownLeg().Status(), &orders.m_CDSOrderlisteAnzeige.FieldByName("Status"));
}

TEST_F(LegViewTest, AColumnTheCursorDoesNotHoldIsRefusedAsByName) {
    // The engine cursor holds neither the open condition nor the close delay seconds; the
    // display cursor has no PendingTime.
    EXPECT_THROW(orders.Leg().Column(LegColumn::Bedingung), DataSetError);
    EXPECT_THROW(orders.Leg().Column(LegColumn::CloseDelaySec), DataSetError);
    EXPECT_THROW(orders.ShownLeg().PendingTime(), DataSetError);
}

TEST_F(LegViewTest, LocateLegFindsAKnownLegAndStaysPutOnAnUnknownOne) {
    const int32_t first = Append(stToOpen);
    const int32_t second = Append(stClosed);
    ASSERT_TRUE(orders.LocateLeg(first));
    EXPECT_EQ(orders.Leg().OrderID().AsInteger(), first);
    EXPECT_EQ(orders.Leg().Status().AsInteger(), stToOpen);
    for (int32_t unknown : {second + 1, 0, -1}) {
        EXPECT_FALSE(orders.LocateLeg(unknown)) << unknown;
        EXPECT_EQ(orders.Leg().OrderID().AsInteger(), first) << unknown;
    }
    EXPECT_EQ(orders.LookupLeg(second, LegColumn::Status).AsInteger(), stClosed);
    EXPECT_TRUE(orders.LookupLeg(second + 1, LegColumn::Status).IsNull());
    EXPECT_TRUE(orders.LookupLeg(second, LegColumn::Ticket).IsNull());
    EXPECT_EQ(orders.m_iDisableDataChange, 0);
}

TEST(LegStatus, OnlyClosedAndCanceledLegsHaveEnded) {
    for (int32_t s = stNoLeg; s <= stCanceled + 1; ++s)
        EXPECT_EQ(LegEnded(s), s == stClosed || s == stCanceled) << OrderStatusText(s);
}

TEST(Points, APriceMadeFromPointsGivesTheSamePointsBack) {
    // The trigger prices are stored from points and answered in points: every count, of
    // either sign, must come back whole, also when the product lies just beside it.
    for (int64_t p = -300000; p <= 300000; p += 7) {
        ASSERT_EQ(RoundToInt64(PointsOfPrice(PriceOfPoints(p))), p) << p;
        ASSERT_EQ(RoundToLink(PointsOfPrice(PriceOfPoints(p))), p) << p;
    }
    EXPECT_EQ(RoundToInt64(PointsOfPrice(PriceOfPoints(INT64_C(10812345)))), 10812345);
}

TEST(Points, ADifferenceOfTwoPricesLiesOnTheGridOfItsPoints) {
    // Two fills a whole number of points apart: the difference of the prices is inexact, its
    // place on the grid is the exact difference of the points, below zero as above.
    const struct {
        int64_t a, b;
    } cases[] = {{108125, 108130}, {108130, 108125}, {108123, 108123}, {99999, 100001},
                 {150001, 149999}, {1, 200000},      {200000, 1}};
    for (const auto& c : cases) {
        const double diff = PriceOfPoints(c.a) - PriceOfPoints(c.b);
        EXPECT_EQ(OnPointGrid(diff), PriceOfPoints(c.a - c.b)) << c.a << " - " << c.b;
        EXPECT_EQ(RoundToInt64(PointsOfPrice(diff)), c.a - c.b) << c.a << " - " << c.b;
    }
}
