// The opening hand-shake: the messages by which an EA collects, executes and reports its leg.
#include "desk/core/handshake.h"

#include <string>

#include "platform/numbers.h"

namespace quorvel {

OpeningHandshake::OpeningHandshake(EngineContext ctx) : m_ctx(ctx) {
    m_ctx.orders.m_CDSOrderliste.AddObserver(&m_listWatch);
}

OpeningHandshake::~OpeningHandshake() {
    m_ctx.orders.m_CDSOrderliste.RemoveObserver(&m_listWatch);
}

void OpeningHandshake::ListWatch::DataChanged(Change change, int /*row*/) {
    if (change != Change::Reset || owner.m_ctx.orders.m_CDSOrderliste.Active()) return;
    owner.m_ctx.state.handedOut.clear();
    owner.m_ctx.state.openedAlone.clear();
    owner.m_ctx.state.openDelays.clear();
    owner.m_ctx.state.closeDelays.clear();
    owner.m_ctx.state.pendingTimes.clear();
    owner.m_ctx.state.closeTimes.clear();
}

bool OpeningHandshake::LocateOrder(int32_t orderID) {
    return m_ctx.orders.m_CDSOrderliste.Locate("OrderID", Variant(orderID));
}

void OpeningHandshake::OrderQuestion(TMessage& m) {
    m.Result = -1;
    OrderBook& ob = m_ctx.orders;
    ClientDataSet& ds = ob.m_CDSOrderliste;
    if (!ds.Active() || m_ctx.controls.Checked(Ctl::chkbStandby) || !m_ctx.IsValidEAID(m.WParam)) return;
    // The EA's newest Pending leg; older ones wait until it has left Pending. Status comes first:
    // the Pending legs are few, while an EA's own legs grow with its history.
    if (!ds.Locate(std::vector<std::string>{"Status", "EAID"},
                   std::vector<Variant>{Variant(static_cast<int32_t>(stPending)), Variant(m.WParam)}))
        return;
    const int32_t id = ds.FieldByName("OrderID").AsInteger();
    auto counterStatus = [&] { return ob.GetOrderStatusByID(ob.GetCounterOrderID(id)); };
    auto cancel = [&] {
        ds.Edit();
        ds.FieldByName("Status").SetAsInteger(stCanceled);
        ds.Post();
    };
    if (ds.FieldByName("OpenAfterCounterOrder").AsBoolean()) {
        // The leg waits for its counter order to open.
        const int cs = counterStatus();
        if (cs == stOpened || cs == stCloseCond) {
            m.Result = id;
            m_ctx.NoteHandOut(id, m.WParam);
            const TDateTime now = m_ctx.clock.Now();
            ds.Edit();
            ds.FieldByName("OpenDelayUntil").SetAsDateTime(now);
            ds.Post();
            m_ctx.NoteStamp(m_ctx.state.openDelays, id, now);
        } else if (cs == stCanceled || cs == stClosed) {
            // Its counter order will never open: the leg can never go, and as the EA's newest
            // Pending leg it would hide the EA's older ones for good.
            cancel();
        }
        return;
    }
    if (!m_ctx.WasHandedOut(id)) {
        // A counter order that has ended before any EA had the leg: opened now, the leg would
        // stand alone.
        const int cs = counterStatus();
        if (cs == stCanceled || cs == stClosed) {
            cancel();
            return;
        }
    }
    // A delayed leg goes from its delay time on; without one (null reads as the zero date) at once.
    if (m_ctx.HasCome(m_ctx.state.openDelays, id, ds.FieldByName("OpenDelayUntil").AsDateTime())) {
        m.Result = id;
        m_ctx.NoteHandOut(id, m.WParam);
    }
}

void OpeningHandshake::GetOrderType(TMessage& m) {
    m.Result = 0;
    if (!LocateOrder(m.WParam)) return;
    m.Result = m_ctx.orders.m_CDSOrderliste.FieldByName("OrderType").AsInteger() == otBuy ? 1 : 2;
}

void OpeningHandshake::GetOrderLots(TMessage& m) {
    m.Result = -1;
    ClientDataSet& ds = m_ctx.orders.m_CDSOrderliste;
    if (!ds.Active()) return;
    m.Result = 0;
    if (LocateOrder(m.WParam)) m.Result = RoundToLink(ds.FieldByName("Lots").AsFloat() * 100.0);
}

void OpeningHandshake::GetTriggerPrice(TMessage& m) {
    m.Result = -1;
    ClientDataSet& ds = m_ctx.orders.m_CDSOrderliste;
    if (!ds.Active()) return;
    m.Result = 0;
    if (LocateOrder(m.WParam)) m.Result = RoundToLink(ds.FieldByName("TrigOpenKurs").AsCurrency() * 100000.0);
}

void OpeningHandshake::OrderOpened(TMessage& m) {
    m.Result = 0;
    OrderBook& ob = m_ctx.orders;
    ClientDataSet& ds = ob.m_CDSOrderliste;
    const int32_t id = m.WParam;
    const int cs = ob.GetOrderStatusByID(ob.GetCounterOrderID(id));
    if (!LocateOrder(id)) return;
    const auto handOut = m_ctx.state.handedOut.find(id);
    EngineState::HandOut* h = handOut == m_ctx.state.handedOut.end() ? nullptr : &handOut->second;
    const Field& ticket = ds.FieldByName("Ticket");
    if (h && h->earlier != 0 && h->reported && !ticket.IsNull() && ticket.AsInteger() != m.LParam) {
        // The leg changed hands and a ticket came in since: a second one comes from the other
        // of its two EAs (the report does not say which). The list keeps the position it has;
        // the other one is the operator's to close.
        m_ctx.view.Beep();
        m_ctx.view.ShowNotification(
            "UNTRACKED POSITION: MANUAL CLOSE REQUIRED: OrderNo=" + std::to_string(m.LParam) + " - Order " +
            std::to_string(id) + " was handed to EA=" + std::to_string(h->earlier) +
            " and EA=" + std::to_string(h->ea) + " and keeps OrderNo=" + ticket.AsString());
        return;
    }
    ds.Edit();
    const int32_t status = ds.FieldByName("Status").AsInteger();
    const bool opens = status < stOpened || status == stCanceled;
    if (opens) ds.FieldByName("Status").SetAsInteger(stOpened);
    ds.FieldByName("Ticket").SetAsInteger(m.LParam);
    ds.FieldByName("OrderOpenTime").SetAsDateTime(m_ctx.clock.Now());
    // A leg the minute sweep took back from its silent EA, reported by that EA before anyone
    // else was handed it: the position is that EA's, so the leg names it again (without an EA
    // it would never meet its close condition).
    Field& eaid = ds.FieldByName("EAID");
    if (h && m_ctx.IsValidEAID(h->ea) && (eaid.IsNull() || !m_ctx.IsValidEAID(eaid.AsInteger()))) {
        eaid.SetAsInteger(h->ea);
        ds.FieldByName("Account").SetAsInteger(m_ctx.prices.Accounts[static_cast<size_t>(h->ea)]);
    }
    ds.Post();
    if (h) h->reported = true;
    m_ctx.view.Beep();
    const bool buy = ds.FieldByName("OrderType").AsInteger() == otBuy;
    const std::string leg = "OrderNo=" + std::to_string(m.LParam) +
                            " - Account=" + ds.FieldByName("Account").AsString() +
                            " - EA=" + ds.FieldByName("EAID").AsString();
    m_ctx.view.ShowNotification(std::string(buy ? "BUY" : "SELL") + "-Order EXECUTED: " + leg);
    if (opens && (cs == stClosed || cs == stCanceled) && m_ctx.state.openedAlone.insert(id).second)
        m_ctx.view.ShowNotification("OPEN POSITION WITHOUT COUNTER-ORDER: MANUAL CLOSE REQUIRED: " + leg);
}

void OpeningHandshake::OrderError(TMessage& m) {
    ClientDataSet& ds = m_ctx.orders.m_CDSOrderliste;
    if (!LocateOrder(m.WParam)) return;
    const bool buy = ds.FieldByName("OrderType").AsInteger() == otBuy;
    m_ctx.view.ShowNotification("ERROR (" + std::to_string(m.LParam) + "): " + (buy ? "BUY" : "SELL") +
                                "-Order - Account=" + ds.FieldByName("Account").AsString() +
                                " - EA=" + ds.FieldByName("EAID").AsString());
}

void OpeningHandshake::ApplyCloseCondition() {
    ClientDataSet& ds = m_ctx.orders.m_CDSOrderliste;
    const int32_t status = ds.FieldByName("Status").AsInteger();
    // A leg that is being closed or is closed stays so: a late or repeated fill report must
    // not reopen its transaction.
    if (status != stToClose && status != stClosed) ds.FieldByName("Status").SetAsInteger(stCloseCond);
}

void OpeningHandshake::ApplyOpenSpread(double toSpread) {
    ClientDataSet& ds = m_ctx.orders.m_CDSOrderliste;
    // A repeated report finds the spread already stored: the close spread was corrected for
    // this opening once and is not lowered again.
    const bool first = ds.FieldByName("TO_Spread").IsNull();
    ds.FieldByName("TO_Spread").SetAsCurrency(toSpread);
    if (ds.FieldByName("CloseBedingung").AsInteger() <= 0 || ds.FieldByName("CloseSpread").IsNull()) return;
    ApplyCloseCondition();
    const double target = ds.FieldByName("Spread").AsCurrency();
    if (first && toSpread > target && ds.FieldByName("SlippageAusgleich").AsBoolean()) {
        Field& close = ds.FieldByName("CloseSpread");
        close.SetAsCurrency(close.AsCurrency() - (toSpread - target));
    }
}

void OpeningHandshake::OrderOpenPrice(TMessage& m) {
    m.Result = 0;
    OrderBook& ob = m_ctx.orders;
    ClientDataSet& ds = ob.m_CDSOrderliste;
    const int32_t counter = ob.GetCounterOrderID(m.WParam);
    Variant pk;
    if (counter != -1) {
        BusyGuard busy(ob.m_iDisableDataChange);
        pk = ds.Lookup("OrderID", Variant(counter), "Kurs");
    }
    const int counterType = ob.GetOrderTypeByID(counter);
    if (!LocateOrder(m.WParam)) return;
    ds.Edit();
    const double kurs = static_cast<double>(m.LParam) / 100000.0;
    ds.FieldByName("Kurs").SetAsCurrency(kurs);
    double toSpread = 0.0;
    if (!pk.IsNull()) {
        // The buy leg's fill minus the sell leg's, on the grid of one point.
        const double diff =
            ds.FieldByName("OrderType").AsInteger() == otBuy ? kurs - pk.AsFloat() : pk.AsFloat() - kurs;
        toSpread = RoundHalfEven(diff * 100000.0) / 100000.0;
        ApplyOpenSpread(toSpread);
    } else if (counterType == otNone) {
        // A one-sided transaction (or a leg without counter order) is open with its one fill.
        if (ds.FieldByName("CloseBedingung").AsInteger() > 0 && !ds.FieldByName("CloseSpread").IsNull())
            ApplyCloseCondition();
    }
    ds.Post();
    if (pk.IsNull() || !LocateOrder(counter)) return;
    ds.Edit();
    ApplyOpenSpread(toSpread);
    ds.Post();
}

void OpeningHandshake::GetOrderID(TMessage& m) {
    m.Result = -1;
    OrderBook& ob = m_ctx.orders;
    BusyGuard busy(ob.m_iDisableDataChange);
    const Variant id = ob.m_CDSOrderliste.Lookup("Ticket", Variant(m.LParam), "OrderID");
    m.Result = id.IsNull() ? -1 : id.AsInteger();
}

} // namespace quorvel
