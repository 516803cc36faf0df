// The "Edit Orders" group of the ADMIN PANEL: loaded from the selected row and its counter
// order, switched by the two legs' statuses, and written back into both legs by "Change Order".
#include "desk/core/editorders.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "desk/core/crossspreads.h"

namespace quorvel {

namespace {

constexpr double kLotsStep = 0.1;
constexpr double kSpreadStep = 0.00005;

// The EA ID of broker k (1..10) of a table, computed wide: a damaged TableID cannot overflow.
int64_t BrokerEAID(int32_t tableID, int k) {
    return static_cast<int64_t>(tableID) * 10 + k;
}

bool Live(int32_t status) {
    return status == stToOpen || status == stOpened || status == stCloseCond || status == stToClose;
}

std::string BrokerField(int k) {
    return "ID" + std::to_string(k);
}

} // namespace

void EditOrders::FillEditOrdersPanel() {
    OrderList& orders = m_ctx.orders;
    if (orders.m_iDisableDataChange != 0) return;
    ClientDataSet& d = orders.m_CDSOrderlisteAnzeige;
    if (!d.Active() || d.State() != DataSetState::Browse) return;
    const int rec = d.RecNo();
    if (rec < 0) return;
    const int32_t own = d.FieldByName("OrderID").AsInteger();
    // Keyed by the OrderID too: after a delete the next transaction takes the deleted one's row.
    if (rec == m_iLastRecNoAnzeige && own == m_iLastOrderIDAnzeige) return;
    m_iLastRecNoAnzeige = rec;
    m_iLastOrderIDAnzeige = own;

    IDeskControls& c = m_ctx.controls;
    const int32_t counter = orders.GetCounterOrderID(own);
    const int32_t st = d.FieldByName("Status").AsInteger();
    const int32_t cs = orders.GetOrderStatusByID(counter);
    if (!Live(st) && !Live(cs)) {
        c.SetPanelEnabled(PanelPart::gbChange, false);
        c.SetPanelFontGrey(PanelPart::gbChange, true);
        c.SetPanelEnabled(PanelPart::btnChangeOrder, false);
        c.SetPanelEnabled(PanelPart::btnCloseOrder, false);
        return;
    }

    // Brokers: the table's ten EA IDs, ticked when either leg names the broker. A null field
    // of the row itself (the empty leg of a one-sided transaction) counts as not ticked.
    const int32_t table = d.FieldByName("TableID").AsInteger();
    std::vector<std::string> items;
    for (int k = 1; k <= 10; ++k) items.push_back(std::to_string(BrokerEAID(table, k)));
    c.SetPanelBrokerItems(items);
    for (int k = 1; k <= 10; ++k) {
        const Field& f = d.FieldByName(BrokerField(k));
        const bool ownTick = !f.IsNull() && f.AsInteger() >= 0;
        c.SetPanelBrokerChecked(k - 1, ownTick || orders.LookupOrderInteger(counter, BrokerField(k)) >= 0);
    }

    // Lots: the larger of the two legs' lots, the counter order's when both are equal.
    const int64_t counterLots = orders.LookupOrderPoints(counter, "Lots");
    const double ownLots = d.FieldByName("Lots").AsFloat();
    c.SetRealValue(Ctl::reLotsChange, static_cast<double>(counterLots) < ownLots * 100000.0
                                          ? ownLots
                                          : static_cast<double>(counterLots) / 100000.0);

    const int32_t ownType = d.FieldByName("OrderType").AsInteger();
    const int32_t counterType = orders.GetOrderTypeByID(counter);
    if (ownType >= 0 && counterType >= 0)
        c.SetChecked(Ctl::rbBuySellChange, true);
    else if (ownType == otBuy || counterType == otBuy)
        c.SetChecked(Ctl::rbBuyChange, true);
    else
        c.SetChecked(Ctl::rbSellChange, true);

    // The spreads: the row's own, else the counter order's (-0.1 when neither has one).
    auto spreadOf = [&](const char* name) {
        const Field& f = d.FieldByName(name);
        return f.IsNull() ? static_cast<double>(orders.LookupOrderPoints(counter, name)) / 100000.0
                          : f.AsFloat();
    };
    c.SetRealValue(Ctl::reOpenSpreadChange, spreadOf("Spread"));
    c.SetChecked(Ctl::rbOpenKleinerChange, true);
    c.SetRealValue(Ctl::reCloseSpreadChange, spreadOf("CloseSpread"));

    const int32_t cb = std::max(d.FieldByName("CloseBedingung").AsInteger(),
                                orders.LookupOrderInteger(counter, "CloseBedingung"));
    if (cb == 1) {
        c.SetChecked(Ctl::rbCloseKleinerChange, true);
    } else {
        c.SetRealValue(Ctl::reCloseSpreadChange, 0.0);
        if (st != stToOpen && st != stPending && cs != stToOpen && cs != stPending)
            c.SetChecked(Ctl::rbCloseKleinerChange, true);
    }
    c.SetRealValue(Ctl::reMaxVerlust, d.FieldByName("MaxVerlust").AsCurrency());
    c.SetChecked(Ctl::cbAutoClose, d.FieldByName("AutoClose").AsBoolean());

    const bool open = st == stToOpen || cs == stToOpen;
    c.SetPanelEnabled(PanelPart::gbChange, true);
    c.SetPanelFontGrey(PanelPart::gbChange, false);
    c.SetPanelEnabled(PanelPart::btnChangeOrder, open);
    c.SetPanelEnabled(PanelPart::btnCloseOrder, !open);
    c.SetPanelEnabled(PanelPart::lbBrokerIDsChange, open);
    for (PanelPart p : {PanelPart::reLotsChange, PanelPart::gbChangeBuySell, PanelPart::gbOpenBedingung}) {
        c.SetPanelEnabled(p, open);
        c.SetPanelFontGrey(p, !open);
    }
    c.SetPanelEnabled(PanelPart::gbCloseBedingung, true);
    c.SetPanelFontGrey(PanelPart::gbCloseBedingung, false);
}

void EditOrders::ChangeSelectedOrder() {
    OrderList& orders = m_ctx.orders;
    BusyGuard busy(orders.m_iDisableDataChange);
    // A group that was never loaded holds start values, not a transaction's.
    if (m_iLastRecNoAnzeige < 0) return;
    ClientDataSet& d = orders.m_CDSOrderlisteAnzeige;
    if (!d.Active() || d.RecNo() < 1 || d.State() != DataSetState::Browse) return;
    const int32_t own = d.FieldByName("OrderID").AsInteger();
    const int32_t counter = orders.GetCounterOrderID(own);
    const int32_t cs = orders.GetOrderStatusByID(counter);
    const int32_t st = d.FieldByName("Status").AsInteger();
    const int32_t low = std::min(own, counter);
    if (st != stToOpen && st != stCloseCond && cs != stToOpen && cs != stCloseCond) return;
    const bool openPart = st == stToOpen || cs == stToOpen;

    IDeskControls& c = m_ctx.controls;
    const bool both = c.Checked(Ctl::rbBuySellChange);
    const bool buyOnly = !both && c.Checked(Ctl::rbBuyChange);
    const bool condition = c.Checked(Ctl::rbCloseKleinerChange);
    EditGuard guard(d);

    // hasCounter: a leg without a counter order (only a damaged file has one) keeps its
    // type and status.
    auto apply = [&](bool hasCounter) {
        const int32_t legStatus = d.FieldByName("Status").AsInteger();
        if (LegEnded(legStatus)) return;
        d.Edit();
        if (openPart) {
            const bool isLow = d.FieldByName("OrderID").AsInteger() == low;
            int32_t type = both      ? (isLow ? otBuy : otSell)
                           : buyOnly ? (isLow ? otBuy : otNone)
                                     : (isLow ? otNone : otSell);
            if (!hasCounter)
                type = d.FieldByName("OrderType").AsInteger();
            else
                d.FieldByName("OrderType").SetAsInteger(type);
            const int32_t tableID = d.FieldByName("TableID").AsInteger();
            if (type != otNone) {
                // Only the empty leg that becomes a real one takes a status, "To Open"; a
                // waiting leg keeps its own and never takes its counter order's.
                if (hasCounter && legStatus == stNoLeg) d.FieldByName("Status").SetAsInteger(stToOpen);
                const int items = c.PanelBrokerCount();
                for (int k = 1; k <= 10; ++k) {
                    const int64_t ea = BrokerEAID(tableID, k);
                    const bool ticked = k - 1 < items && c.PanelBrokerChecked(k - 1);
                    const bool fits = ea >= std::numeric_limits<int32_t>::min() &&
                                      ea <= std::numeric_limits<int32_t>::max();
                    d.FieldByName(BrokerField(k))
                        .SetAsInteger(ticked && fits ? static_cast<int32_t>(ea) : -1);
                }
                d.FieldByName("Lots").SetAsFloat(c.RealValue(Ctl::reLotsChange));
                d.FieldByName("Spread").SetAsCurrency(c.RealValue(Ctl::reOpenSpreadChange));
            } else if (hasCounter) {
                d.FieldByName("Status").SetAsInteger(stNoLeg);
                d.FieldByName("Lots").Clear();
                d.FieldByName("Spread").Clear();
                for (int k = 1; k <= 10; ++k) d.FieldByName(BrokerField(k)).SetAsInteger(-1);
            }
        }
        if (condition) {
            d.FieldByName("CloseSpread").SetAsCurrency(c.RealValue(Ctl::reCloseSpreadChange));
            d.FieldByName("CloseBedingung").SetAsInteger(1);
        } else {
            d.FieldByName("CloseSpread").Clear();
            d.FieldByName("CloseBedingung").Clear();
        }
        d.FieldByName("MaxVerlust").SetAsCurrency(c.RealValue(Ctl::reMaxVerlust));
        d.FieldByName("AutoClose").SetAsBoolean(c.Checked(Ctl::cbAutoClose));
        d.Post();
    };
    const bool counterFound =
        counter != -1 && d.Lookup("OrderID", Variant(counter), "OrderID").IsNull() == false;
    apply(counterFound);
    if (counterFound && d.Locate("OrderID", Variant(counter))) apply(true);
    d.Locate("OrderID", Variant(own));
}

// ---- steps of the number boxes ------------------------------------------------------------------

void EditOrders::UpDown1Click(bool up) {
    m_ctx.controls.SetRealValue(Ctl::reOpenSpreadChange, m_ctx.controls.RealValue(Ctl::reOpenSpreadChange) +
                                                             (up ? kSpreadStep : -kSpreadStep));
}
void EditOrders::UpDown2Click(bool up) {
    m_ctx.controls.SetRealValue(Ctl::reMaxVerlust, m_ctx.controls.RealValue(Ctl::reMaxVerlust) +
                                                       (up ? kSpreadStep : -kSpreadStep));
}
void EditOrders::UpDown3Click(bool up) {
    m_ctx.controls.SetRealValue(Ctl::reCloseSpreadChange, m_ctx.controls.RealValue(Ctl::reCloseSpreadChange) +
                                                              (up ? kSpreadStep : -kSpreadStep));
}
void EditOrders::UpDown4Click(bool up) {
    m_ctx.controls.SetRealValue(Ctl::reLotsChange,
                                m_ctx.controls.RealValue(Ctl::reLotsChange) + (up ? kLotsStep : -kLotsStep));
}
void EditOrders::m_reLotsChangeKeyUp(int key) {
    if (key == kVkUp) UpDown4Click(true);
    if (key == kVkDown) UpDown4Click(false);
}

} // namespace quorvel
