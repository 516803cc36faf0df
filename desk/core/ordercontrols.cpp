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

// Forces the current record of `d` to "To Close" with the current price as trigger price.
void ForceLeg(ClientDataSet& d, const PriceStore& prices) {
    const int32_t st = d.FieldByName("Status").AsInteger();
    if (st < stPending || LegEnded(st)) return;
    d.Edit();
    d.FieldByName("Status").SetAsInteger(stToClose);
    const int32_t ea = d.FieldByName("EAID").AsInteger();
    if (ea >= 1 && ea <= kMaxEAs) {
        const int32_t type = d.FieldByName("OrderType").AsInteger();
        const size_t i = static_cast<size_t>(ea);
        const int64_t points = type == otBuy ? prices.Bid[i] : type == otSell ? prices.Ask[i] : 0;
        // An EA that was never quoted (or holds no price) leaves the trigger price as it was.
        if (points > 0) d.FieldByName("TrigCloseKurs").SetAsCurrency(PriceOfPoints(points));
    }
    d.FieldByName("CloseSpread").Clear();
    d.FieldByName("ForceClose").SetAsBoolean(true);
    d.Post();
}

} // namespace

void Desk::ForceCloseOrder(bool bSingle) {
    ClientDataSet& d = orders.m_CDSOrderlisteAnzeige;
    if (!HasCurrentRecord(d)) return;
    EditGuard guard(d);
    const int32_t id = d.FieldByName("OrderID").AsInteger();
    ForceLeg(d, prices);
    if (bSingle) return;
    const int32_t counter = orders.GetCounterOrderID(id);
    // The cursor stays on the counter order: the grid's selection ends there.
    if (counter != -1 && d.Locate("OrderID", Variant(counter))) ForceLeg(d, prices);
}

void Desk::SetCloseSpreadSelected(double value) {
    ClientDataSet& d = orders.m_CDSOrderlisteAnzeige;
    if (!HasCurrentRecord(d) || d.State() != DataSetState::Browse) return;
    EditGuard guard(d);
    const int32_t id = d.FieldByName("OrderID").AsInteger();
    const int32_t counter = orders.GetCounterOrderID(id);
    auto apply = [&] {
        d.Edit();
        d.FieldByName("CloseSpread").SetAsCurrency(value);
        if (d.FieldByName("Status").AsInteger() == stToClose)
            d.FieldByName("Status").SetAsInteger(stCloseCond);
        d.Post();
    };
    apply();
    if (counter != -1 && d.Locate("OrderID", Variant(counter))) apply();
    d.Locate("OrderID", Variant(id));
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
    const int32_t id = d.FieldByName("OrderID").AsInteger();
    const int32_t counter = orders.GetCounterOrderID(id);
    auto apply = [&] {
        const int32_t st = d.FieldByName("Status").AsInteger();
        if (st == stNoLeg || LegEnded(st)) return;
        d.Edit();
        if (condition) {
            d.FieldByName("Status").SetAsInteger(stCloseCond);
            d.FieldByName("CloseSpread").SetAsCurrency(closeSpread);
            d.FieldByName("CloseBedingung").SetAsInteger(1);
        } else {
            d.FieldByName("CloseSpread").Clear();
            d.FieldByName("CloseBedingung").Clear();
            if (st == stCloseCond) d.FieldByName("Status").SetAsInteger(stOpened);
        }
        d.FieldByName("MaxVerlust").SetAsCurrency(maxLoss);
        d.FieldByName("AutoClose").SetAsBoolean(autoClose);
        d.Post();
    };
    apply();
    if (counter != -1 && d.Locate("OrderID", Variant(counter))) apply();
}

} // namespace quorvel
