// The close reports: "Closed" with its time, the close price with the price gain and the
// achieved close spread, and the profit or loss.
#include "desk/core/closereports.h"

#include <string>

#include "platform/numbers.h"

namespace quorvel {

void CloseReports::OrderClosed(TMessage& m) {
    m.Result = 0;
    OrderList& ob = m_ctx.orders;
    ClientDataSet& ds = ob.m_CDSOrderliste;
    const LegView& leg = ob.Leg();
    if (!ds.Active() || !ob.LocateLeg(m.WParam)) return;
    const TDateTime now = m_ctx.clock.Now();
    ds.Edit();
    leg.Status().SetAsInteger(stClosed);
    leg.CloseTime().SetAsDateTime(now);
    ds.Post();
    // The credit sweep times the close on the monotonic clock.
    m_ctx.NoteStamp(m_ctx.state.closeTimes, m.WParam, now);
    m_ctx.view.Beep();
    m_ctx.view.Beep();
    const bool buy = leg.OrderType().AsInteger() == otBuy;
    m_ctx.view.ShowNotification(std::string(buy ? "LONG" : "SHORT") +
                                "-Position CLOSED: OrderNo=" + leg.Ticket().AsString() +
                                " - Account=" + leg.Account().AsString() + " - EA=" + leg.EAID().AsString());
}

void CloseReports::OrderClosePrice(TMessage& m) {
    m.Result = 0;
    OrderList& ob = m_ctx.orders;
    ClientDataSet& ds = ob.m_CDSOrderliste;
    const LegView& leg = ob.Leg();
    if (!ds.Active()) return;
    // The counter order's close price, before the leg is located; null while it has none (and
    // always for the empty leg of a one-sided transaction).
    const int32_t counter = ob.GetCounterOrderID(m.WParam);
    const Variant counterClose = counter != -1 ? ob.LookupLeg(counter, LegColumn::CloseKurs) : Variant();
    if (!ob.LocateLeg(m.WParam)) return;
    ds.Edit();
    const double closeKurs = PriceOfPoints(m.LParam);
    leg.ClosePrice().SetAsCurrency(closeKurs);
    const int32_t type = leg.OrderType().AsInteger();
    // The leg's gain in whole points: a buy leg gains above its open price, a sell leg below.
    double gain = RoundHalfEven(PointsOfPrice(closeKurs - leg.OpenPrice().AsCurrency()));
    if (type == otSell) gain = -gain;
    leg.ProfitPoints().SetAsCurrency(PriceOfPoints(gain) + 0.0); // no negative zero
    double spread = 0.0;
    if (!counterClose.IsNull()) {
        // The sell leg's close price minus the buy leg's, on the grid of one point.
        const double c = type == otBuy    ? counterClose.AsFloat() - closeKurs
                         : type == otSell ? closeKurs - counterClose.AsFloat()
                                          : 0.0;
        spread = OnPointGrid(c) + 0.0;
        leg.AchievedCloseSpread().SetAsCurrency(spread);
    }
    ds.Post();
    if (counterClose.IsNull() || !ob.LocateLeg(counter)) return;
    ds.Edit();
    leg.AchievedCloseSpread().SetAsCurrency(spread);
    ds.Post();
}

void CloseReports::OrderProfitLoss(TMessage& m) {
    m.Result = 0;
    OrderList& ob = m_ctx.orders;
    ClientDataSet& ds = ob.m_CDSOrderliste;
    if (!ds.Active() || !ob.LocateLeg(m.WParam)) return;
    ds.Edit();
    // The money result comes scaled as a price does.
    ob.Leg().Profit().SetAsCurrency(PriceOfPoints(m.LParam));
    ds.Post();
}

} // namespace quorvel
