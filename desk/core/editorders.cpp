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

// The column of broker k (1..10).
LegColumn BrokerColumn(int k) {
    return static_cast<LegColumn>(static_cast<int>(LegColumn::ID1) + k - 1);
}

} // namespace

void EditOrders::FillEditOrdersPanel() {
    OrderList& orders = m_ctx.orders;
    if (orders.m_iDisableDataChange != 0) return;
    const LegView& shown = orders.ShownLeg();
    ClientDataSet& d = shown.DataSet();
    if (!d.Active() || d.State() != DataSetState::Browse) return;
    const int rec = d.RecNo();
    if (rec < 0) return;
    const int32_t own = shown.OrderID().AsInteger();
    // Keyed by the OrderID too: after a delete the next transaction takes the deleted one's row.
    if (rec == m_iLastRecNoAnzeige && own == m_iLastOrderIDAnzeige) return;
    m_iLastRecNoAnzeige = rec;
    m_iLastOrderIDAnzeige = own;

    IDeskControls& c = m_ctx.controls;
    const int32_t counter = orders.GetCounterOrderID(own);
    const int32_t st = shown.Status().AsInteger();
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
    const int32_t table = shown.TableID().AsInteger();
    std::vector<std::string> items;
    for (int k = 1; k <= 10; ++k) items.push_back(std::to_string(BrokerEAID(table, k)));
    c.SetPanelBrokerItems(items);
    for (int k = 1; k <= 10; ++k) {
        const Field& f = shown.Broker(k - 1);
        const bool ownTick = !f.IsNull() && f.AsInteger() >= 0;
        c.SetPanelBrokerChecked(
            k - 1, ownTick || orders.LookupOrderInteger(counter, LegColumnName(BrokerColumn(k))) >= 0);
    }

    // Lots: the larger of the two legs' lots, the counter order's when both are equal.
    const int64_t counterLots = orders.LookupOrderPoints(counter, LegColumnName(LegColumn::Lots));
    const double ownLots = shown.Lots().AsFloat();
    c.SetRealValue(Ctl::reLotsChange, static_cast<double>(counterLots) < PointsOfPrice(ownLots)
                                          ? ownLots
                                          : PriceOfPoints(counterLots));

    const int32_t ownType = shown.OrderType().AsInteger();
    const int32_t counterType = orders.GetOrderTypeByID(counter);
    if (ownType >= 0 && counterType >= 0)
        c.SetChecked(Ctl::rbBuySellChange, true);
    else if (ownType == otBuy || counterType == otBuy)
        c.SetChecked(Ctl::rbBuyChange, true);
    else
        c.SetChecked(Ctl::rbSellChange, true);

    // The spreads: the row's own, else the counter order's (-0.1 when neither has one).
    auto spreadOf = [&](LegColumn column) {
        const Field& f = shown.Column(column);
        return f.IsNull() ? PriceOfPoints(orders.LookupOrderPoints(counter, LegColumnName(column)))
                          : f.AsFloat();
    };
    c.SetRealValue(Ctl::reOpenSpreadChange, spreadOf(LegColumn::Spread));
    c.SetChecked(Ctl::rbOpenKleinerChange, true);
    c.SetRealValue(Ctl::reCloseSpreadChange, spreadOf(LegColumn::CloseSpread));

    const int32_t cb = std::max(shown.CloseCondition().AsInteger(),
                                orders.LookupOrderInteger(counter, LegColumnName(LegColumn::CloseBedingung)));
    if (cb == kCloseAtOrBelowSpread) {
        c.SetChecked(Ctl::rbCloseKleinerChange, true);
    } else {
        c.SetRealValue(Ctl::reCloseSpreadChange, 0.0);
        if (st != stToOpen && st != stPending && cs != stToOpen && cs != stPending)
            c.SetChecked(Ctl::rbCloseKleinerChange, true);
    }
    c.SetRealValue(Ctl::reMaxVerlust, shown.MaxLoss().AsCurrency());
    c.SetChecked(Ctl::cbAutoClose, shown.AutoClose().AsBoolean());

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
    const LegView& shown = orders.ShownLeg();
    ClientDataSet& d = shown.DataSet();
    if (!d.Active() || d.RecNo() < 1 || d.State() != DataSetState::Browse) return;
    const int32_t own = shown.OrderID().AsInteger();
    const int32_t counter = orders.GetCounterOrderID(own);
    const int32_t cs = orders.GetOrderStatusByID(counter);
    const int32_t st = shown.Status().AsInteger();
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
        const int32_t legStatus = shown.Status().AsInteger();
        if (LegEnded(legStatus)) return;
        d.Edit();
        if (openPart) {
            const bool isLow = shown.OrderID().AsInteger() == low;
            int32_t type = both      ? (isLow ? otBuy : otSell)
                           : buyOnly ? (isLow ? otBuy : otNone)
                                     : (isLow ? otNone : otSell);
            if (!hasCounter)
                type = shown.OrderType().AsInteger();
            else
                shown.OrderType().SetAsInteger(type);
            const int32_t tableID = shown.TableID().AsInteger();
            if (type != otNone) {
                // Only the empty leg that becomes a real one takes a status, "To Open"; a
                // waiting leg keeps its own and never takes its counter order's.
                if (hasCounter && legStatus == stNoLeg) shown.Status().SetAsInteger(stToOpen);
                const int items = c.PanelBrokerCount();
                for (int k = 1; k <= 10; ++k) {
                    const int64_t ea = BrokerEAID(tableID, k);
                    const bool ticked = k - 1 < items && c.PanelBrokerChecked(k - 1);
                    const bool fits = ea >= std::numeric_limits<int32_t>::min() &&
                                      ea <= std::numeric_limits<int32_t>::max();
                    shown.Broker(k - 1).SetAsInteger(ticked && fits ? static_cast<int32_t>(ea) : -1);
                }
                shown.Lots().SetAsFloat(c.RealValue(Ctl::reLotsChange));
                shown.OpenSpread().SetAsCurrency(c.RealValue(Ctl::reOpenSpreadChange));
            } else if (hasCounter) {
                shown.Status().SetAsInteger(stNoLeg);
                shown.Lots().Clear();
                shown.OpenSpread().Clear();
                for (int k = 0; k < kEAsPerTable; ++k) shown.Broker(k).SetAsInteger(-1);
            }
        }
        if (condition) {
            shown.CloseSpread().SetAsCurrency(c.RealValue(Ctl::reCloseSpreadChange));
            shown.CloseCondition().SetAsInteger(kCloseAtOrBelowSpread);
        } else {
            shown.CloseSpread().Clear();
            shown.CloseCondition().Clear();
        }
        shown.MaxLoss().SetAsCurrency(c.RealValue(Ctl::reMaxVerlust));
        shown.AutoClose().SetAsBoolean(c.Checked(Ctl::cbAutoClose));
        d.Post();
    };
    const bool counterFound = counter != -1 && !orders.LookupLeg(counter, LegColumn::OrderID).IsNull();
    apply(counterFound);
    if (counterFound && shown.Locate(counter)) apply(true);
    shown.Locate(own);
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
