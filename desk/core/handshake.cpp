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
    owner.m_openedAlone.clear();
    owner.m_ctx.state.openDelays.clear();
    owner.m_ctx.state.closeDelays.clear();
    owner.m_ctx.state.pendingTimes.clear();
    owner.m_ctx.state.closeTimes.clear();
}

void OpeningHandshake::OrderQuestion(TMessage& m) {
    m.Result = kNoOrder;
    OrderList& ob = m_ctx.orders;
    ClientDataSet& ds = ob.m_CDSOrderliste;
    const LegView& leg = ob.Leg();
    if (!ds.Active() || m_ctx.controls.Checked(Ctl::chkbStandby) || !m_ctx.IsValidEAID(m.WParam)) return;
    // The EA's newest Pending leg; older ones wait until it has left Pending. Status comes first:
    // the Pending legs are few, while an EA's own legs grow with its history.
    static const std::vector<std::string> key{LegColumnName(LegColumn::Status),
                                              LegColumnName(LegColumn::EAID)};
    if (!ds.Locate(key, std::vector<Variant>{Variant(static_cast<int32_t>(stPending)), Variant(m.WParam)}))
        return;
    const int32_t id = leg.OrderID().AsInteger();
    auto counterStatus = [&] { return ob.GetOrderStatusByID(ob.GetCounterOrderID(id)); };
    auto cancel = [&] {
        ds.Edit();
        leg.Status().SetAsInteger(stCanceled);
        ds.Post();
    };
    if (leg.OpenAfterCounterOrder().AsBoolean()) {
        // The leg waits for its counter order to open.
        const int cs = counterStatus();
        if (cs == stOpened || cs == stCloseCond) {
            m.Result = id;
            m_ctx.NoteHandOut(id, m.WParam);
            const TDateTime now = m_ctx.clock.Now();
            ds.Edit();
            leg.OpenDelayUntil().SetAsDateTime(now);
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
    if (m_ctx.HasCome(m_ctx.state.openDelays, id, leg.OpenDelayUntil().AsDateTime())) {
        m.Result = id;
        m_ctx.NoteHandOut(id, m.WParam);
    }
}

void OpeningHandshake::GetOrderType(TMessage& m) {
    m.Result = 0;
    if (!m_ctx.orders.LocateLeg(m.WParam)) return;
    m.Result = m_ctx.orders.Leg().OrderType().AsInteger() == otBuy ? 1 : 2;
}

void OpeningHandshake::GetOrderLots(TMessage& m) {
    m.Result = -1;
    OrderList& ob = m_ctx.orders;
    if (!ob.m_CDSOrderliste.Active()) return;
    m.Result = 0;
    if (ob.LocateLeg(m.WParam)) m.Result = RoundToLink(ob.Leg().Lots().AsFloat() * 100.0);
}

void OpeningHandshake::GetTriggerPrice(TMessage& m) {
    m.Result = -1;
    OrderList& ob = m_ctx.orders;
    if (!ob.m_CDSOrderliste.Active()) return;
    m.Result = 0;
    if (ob.LocateLeg(m.WParam))
        m.Result = RoundToLink(PointsOfPrice(ob.Leg().TriggerOpenPrice().AsCurrency()));
}

void OpeningHandshake::OrderOpened(TMessage& m) {
    m.Result = 0;
    OrderList& ob = m_ctx.orders;
    ClientDataSet& ds = ob.m_CDSOrderliste;
    const LegView& leg = ob.Leg();
    const int32_t id = m.WParam;
    const int cs = ob.GetOrderStatusByID(ob.GetCounterOrderID(id));
    if (!ob.LocateLeg(id)) return;
    const auto handOut = m_ctx.state.handedOut.find(id);
    EngineState::HandOut* h = handOut == m_ctx.state.handedOut.end() ? nullptr : &handOut->second;
    const Field& ticket = leg.Ticket();
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
    const int32_t status = leg.Status().AsInteger();
    const bool opens = status < stOpened || status == stCanceled;
    if (opens) leg.Status().SetAsInteger(stOpened);
    leg.Ticket().SetAsInteger(m.LParam);
    leg.OpenTime().SetAsDateTime(m_ctx.clock.Now());
    // A leg the minute sweep took back from its silent EA, reported by that EA before anyone
    // else was handed it: the position is that EA's, so the leg names it again (without an EA
    // it would never meet its close condition).
    Field& eaid = leg.EAID();
    if (h && m_ctx.IsValidEAID(h->ea) && (eaid.IsNull() || !m_ctx.IsValidEAID(eaid.AsInteger()))) {
        eaid.SetAsInteger(h->ea);
        leg.Account().SetAsInteger(m_ctx.prices.Accounts[static_cast<size_t>(h->ea)]);
    }
    ds.Post();
    if (h) h->reported = true;
    m_ctx.view.Beep();
    const bool buy = leg.OrderType().AsInteger() == otBuy;
    const std::string text = "OrderNo=" + std::to_string(m.LParam) +
                             " - Account=" + leg.Account().AsString() + " - EA=" + leg.EAID().AsString();
    m_ctx.view.ShowNotification(std::string(buy ? "BUY" : "SELL") + "-Order EXECUTED: " + text);
    if (opens && (cs == stClosed || cs == stCanceled) && m_openedAlone.insert(id).second)
        m_ctx.view.ShowNotification("OPEN POSITION WITHOUT COUNTER-ORDER: MANUAL CLOSE REQUIRED: " + text);
}

void OpeningHandshake::OrderError(TMessage& m) {
    OrderList& ob = m_ctx.orders;
    if (!ob.LocateLeg(m.WParam)) return;
    const LegView& leg = ob.Leg();
    const bool buy = leg.OrderType().AsInteger() == otBuy;
    m_ctx.view.ShowNotification("ERROR (" + std::to_string(m.LParam) + "): " + (buy ? "BUY" : "SELL") +
                                "-Order - Account=" + leg.Account().AsString() +
                                " - EA=" + leg.EAID().AsString());
}

void OpeningHandshake::ApplyCloseCondition() {
    const LegView& leg = m_ctx.orders.Leg();
    const int32_t status = leg.Status().AsInteger();
    // A leg that is being closed or is closed stays so: a late or repeated fill report must
    // not reopen its transaction.
    if (status != stToClose && status != stClosed) leg.Status().SetAsInteger(stCloseCond);
}

void OpeningHandshake::ApplyOpenSpread(double toSpread) {
    const LegView& leg = m_ctx.orders.Leg();
    // A repeated report finds the spread already stored: the close spread was corrected for
    // this opening once and is not lowered again.
    const bool first = leg.AchievedOpenSpread().IsNull();
    leg.AchievedOpenSpread().SetAsCurrency(toSpread);
    if (leg.CloseCondition().AsInteger() <= 0 || leg.CloseSpread().IsNull()) return;
    ApplyCloseCondition();
    const double target = leg.OpenSpread().AsCurrency();
    if (first && toSpread > target && leg.SlippageCompensation().AsBoolean()) {
        Field& close = leg.CloseSpread();
        close.SetAsCurrency(close.AsCurrency() - (toSpread - target));
    }
}

void OpeningHandshake::OrderOpenPrice(TMessage& m) {
    m.Result = 0;
    OrderList& ob = m_ctx.orders;
    ClientDataSet& ds = ob.m_CDSOrderliste;
    const LegView& leg = ob.Leg();
    const int32_t counter = ob.GetCounterOrderID(m.WParam);
    const Variant pk = counter != -1 ? ob.LookupLeg(counter, LegColumn::Kurs) : Variant();
    const int counterType = ob.GetOrderTypeByID(counter);
    if (!ob.LocateLeg(m.WParam)) return;
    ds.Edit();
    const double kurs = PriceOfPoints(m.LParam);
    leg.OpenPrice().SetAsCurrency(kurs);
    double toSpread = 0.0;
    if (!pk.IsNull()) {
        // The buy leg's fill minus the sell leg's, on the grid of one point.
        const double diff = leg.OrderType().AsInteger() == otBuy ? kurs - pk.AsFloat() : pk.AsFloat() - kurs;
        toSpread = OnPointGrid(diff);
        ApplyOpenSpread(toSpread);
    } else if (counterType == otNone) {
        // A one-sided transaction (or a leg without counter order) is open with its one fill.
        if (leg.CloseCondition().AsInteger() > 0 && !leg.CloseSpread().IsNull()) ApplyCloseCondition();
    }
    ds.Post();
    if (pk.IsNull() || !ob.LocateLeg(counter)) return;
    ds.Edit();
    ApplyOpenSpread(toSpread);
    ds.Post();
}

void OpeningHandshake::GetOrderID(TMessage& m) {
    m.Result = -1;
    OrderList& ob = m_ctx.orders;
    BusyGuard busy(ob.m_iDisableDataChange);
    const Variant id = ob.m_CDSOrderliste.Lookup(LegColumnName(LegColumn::Ticket), Variant(m.LParam),
                                                 LegColumnName(LegColumn::OrderID));
    m.Result = id.IsNull() ? -1 : id.AsInteger();
}

} // namespace quorvel
