// The ADMIN PANEL's controls on the selected transaction: manual close, close-spread presets,
// "Change Close Order", and the "Edit Orders" group with "Change Order".
#include <gtest/gtest.h>

#include <stdexcept>

#include "desk/core/desk.h"
#include "desk/core/orderlist.h"
#include "deskharness.h"
#include "platform/datasource.h"

using namespace quorvel;

namespace {

struct OrderControlsTest : test::DeskHarness {
    Desk* d = nullptr;
    std::unique_ptr<TDataSource> hook;
    void SetUp() override {
        d = &Create(3);
        hook = Hook();
    }
    void TearDown() override { hook.reset(); }
    // The display cursor's data-change event, as the grid's data source raises it.
    std::unique_ptr<TDataSource> Hook() {
        auto source = std::make_unique<TDataSource>();
        source->OnDataChange = [this](const void*, Field*) { d->editOrders.FillEditOrdersPanel(); };
        source->SetDataSet(&d->orders.m_CDSOrderlisteAnzeige);
        return source;
    }
    ClientDataSet& Display() { return d->orders.m_CDSOrderlisteAnzeige; }
    // A transaction of table `t` (direction 1 buy, 2 sell, 3 both) with brokers 1 and 3.
    void Place(int t, int direction, int closeBedingung = 1) {
        d->entry.OpenOrder(
            t, 0.5, 1, direction, 0.0002,
            {{std::to_string(10 * t + 1), true}, {"x", false}, {std::to_string(10 * t + 3), true}},
            closeBedingung, -0.0001, false, 0.0007, false);
    }
    // Writes one field of the record at row `rec` (1-based, natural order).
    void Set(int rec, const char* field, const Variant& v) {
        hook.reset();
        Display().SetRecNo(rec);
        Display().Edit();
        Display().FieldByName(field).SetValue(v);
        Display().Post();
        hook = Hook();
    }
    Variant Get(int rec, const char* field) {
        Variant v;
        Display().PeekRecord(rec, [&] { v = Display().FieldByName(field).Value(); });
        return v;
    }
    int Status(int rec) { return Get(rec, "Status").AsInteger(); }
    void Select(int rec) { Display().SetRecNo(rec); }
};

} // namespace

// ---- Close Position / Close Transaction ------------------------------------------------------

TEST_F(OrderControlsTest, ForcedCloseByStatusAndPrice) {
    struct Case {
        int buyStatus, sellStatus;
        bool single;
        int64_t bid, ask; // of EA 7 (buy leg) and EA 9 (sell leg)
        int wantBuy, wantSell;
        double wantBuyTrig, wantSellTrig; // 0.5: kept
        int wantRec;
    };
    const Case cases[] = {
        {2, 2, true, 110250, 110300, 4, 2, 1.1025, 0.5, 1},    // Close Position: the selected leg only
        {3, 3, false, 110250, 110300, 4, 4, 1.1025, 1.103, 2}, // Close Transaction: both, ends on the counter
        {0, 1, false, 110250, 110300, 0, 4, 0.5, 1.103, 2},    // "To Open" is not forced, "Pending" is
        {5, 2, false, 110250, 110300, 5, 4, 0.5, 1.103, 2},    // an ended leg is not revived
        {2, 6, false, 110250, 110300, 4, 6, 1.1025, 0.5, 2},
        {2, 2, false, 0, -10000, 4, 4, 0.5, 0.5, 2}, // no price: the trigger price stays
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.buyStatus << "/" << c.sellStatus);
        while (!Display().IsEmpty()) Display().Delete();
        Place(0, 3);
        Set(1, "Status", Variant(int32_t(c.buyStatus)));
        Set(2, "Status", Variant(int32_t(c.sellStatus)));
        Set(1, "EAID", Variant(int32_t(7)));
        Set(2, "EAID", Variant(int32_t(9)));
        Set(1, "TrigCloseKurs", Variant(0.5));
        Set(2, "TrigCloseKurs", Variant(0.5));
        d->prices.Bid[7] = c.bid;
        d->prices.Ask[9] = c.ask;
        Select(1);
        if (c.single)
            d->orderControls.ForceCloseOrder(true);
        else
            d->orderControls.ForceCloseOrder(false);
        EXPECT_EQ(Status(1), c.wantBuy);
        EXPECT_EQ(Status(2), c.wantSell);
        EXPECT_DOUBLE_EQ(Get(1, "TrigCloseKurs").AsFloat(), c.wantBuyTrig);
        EXPECT_DOUBLE_EQ(Get(2, "TrigCloseKurs").AsFloat(), c.wantSellTrig);
        EXPECT_EQ(Get(1, "ForceClose").AsBoolean(), c.wantBuy == 4);
        if (c.wantBuy == 4) {
            EXPECT_TRUE(Get(1, "CloseSpread").IsNull());
        }
        EXPECT_EQ(Display().RecNo(), c.wantRec);
        EXPECT_EQ(d->orders.m_iDisableDataChange, 0);
    }
}

TEST_F(OrderControlsTest, ForcedCloseOfAOneSidedTransactionAndOfEdgeEAs) {
    Place(0, 1); // buy only: row 2 is the empty leg
    Set(1, "Status", Variant(int32_t(2)));
    Set(1, "EAID", Variant(int32_t(200)));
    d->prices.Bid[200] = 123456;
    Select(1);
    d->orderControls.ForceCloseOrder(false);
    EXPECT_EQ(Status(1), 4);
    EXPECT_DOUBLE_EQ(Get(1, "TrigCloseKurs").AsFloat(), 1.23456);
    EXPECT_EQ(Status(2), -1);
    EXPECT_TRUE(Get(2, "ForceClose").IsNull());
    // An empty EAID: forced with the old trigger price.
    Place(0, 2);
    Set(4, "Status", Variant(int32_t(2)));
    Select(4);
    d->orderControls.ForceCloseOrder(true);
    EXPECT_EQ(Status(4), 4);
    EXPECT_TRUE(Get(4, "TrigCloseKurs").IsNull());
}

TEST_F(OrderControlsTest, ControlsOnAnEmptyListCreateNothing) {
    d->orderControls.ForceCloseOrder(true);
    d->orderControls.ForceCloseOrder(false);
    d->orderControls.SetCloseSpreadSelected(0.0002);
    d->orderControls.ChangeCloseOrder();
    d->editOrders.ChangeSelectedOrder();
    EXPECT_TRUE(Display().IsEmpty());
    EXPECT_EQ(d->orders.m_iDisableDataChange, 0);
}

// ---- presets -------------------------------------------------------------------------------

TEST_F(OrderControlsTest, PresetsSetBothLegsAndComeBackToTheRow) {
    struct Case {
        void (*button)(Desk&);
        double value;
        int status, wantStatus;
    };
    const Case cases[] = {
        {[](Desk& k) { k.orderControls.SetCloseSpreadSelected(-0.09999); }, -0.09999, 4, 3},
        {[](Desk& k) { k.orderControls.SetCloseSpreadSelected(-0.0002); }, -0.0002, 4, 3},
        {[](Desk& k) { k.orderControls.SetCloseSpreadSelected(-0.0001); }, -0.0001, 2, 2},
        {[](Desk& k) { k.orderControls.SetCloseSpreadSelected(0.0); }, 0.0, 5, 5},
        {[](Desk& k) { k.orderControls.SetCloseSpreadSelected(0.0002); }, 0.0002, 0, 0},
        {[](Desk& k) { k.orderControls.SetCloseSpreadSelected(0.0001); }, 0.0001, 6, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        while (!Display().IsEmpty()) Display().Delete();
        Place(1, 3);
        Set(1, "Status", Variant(int32_t(c.status)));
        Set(2, "Status", Variant(int32_t(c.status)));
        Set(1, "ForceClose", Variant(true));
        Select(2);
        c.button(*d);
        for (int rec : {1, 2}) {
            EXPECT_DOUBLE_EQ(Get(rec, "CloseSpread").AsFloat(), c.value);
            EXPECT_EQ(Status(rec), c.wantStatus);
            EXPECT_EQ(Get(rec, "CloseBedingung").AsInteger(), 1);
        }
        EXPECT_TRUE(Get(1, "ForceClose").AsBoolean());
        EXPECT_EQ(Display().RecNo(), 2);
    }
    // The empty leg of a one-sided transaction takes the close spread too.
    Place(0, 2);
    Select(3);
    d->orderControls.SetCloseSpreadSelected(0.0002);
    EXPECT_DOUBLE_EQ(Get(3, "CloseSpread").AsFloat(), 0.0002);
    EXPECT_EQ(Status(3), -1);
}

// ---- Change Close Order -----------------------------------------------------------------------

TEST_F(OrderControlsTest, ChangeCloseOrderLeavesEndedLegsAndEmptyLegs) {
    struct Case {
        bool condition;
        int buyStatus, sellStatus, wantBuy, wantSell;
    };
    const Case cases[] = {
        {true, 5, 2, 5, 3},  {true, 2, 6, 3, 6},  {true, 4, 1, 3, 3},
        {false, 3, 3, 2, 2}, {false, 5, 3, 5, 2}, {false, 4, 2, 4, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.condition << " " << c.buyStatus << "/" << c.sellStatus);
        while (!Display().IsEmpty()) Display().Delete();
        Place(0, 3);
        Set(1, "Status", Variant(int32_t(c.buyStatus)));
        Set(2, "Status", Variant(int32_t(c.sellStatus)));
        Select(1);
        controls.checked[Ctl::rbCloseKleinerChange] = c.condition;
        controls.text[Ctl::reCloseSpreadChange] = "0,00030";
        controls.text[Ctl::reMaxVerlust] = "0,00250";
        controls.checked[Ctl::cbAutoClose] = true;
        d->orderControls.ChangeCloseOrder();
        EXPECT_EQ(Status(1), c.wantBuy);
        EXPECT_EQ(Status(2), c.wantSell);
        for (int rec : {1, 2}) {
            const bool ended = Status(rec) == 5 || Status(rec) == 6;
            EXPECT_DOUBLE_EQ(Get(rec, "MaxVerlust").AsFloat(), ended ? 0.0007 : 0.0025);
            EXPECT_EQ(Get(rec, "AutoClose").AsBoolean(), !ended);
            if (!ended && c.condition) {
                EXPECT_DOUBLE_EQ(Get(rec, "CloseSpread").AsFloat(), 0.0003);
            }
            if (!ended && !c.condition) {
                EXPECT_TRUE(Get(rec, "CloseBedingung").IsNull());
            }
        }
        EXPECT_EQ(Display().RecNo(), 2);
        EXPECT_EQ(d->orders.m_iDisableDataChange, 0);
    }
}

// ---- the Edit Orders group ------------------------------------------------------------------------

TEST_F(OrderControlsTest, PanelLoadsByTheLegsStatuses) {
    struct Case {
        int buyStatus, sellStatus;
        bool group, changeOrder, closeOrder;
    };
    const Case cases[] = {
        {0, 0, true, true, false},   {2, 2, true, false, true},   {0, 3, true, true, false},
        {1, 1, false, false, false}, {5, 5, false, false, false}, {6, 6, false, false, false},
        {5, 4, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.buyStatus << "/" << c.sellStatus);
        while (!Display().IsEmpty()) Display().Delete();
        Place(2, 3);
        Set(1, "Status", Variant(int32_t(c.buyStatus)));
        Set(2, "Status", Variant(int32_t(c.sellStatus)));
        d->editOrders.m_iLastRecNoAnzeige = -1;
        controls.text[Ctl::reLotsChange] = "9,00";
        Select(1);
        EXPECT_EQ(controls.PanelOn(PanelPart::gbChange), c.group);
        EXPECT_EQ(controls.PanelGrey(PanelPart::gbChange), !c.group);
        EXPECT_EQ(controls.PanelOn(PanelPart::btnChangeOrder), c.changeOrder);
        EXPECT_EQ(controls.PanelOn(PanelPart::btnCloseOrder), c.closeOrder);
        EXPECT_EQ(controls.text[Ctl::reLotsChange], c.group ? "0,50" : "9,00"); // off: kept
        if (c.group) {
            EXPECT_EQ(controls.PanelOn(PanelPart::gbOpenBedingung), c.changeOrder);
            EXPECT_EQ(controls.PanelGrey(PanelPart::gbChangeBuySell), !c.changeOrder);
            EXPECT_EQ(controls.PanelOn(PanelPart::lbBrokerIDsChange), c.changeOrder);
            EXPECT_TRUE(controls.PanelOn(PanelPart::gbCloseBedingung));
        }
    }
}

TEST_F(OrderControlsTest, PanelShowsBrokersDirectionAndSpreads) {
    Place(2, 3);
    Select(2);
    ASSERT_EQ(controls.panelBrokers.size(), 10u);
    EXPECT_EQ(controls.panelBrokers[0], "21");
    EXPECT_EQ(controls.panelBrokers[9], "30");
    const std::vector<bool> ticks = {true, false, true, false, false, false, false, false, false, false};
    EXPECT_EQ(controls.panelTicks, ticks);
    EXPECT_TRUE(controls.Checked(Ctl::rbBuySellChange));
    EXPECT_EQ(controls.text[Ctl::reOpenSpreadChange], "0,00020");
    EXPECT_EQ(controls.text[Ctl::reCloseSpreadChange], "-0,00010");
    EXPECT_EQ(controls.text[Ctl::reMaxVerlust], "0,00070");
    EXPECT_TRUE(controls.Checked(Ctl::rbCloseKleinerChange));

    // A one-sided buy selected on its empty leg: the real leg's values, no broker ticked
    // by the empty leg's null fields.
    Place(0, 1);
    Select(4);
    EXPECT_TRUE(controls.Checked(Ctl::rbBuyChange));
    EXPECT_EQ(controls.text[Ctl::reLotsChange], "0,50");
    EXPECT_EQ(controls.text[Ctl::reOpenSpreadChange], "0,00020");
    const std::vector<bool> ticks0 = {true, false, true, false, false, false, false, false, false, false};
    EXPECT_EQ(controls.panelTicks, ticks0);

    // Same row again: no reload; an "Opened" transaction without close condition shows 0.
    controls.text[Ctl::reLotsChange] = "7,00";
    Select(4);
    EXPECT_EQ(controls.text[Ctl::reLotsChange], "7,00");
    Place(1, 3, -1);
    Set(5, "Status", Variant(int32_t(2)));
    Set(6, "Status", Variant(int32_t(2)));
    controls.checked[Ctl::rbCloseKleinerChange] = false;
    Select(5);
    EXPECT_EQ(controls.text[Ctl::reCloseSpreadChange], "0,00000");
    EXPECT_TRUE(controls.Checked(Ctl::rbCloseKleinerChange));
}

TEST_F(OrderControlsTest, PanelReloadsWhenTheRowHoldsAnotherTransaction) {
    Place(0, 3);
    Place(1, 3);
    Select(1);
    EXPECT_EQ(controls.panelBrokers[0], "1");
    d->entry.DeleteSelectedTransaction(); // the second transaction moves up to rows 1 and 2
    Select(1);
    EXPECT_EQ(controls.panelBrokers[0], "11");
    EXPECT_EQ(d->editOrders.m_iLastOrderIDAnzeige, Get(1, "OrderID").AsInteger());
}

TEST_F(OrderControlsTest, ChangeOrderByDirection) {
    struct Case {
        Ctl radio;
        int placed; // 1 buy, 2 sell, 3 both
        int wantType1, wantType2, wantStatus1, wantStatus2;
    };
    const Case cases[] = {
        {Ctl::rbSellChange, 3, -1, 2, -1, 0},
        {Ctl::rbBuyChange, 3, 1, -1, 0, -1},
        {Ctl::rbBuySellChange, 2, 1, 2, 0, 0},
        {Ctl::rbBuySellChange, 1, 1, 2, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.placed);
        while (!Display().IsEmpty()) Display().Delete();
        Place(1, c.placed);
        d->editOrders.m_iLastRecNoAnzeige = -1;
        Select(c.placed == 2 ? 2 : 1);
        controls.SetChecked(c.radio, true);
        controls.text[Ctl::reLotsChange] = "0,30";
        controls.text[Ctl::reOpenSpreadChange] = "-0,00015";
        controls.SetPanelBrokerChecked(1, true);
        d->editOrders.ChangeSelectedOrder();
        EXPECT_EQ(Get(1, "OrderType").AsInteger(), c.wantType1);
        EXPECT_EQ(Get(2, "OrderType").AsInteger(), c.wantType2);
        EXPECT_EQ(Status(1), c.wantStatus1);
        EXPECT_EQ(Status(2), c.wantStatus2);
        for (int rec : {1, 2}) {
            if (Status(rec) == 0) {
                EXPECT_DOUBLE_EQ(Get(rec, "Lots").AsFloat(), 0.3);
                EXPECT_DOUBLE_EQ(Get(rec, "Spread").AsFloat(), -0.00015);
                EXPECT_EQ(Get(rec, "ID1").AsInteger(), 11);
                EXPECT_EQ(Get(rec, "ID2").AsInteger(), 12);
                EXPECT_EQ(Get(rec, "ID4").AsInteger(), -1);
            } else {
                EXPECT_TRUE(Get(rec, "Lots").IsNull());
                EXPECT_EQ(Get(rec, "ID1").AsInteger(), -1);
            }
        }
        EXPECT_EQ(Display().RecNo(), c.placed == 2 ? 2 : 1);
        EXPECT_EQ(d->orders.m_iDisableDataChange, 0);
    }
}

TEST_F(OrderControlsTest, ChangeOrderLeavesAWaitingLegItsOwnStatus) {
    // One leg "To Open", its counter order in every status "Change Order" may meet; the group
    // is loaded from either leg. Only the empty leg that becomes a real one takes "To Open".
    struct Case {
        int counter;
        Ctl radio;
        int wantCounter;
    };
    const Case cases[] = {
        {1, Ctl::rbBuySellChange, 1},  {2, Ctl::rbBuySellChange, 2}, {3, Ctl::rbBuySellChange, 3},
        {4, Ctl::rbBuySellChange, 4},  {5, Ctl::rbBuySellChange, 5}, {6, Ctl::rbBuySellChange, 6},
        {-1, Ctl::rbBuySellChange, 0},
    };
    for (const Case& c : cases) {
        for (int selected : {1, 2}) {
            SCOPED_TRACE(testing::Message() << "counter " << c.counter << ", row " << selected);
            while (!Display().IsEmpty()) Display().Delete();
            Place(1, 3);
            if (c.counter == -1) {
                Set(2, "OrderType", Variant(int32_t(-1)));
                Set(2, "Lots", Variant());
            }
            Set(2, "Status", Variant(int32_t(c.counter)));
            Set(2, "EAID", Variant(int32_t(12)));
            Select(3 - selected);
            d->editOrders.m_iLastRecNoAnzeige = -1;
            Select(selected);
            controls.SetChecked(c.radio, true);
            controls.text[Ctl::reLotsChange] = "0,30";
            d->editOrders.ChangeSelectedOrder();
            EXPECT_EQ(Status(1), 0);
            EXPECT_EQ(Status(2), c.wantCounter);
            EXPECT_EQ(Get(2, "OrderType").AsInteger(), 2);
            EXPECT_DOUBLE_EQ(Get(1, "Lots").AsFloat(), 0.3);
            EXPECT_EQ(d->orders.m_iDisableDataChange, 0);
        }
    }
}

TEST_F(OrderControlsTest, ChangeOrderOnlyWhereThePanelAllows) {
    // Never loaded: nothing written.
    d->editOrders.m_iLastRecNoAnzeige = -1;
    hook.reset();
    Place(0, 3);
    Display().SetRecNo(1);
    controls.text[Ctl::reLotsChange] = "3,00";
    d->editOrders.ChangeSelectedOrder();
    EXPECT_DOUBLE_EQ(Get(1, "Lots").AsFloat(), 0.5);
    EXPECT_EQ(Get(1, "ID1").AsInteger(), 1);
    hook = Hook();

    // Moved on to "Close Cond." since loading: only the close fields.
    Place(0, 3);
    Select(3);
    Set(3, "Status", Variant(int32_t(3)));
    Set(4, "Status", Variant(int32_t(3)));
    Select(3);
    controls.text[Ctl::reLotsChange] = "3,00";
    controls.text[Ctl::reMaxVerlust] = "0,00500";
    d->editOrders.ChangeSelectedOrder();
    EXPECT_DOUBLE_EQ(Get(3, "Lots").AsFloat(), 0.5);
    EXPECT_DOUBLE_EQ(Get(3, "MaxVerlust").AsFloat(), 0.005);
    EXPECT_DOUBLE_EQ(Get(4, "MaxVerlust").AsFloat(), 0.005);
    // "Opened": nothing.
    Set(3, "Status", Variant(int32_t(2)));
    Set(4, "Status", Variant(int32_t(2)));
    Select(3);
    controls.text[Ctl::reMaxVerlust] = "0,00900";
    d->editOrders.ChangeSelectedOrder();
    EXPECT_DOUBLE_EQ(Get(3, "MaxVerlust").AsFloat(), 0.005);
}

TEST_F(OrderControlsTest, ChangeOrderOnALegWithoutCounterKeepsTypeAndStatus) {
    Place(0, 3);
    Display().SetRecNo(2);
    Display().Delete(); // the buy leg stays alone
    Select(1);
    controls.SetChecked(Ctl::rbSellChange, true);
    controls.text[Ctl::reLotsChange] = "0,70";
    d->editOrders.ChangeSelectedOrder();
    EXPECT_EQ(Get(1, "OrderType").AsInteger(), 1);
    EXPECT_EQ(Status(1), 0);
    EXPECT_DOUBLE_EQ(Get(1, "Lots").AsFloat(), 0.7);
}

TEST_F(OrderControlsTest, AnErrorCancelsTheEditAndLowersTheBusyCounter) {
    Place(0, 3);
    Select(1);
    controls.text[Ctl::reLotsChange] = "0,90";
    // The broker list fails when its third item is read: after the leg's type was written.
    controls.panelTicks.resize(2);
    EXPECT_THROW(d->editOrders.ChangeSelectedOrder(), std::out_of_range);
    EXPECT_EQ(d->orders.m_iDisableDataChange, 0);
    EXPECT_EQ(Display().State(), DataSetState::Browse);
    Select(2);
    EXPECT_EQ(Get(1, "ID1").AsInteger(), 1);
    EXPECT_EQ(Get(1, "ID3").AsInteger(), 3);
    EXPECT_DOUBLE_EQ(Get(1, "Lots").AsFloat(), 0.5);
}

TEST_F(OrderControlsTest, StepsOfTheBoxes) {
    struct Case {
        void (*act)(Desk&);
        Ctl box;
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {[](Desk& k) { k.editOrders.UpDown4Click(true); }, Ctl::reLotsChange, "1,00", "1,10"},
        {[](Desk& k) { k.editOrders.m_reLotsChangeKeyUp(kVkDown); }, Ctl::reLotsChange, "1,00", "0,90"},
        {[](Desk& k) { k.editOrders.m_reLotsChangeKeyUp(65); }, Ctl::reLotsChange, "1,00", "1,00"},
        {[](Desk& k) { k.editOrders.UpDown1Click(false); }, Ctl::reOpenSpreadChange, "0,00000", "-0,00005"},
        {[](Desk& k) { k.editOrders.UpDown2Click(true); }, Ctl::reMaxVerlust, "0,00100", "0,00105"},
        {[](Desk& k) { k.editOrders.UpDown3Click(true); }, Ctl::reCloseSpreadChange, "x", "0,00005"},
        {[](Desk& k) { k.RealEditKeyUp(Ctl::reCloseSpreadChange, kVkUp); }, Ctl::reCloseSpreadChange,
         "0,00010", "0,00015"},
        {[](Desk& k) { k.RealEditKeyUp(Ctl::reMaxVerlust, kVkDown); }, Ctl::reMaxVerlust, "0,00100",
         "0,00095"},
    };
    for (const Case& c : cases) {
        controls.text[c.box] = c.before;
        c.act(*d);
        EXPECT_EQ(controls.text[c.box], c.after) << c.before;
    }
}

TEST_F(OrderControlsTest, ABrokerIDBeyondTheIntegerRangeIsNoBroker) {
    Place(0, 3);
    for (int rec : {1, 2}) Set(rec, "TableID", Variant(int32_t(2147483647)));
    d->editOrders.m_iLastRecNoAnzeige = -1;
    Select(1);
    ASSERT_EQ(controls.panelBrokers.size(), 10u);
    EXPECT_EQ(controls.panelBrokers[0], "21474836471");
    controls.SetPanelBrokerChecked(0, true);
    d->editOrders.ChangeSelectedOrder();
    EXPECT_EQ(Get(1, "ID1").AsInteger(), -1);
    EXPECT_EQ(Get(2, "ID1").AsInteger(), -1);
    EXPECT_EQ(Status(1), 0);
}
