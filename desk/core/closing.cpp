// The closing engine: the close question of the EAs, the close trigger price and the closing
// windows of the EA pairs.
#include "desk/core/closing.h"

#include <optional>

#include "platform/numbers.h"

namespace quorvel {

void ClosingEngine::OrderCloseQuestions(TMessage& m) {
    m.Result = kWait;
    if (!m_ctx.orders.m_CDSOrderliste.Active() || m_ctx.controls.Checked(Ctl::chkbStandby)) return;
    CloseCondition(m.WParam);
    m.Result = CloseAnswer(m.WParam);
}

void ClosingEngine::CloseCondition(int32_t orderID) {
    OrderList& ob = m_ctx.orders;
    ClientDataSet& ds = ob.m_CDSOrderliste;
    const LegView& f = ob.Leg();
    if (!ob.LocateLeg(orderID)) return;
    if (f.Status().AsInteger() != stCloseCond) return;

    const int32_t ownEA = f.EAID().AsInteger();
    const int32_t type = f.OrderType().AsInteger();
    const int32_t bedingung = f.CloseCondition().AsInteger();
    const int64_t closePts = RoundToInt64(PointsOfPrice(f.CloseSpread().AsCurrency()));
    if (type != otBuy && type != otSell) return;
    const bool buyAsks = type == otBuy;

    // The counter order: found, and of the other side or the empty leg of a one-sided
    // transaction. A null field of it reads as the typed accessor gives it (0).
    const int32_t counter = ob.GetCounterOrderID(orderID);
    if (counter == -1) return;
    if (ob.LookupLeg(counter, LegColumn::OrderID).IsNull()) return; // deleted
    const int32_t cType = ob.LookupLeg(counter, LegColumn::OrderType).AsInteger();
    const bool oneSided = cType == otNone;
    if (!oneSided && cType != (buyAsks ? otSell : otBuy)) return;
    const int32_t cEA = ob.LookupLeg(counter, LegColumn::EAID).AsInteger();
    const int32_t buyEA = buyAsks ? ownEA : cEA;
    const int32_t sellEA = buyAsks ? cEA : ownEA;

    // Both EAs must be valid before their quotes are read: the IDs come from the list.
    if (!m_ctx.IsValidEAID(buyEA) || !m_ctx.IsValidEAID(sellEA)) return;
    const PriceStore& p = m_ctx.prices;
    if (p.Ask[buyEA] <= 0 || p.Bid[buyEA] <= 0 || p.Ask[sellEA] <= 0 || p.Bid[sellEA] <= 0) return;
    if (bedingung != kCloseAtOrBelowSpread) return;
    const int64_t bid = p.Bid[buyEA];
    const int64_t ask = p.Ask[sellEA];
    if (ask - bid > closePts) return;
    // The closing window runs on the monotonic clock: a step of the local time neither
    // stretches nor shortens it.
    const TDateTime now = m_ctx.clock.Monotonic();
    if (!IsTradeCloseAllowed(buyEA, sellEA, now)) return;

    // Which leg closes first. A one-sided transaction closes at once.
    bool buyWaits = false, sellWaits = false;
    std::optional<TDateTime> buyDelay, sellDelay;
    if (!oneSided) {
        // The trend is taken in the buy-then-sell order, as the opening takes it, so that both
        // legs see the same trend even when their EAs quoted in the same millisecond.
        if (m_ctx.controls.Checked(Ctl::chkbSeqMode)) {
            const int t = m_ctx.GetTrend(buyEA, sellEA);
            if (t == 0) return;
            // Rising: the buy leg follows its counter; falling: the sell leg does. Only the
            // leading leg's question sets the close going.
            if (t > 0)
                buyWaits = true;
            else
                sellWaits = true;
            if ((t > 0) == buyAsks) return;
        } else if (m_ctx.controls.Checked(Ctl::chkbDelayMode)) {
            const int t = m_ctx.GetTrend(buyEA, sellEA);
            if (t == 0) return;
            if (t > 0)
                buyDelay = m_ctx.GetDelayPos2Time();
            else
                sellDelay = m_ctx.GetDelayPos2Time();
        }
    }

    // The asking leg, then its counter order, each only while it is still in "Close Cond.".
    auto toClose = [&](bool buyLeg, int32_t id) {
        ds.Edit();
        f.Status().SetAsInteger(stToClose);
        f.TriggerClosePrice().SetAsCurrency(PriceOfPoints(buyLeg ? bid : ask));
        f.CloseAfterCounterOrder().SetAsBoolean(buyLeg ? buyWaits : sellWaits);
        const std::optional<TDateTime>& delay = buyLeg ? buyDelay : sellDelay;
        if (delay) f.CloseDelayUntil().SetAsDateTime(*delay);
        ds.Post();
        // The delay is measured on the monotonic clock.
        if (delay) m_ctx.NoteStamp(m_ctx.state.closeDelays, id, *delay);
    };
    toClose(buyAsks, orderID);
    if (ob.LocateLeg(counter) && f.Status().AsInteger() == stCloseCond) toClose(!buyAsks, counter);
    RegisterTradeClose(buyEA, sellEA, now);
}

int32_t ClosingEngine::CloseAnswer(int32_t orderID) {
    OrderList& ob = m_ctx.orders;
    ClientDataSet& ds = ob.m_CDSOrderliste;
    const LegView& f = ob.Leg();
    if (!ob.LocateLeg(orderID)) return kWait;
    if (f.Status().AsInteger() != stToClose) return kWait;
    const int32_t counter = ob.GetCounterOrderID(orderID);
    const int cs = ob.GetOrderStatusByID(counter);

    if (f.ForceClose().AsBoolean()) return kCloseNow;

    if (f.CloseAfterCounterOrder().AsBoolean()) {
        // The waiting leg goes once its counter order has closed or was cancelled.
        if (cs < stClosed) return kWait;
        const TDateTime now = m_ctx.clock.Now();
        ds.Edit();
        f.CloseDelayUntil().SetAsDateTime(now);
        ds.Post();
        m_ctx.NoteStamp(m_ctx.state.closeDelays, orderID, now);
        return kCloseNow;
    }

    if (cs == stToClose && m_ctx.controls.Checked(Ctl::chkbSeqMode)) {
        // The leading leg of a sequential close: has the price moved against the close by more
        // than the slippage since the trigger? A leg without a valid EA, or of neither side,
        // has no price to compare and is answered as any other leg below.
        const int32_t ea = f.EAID().AsInteger();
        const int32_t type = f.OrderType().AsInteger();
        if (m_ctx.IsValidEAID(ea) && (type == otBuy || type == otSell)) {
            const double trig = f.TriggerClosePrice().AsCurrency();
            const double move = type == otBuy ? trig - PriceOfPoints(m_ctx.prices.Bid[ea])
                                              : PriceOfPoints(m_ctx.prices.Ask[ea]) - trig;
            const double tolerance = m_ctx.controls.SpinValue(Ctl::seSlippage) * 0.0001 + 0.00000001;
            if (move <= tolerance) return kCloseLeading;
            // Withdrawn: both legs wait for their close condition again.
            ds.Edit();
            f.Status().SetAsInteger(stCloseCond);
            ds.Post();
            if (counter > 0 && ob.LocateLeg(counter) && f.Status().AsInteger() == stToClose) {
                ds.Edit();
                f.Status().SetAsInteger(stCloseCond);
                ds.Post();
            }
            return kWait;
        }
    }

    // An undelayed leg (a null delay reads as the zero date) goes at once.
    return m_ctx.HasCome(m_ctx.state.closeDelays, orderID, f.CloseDelayUntil().AsDateTime()) ? kCloseNow
                                                                                             : kWait;
}

void ClosingEngine::GetTriggerPriceClose(TMessage& m) {
    OrderList& ob = m_ctx.orders;
    m.Result = -1;
    if (!ob.m_CDSOrderliste.Active()) return;
    m.Result = 0;
    if (ob.LocateLeg(m.WParam))
        m.Result = RoundToLink(PointsOfPrice(ob.Leg().TriggerClosePrice().AsCurrency()));
}

bool ClosingEngine::IsTradeCloseAllowed(int buyEA, int sellEA, TDateTime now) const {
    if (!m_ctx.IsValidEAID(buyEA) || !m_ctx.IsValidEAID(sellEA)) return true;
    if (now >= m_closeLimitUntil[buyEA][sellEA]) return true;
    return m_closedWithinLimit[buyEA][sellEA] < m_simultaneousClosing;
}

void ClosingEngine::RegisterTradeClose(int buyEA, int sellEA, TDateTime now) {
    if (!m_ctx.IsValidEAID(buyEA) || !m_ctx.IsValidEAID(sellEA)) return;
    if (now >= m_closeLimitUntil[buyEA][sellEA]) {
        m_closeLimitUntil[buyEA][sellEA] = now + m_closingPauseSeconds / kSecondsPerDay;
        m_closedWithinLimit[buyEA][sellEA] = 1;
    } else {
        ++m_closedWithinLimit[buyEA][sellEA];
    }
}

void ClosingEngine::ClearCloseLimits() {
    m_closeLimitUntil.Fill(0.0);
    m_closedWithinLimit.Fill(0);
}

} // namespace quorvel
