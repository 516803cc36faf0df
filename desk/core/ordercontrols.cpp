// The manual close and the close-spread presets of the ADMIN PANEL, and "Change Close Order".
// They act on the grid's selected row (the display cursor's current record) and reach its
// counter order by moving the display cursor, so that the grid's selection follows.
#include "desk/core/ordercontrols.h"

#include "desk/core/desk.h"
#include "desk/core/orderlist.h"

namespace quorvel {

namespace {

bool HasCurrentRecord(const ClientDataSet& d) {
    return d.Active() && d.RecNo() >= 1;
}

// Forces the leg under the cursor to "To Close" with the current price as trigger price.
void ForceLeg(const LegView& leg, const PriceStore& prices) {
    ClientDataSet& d = leg.DataSet();
    const int32_t st = leg.Status().AsInteger();
    if (st < stPending || LegEnded(st)) return;
    d.Edit();
    leg.Status().SetAsInteger(stToClose);
    const int32_t ea = leg.EAID().AsInteger();
    if (ea >= 1 && ea <= kMaxEAs) {
        const int32_t type = leg.OrderType().AsInteger();
        const size_t i = static_cast<size_t>(ea);
        const int64_t points = type == otBuy ? prices.Bid[i] : type == otSell ? prices.Ask[i] : 0;
        // An EA that was never quoted (or holds no price) leaves the trigger price as it was.
        if (points > 0) leg.TriggerClosePrice().SetAsCurrency(PriceOfPoints(points));
    }
    leg.CloseSpread().Clear();
    leg.ForceClose().SetAsBoolean(true);
    d.Post();
}

} // namespace

void Desk::ForceCloseOrder(bool bSingle) {
    ClientDataSet& d = orders.m_CDSOrderlisteAnzeige;
    const LegView& leg = orders.ShownLeg();
    if (!HasCurrentRecord(d)) return;
    EditGuard guard(d);
    const int32_t id = leg.OrderID().AsInteger();
    ForceLeg(leg, prices);
    if (bSingle) return;
    const int32_t counter = orders.GetCounterOrderID(id);
    // The cursor stays on the counter order: the grid's selection ends there.
    if (counter != -1 && leg.Locate(counter)) ForceLeg(leg, prices);
}

void Desk::SetCloseSpreadSelected(double value) {
    ClientDataSet& d = orders.m_CDSOrderlisteAnzeige;
    const LegView& leg = orders.ShownLeg();
    if (!HasCurrentRecord(d) || d.State() != DataSetState::Browse) return;
    EditGuard guard(d);
    const int32_t id = leg.OrderID().AsInteger();
    const int32_t counter = orders.GetCounterOrderID(id);
    auto apply = [&] {
        d.Edit();
        leg.CloseSpread().SetAsCurrency(value);
        if (leg.Status().AsInteger() == stToClose) leg.Status().SetAsInteger(stCloseCond);
        d.Post();
    };
    apply();
    if (counter != -1 && leg.Locate(counter)) apply();
    leg.Locate(id);
}

void Desk::m_btnCloseOrderClick() {
    BusyGuard busy(orders.m_iDisableDataChange);
    ClientDataSet& d = orders.m_CDSOrderlisteAnzeige;
    if (!HasCurrentRecord(d)) return;
    EditGuard guard(d);
    const bool condition = m_controls.Checked(Ctl::rbCloseKleinerChange);
    const double closeSpread = m_controls.RealValue(Ctl::reCloseSpreadChange);
    const double maxLoss = m_controls.RealValue(Ctl::reMaxVerlust);
    const bool autoClose = m_controls.Checked(Ctl::cbAutoClose);
    const LegView& leg = orders.ShownLeg();
    const int32_t id = leg.OrderID().AsInteger();
    const int32_t counter = orders.GetCounterOrderID(id);
    auto apply = [&] {
        const int32_t st = leg.Status().AsInteger();
        if (st == stNoLeg || LegEnded(st)) return;
        d.Edit();
        if (condition) {
            leg.Status().SetAsInteger(stCloseCond);
            leg.CloseSpread().SetAsCurrency(closeSpread);
            leg.CloseCondition().SetAsInteger(kCloseAtOrBelowSpread);
        } else {
            leg.CloseSpread().Clear();
            leg.CloseCondition().Clear();
            if (st == stCloseCond) leg.Status().SetAsInteger(stOpened);
        }
        leg.MaxLoss().SetAsCurrency(maxLoss);
        leg.AutoClose().SetAsBoolean(autoClose);
        d.Post();
    };
    apply();
    if (counter != -1 && leg.Locate(counter)) apply();
}

} // namespace quorvel
