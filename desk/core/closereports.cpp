// The close reports: "Closed" with its time, the close price with the price gain and the
// achieved close spread, and the profit or loss.
#include "desk/core/closereports.h"

#include <string>

#include "platform/numbers.h"

namespace quorvel {

void CloseReports::OrderClosed(TMessage& m) {
    m.Result = 0;
    ClientDataSet& ds = m_ctx.orders.m_CDSOrderliste;
    if (!ds.Active() || !ds.Locate("OrderID", Variant(m.WParam))) return;
    const TDateTime now = m_ctx.clock.Now();
    ds.Edit();
    ds.FieldByName("Status").SetAsInteger(stClosed);
    ds.FieldByName("OrderCloseTime").SetAsDateTime(now);
    ds.Post();
    // The credit sweep times the close on the monotonic clock.
    m_ctx.NoteStamp(m_ctx.state.closeTimes, m.WParam, now);
    m_ctx.view.Beep();
    m_ctx.view.Beep();
    const bool buy = ds.FieldByName("OrderType").AsInteger() == otBuy;
    m_ctx.view.ShowNotification(std::string(buy ? "LONG" : "SHORT") +
                                "-Position CLOSED: OrderNo=" + ds.FieldByName("Ticket").AsString() +
                                " - Account=" + ds.FieldByName("Account").AsString() +
                                " - EA=" + ds.FieldByName("EAID").AsString());
}

void CloseReports::OrderClosePrice(TMessage& m) {
    m.Result = 0;
    OrderBook& ob = m_ctx.orders;
    ClientDataSet& ds = ob.m_CDSOrderliste;
    if (!ds.Active()) return;
    // The counter order's close price, before the leg is located; null while it has none (and
    // always for the empty leg of a one-sided transaction).
    const int32_t counter = ob.GetCounterOrderID(m.WParam);
    Variant counterClose;
    if (counter != -1) {
        BusyGuard busy(ob.m_iDisableDataChange);
        counterClose = ds.Lookup("OrderID", Variant(counter), "CloseKurs");
    }
    if (!ds.Locate("OrderID", Variant(m.WParam))) return;
    ds.Edit();
    const double closeKurs = static_cast<double>(m.LParam) / 100000.0;
    ds.FieldByName("CloseKurs").SetAsCurrency(closeKurs);
    const int32_t type = ds.FieldByName("OrderType").AsInteger();
    // The leg's gain in whole points: a buy leg gains above its open price, a sell leg below.
    double gain = RoundHalfEven((closeKurs - ds.FieldByName("Kurs").AsCurrency()) * 100000.0);
    if (type == otSell) gain = -gain;
    ds.FieldByName("GewinnPips").SetAsCurrency(gain / 100000.0 + 0.0); // no negative zero
    double spread = 0.0;
    if (!counterClose.IsNull()) {
        // The sell leg's close price minus the buy leg's, on the grid of one point.
        const double c = type == otBuy    ? counterClose.AsFloat() - closeKurs
                         : type == otSell ? closeKurs - counterClose.AsFloat()
                                          : 0.0;
        spread = RoundHalfEven(c * 100000.0) / 100000.0 + 0.0;
        ds.FieldByName("TC_Spread").SetAsCurrency(spread);
    }
    ds.Post();
    if (counterClose.IsNull() || !ds.Locate("OrderID", Variant(counter))) return;
    ds.Edit();
    ds.FieldByName("TC_Spread").SetAsCurrency(spread);
    ds.Post();
}

void CloseReports::OrderProfitLoss(TMessage& m) {
    m.Result = 0;
    ClientDataSet& ds = m_ctx.orders.m_CDSOrderliste;
    if (!ds.Active() || !ds.Locate("OrderID", Variant(m.WParam))) return;
    ds.Edit();
    ds.FieldByName("Gewinn").SetAsCurrency(static_cast<double>(m.LParam) / 100000.0);
    ds.Post();
}

} // namespace quorvel
