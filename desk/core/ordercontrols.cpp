// The manual close and the close-spread presets of the ADMIN PANEL, "Change Close Order" and
// "Reset AT".
#include "desk/core/ordercontrols.h"

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

void OrderControls::ForceCloseOrder(bool bSingle) {
    OrderList& orders = m_ctx.orders;
    ClientDataSet& d = orders.m_CDSOrderlisteAnzeige;
    const LegView& leg = orders.ShownLeg();
    if (!HasCurrentRecord(d)) return;
    EditGuard guard(d);
    const int32_t id = leg.OrderID().AsInteger();
    ForceLeg(leg, m_ctx.prices);
    if (bSingle) return;
    const int32_t counter = orders.GetCounterOrderID(id);
    // The cursor stays on the counter order: the grid's selection ends there.
    if (counter != -1 && leg.Locate(counter)) ForceLeg(leg, m_ctx.prices);
}

void OrderControls::SetCloseSpreadSelected(double value) {
    OrderList& orders = m_ctx.orders;
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

void OrderControls::ChangeCloseOrder() {
    OrderList& orders = m_ctx.orders;
    const IDeskControls& c = m_ctx.controls;
    BusyGuard busy(orders.m_iDisableDataChange);
    ClientDataSet& d = orders.m_CDSOrderlisteAnzeige;
    if (!HasCurrentRecord(d)) return;
    EditGuard guard(d);
    const bool condition = c.Checked(Ctl::rbCloseKleinerChange);
    const double closeSpread = c.RealValue(Ctl::reCloseSpreadChange);
    const double maxLoss = c.RealValue(Ctl::reMaxVerlust);
    const bool autoClose = c.Checked(Ctl::cbAutoClose);
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

void OrderControls::ResetAutoTrade() {
    m_ctx.controls.SetSpinValue(Ctl::seMaxAutoTrades, m_ctx.settings.maxAutoTrades);
    m_ctx.controls.SetChecked(Ctl::cbAutoTrade, true);
}

} // namespace quorvel
