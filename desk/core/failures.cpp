// Execution failures and the EAs' notices about counter orders.
#include "desk/core/failures.h"

#include <string>

#include "platform/displayformat.h"
#include "platform/numbers.h"

namespace quorvel {

namespace {

// " OrderNo=<ticket> - Account=<account> - EA=<ea>" as the notices write a leg.
std::string LegText(const std::string& ticket, const std::string& account, const std::string& ea) {
    return "OrderNo=" + ticket + " - Account=" + account + " - EA=" + ea;
}

} // namespace

void ExecutionFailures::SetStatus(int32_t status) {
    ClientDataSet& ds = m_ctx.orders.m_CDSOrderliste;
    ds.Edit();
    m_ctx.orders.Leg().Status().SetAsInteger(status);
    ds.Post();
}

void ExecutionFailures::RetryOrderExecution(TMessage& m) {
    m.Result = 0;
    OrderList& ob = m_ctx.orders;
    const LegView& leg = ob.Leg();
    const int32_t failedID = m.WParam;
    const int32_t counterID = ob.GetCounterOrderID(failedID);
    if (!ob.LocateLeg(counterID)) return; // no counter order: give up, nothing changes
    const std::string ea = leg.EAID().AsString();
    const std::string account = leg.Account().AsString();
    const std::string ticket = leg.Ticket().AsString();
    const int32_t status = leg.Status().AsInteger();

    if (status == stOpened || status == stCloseCond) {
        // The counter's result at its EA's quote decides; without an EA, an open price or a
        // quote of that EA there is nothing to decide on, so the failed leg is tried again.
        const int32_t counterEA = leg.EAID().AsInteger();
        const Field& kurs = leg.OpenPrice();
        if (leg.EAID().IsNull() || !m_ctx.IsValidEAID(counterEA) || kurs.IsNull()) {
            m.Result = 1;
            return;
        }
        const bool buy = leg.OrderType().AsInteger() == otBuy;
        const int64_t quote = buy ? m_ctx.prices.Bid[counterEA] : m_ctx.prices.Ask[counterEA];
        if (quote <= 0) {
            m.Result = 1;
            return;
        }
        const double open = PointsOfPrice(kurs.AsCurrency());
        const int64_t r =
            RoundToInt64(buy ? static_cast<double>(quote) - open : open - static_cast<double>(quote));
        const int64_t limit = RoundToInt64(PointsOfPrice(leg.MaxLoss().AsCurrency()));
        if (r < -limit) {
            m.Result = 1;
            return;
        }
        // Within MaxLoss: the counter order closes, the failed leg is given up.
        SetStatus(stToClose);
        if (ob.LocateLeg(failedID)) SetStatus(stCanceled);
        m_ctx.view.ShowNotification("AUTOCLOSE EXECUTED within MaxLoss Value (" + FormatPoints(limit) +
                                    "): " + LegText(ticket, account, ea));
        return;
    }
    if (status == stToOpen) {
        // The counter order never went out: the whole transaction is called off.
        SetStatus(stCanceled);
        if (ob.LocateLeg(failedID)) SetStatus(stCanceled);
        m_ctx.view.ShowNotification("The Counter-Order has not been executed yet --> Transaction cancelled!");
        return;
    }
    m.Result = 1; // Pending, To Close, Closed, Canceled, or the empty leg
}

void ExecutionFailures::CancelOrder(TMessage& m) {
    m.Result = 0;
    OrderList& ob = m_ctx.orders;
    const LegView& leg = ob.Leg();
    if (!ob.LocateLeg(m.WParam)) return;
    SetStatus(stCanceled);
    const std::string ticket = leg.Ticket().AsString();
    const std::string account = leg.Account().AsString();
    const std::string ea = leg.EAID().AsString();
    if (leg.OrderType().AsInteger() == otBuy)
        m_ctx.view.ShowNotification("BUY-Order CANCELED: " + LegText(ticket, account, ea));
    else
        m_ctx.view.ShowNotification("SELL-Order CANCELED: OrderNo=" + ticket + " - Account=" + account +
                                    " EA=" + ea);
}

void ExecutionFailures::ShowEAMessage(TMessage& m) {
    m.Result = 0;
    OrderList& ob = m_ctx.orders;
    const LegView& leg = ob.Leg();
    if (!ob.LocateLeg(m.WParam)) return;
    // The sending EA's counter-check seconds; a leg without a valid EA has none.
    const int32_t ownEA = leg.EAID().AsInteger();
    const int32_t seconds =
        !leg.EAID().IsNull() && m_ctx.IsValidEAID(ownEA) ? m_ctx.prices.aiParamCounterCheckSeconds[ownEA] : 0;
    const int32_t counterID = ob.GetCounterOrderID(m.WParam);
    const std::string ea = std::to_string(ob.LookupOrderInteger(counterID, "EAID"));
    const std::string account = std::to_string(ob.LookupOrderInteger(counterID, "Account"));
    const std::string ticket = ob.LookupOrderString(counterID, "Ticket");
    const std::string secondsText = " sec.): " + LegText(ticket, account, ea);
    const int32_t kind = m.LParam;
    if (kind != 1 && kind != 2) return;
    if (!ob.LocateLeg(counterID)) return;
    const int32_t status = leg.Status().AsInteger();
    if (status != stPending && status != stOpened && status != stCloseCond) return;
    if (kind == 1) {
        if (leg.OpenAfterCounterOrder().AsBoolean()) return;
        m_ctx.view.ShowNotification("CANCEL / AUTOCLOSE ATTEMPT (" + std::to_string(seconds) + secondsText);
        return;
    }
    if (leg.AutoClose().AsBoolean()) {
        if (status == stPending && !m_ctx.WasHandedOut(counterID)) {
            // No EA ever had the counter order: there is no position to close, and a leg in
            // "To Close" that no EA holds would wait for ever.
            SetStatus(stCanceled);
            m_ctx.view.ShowNotification(
                "FORCED AUTOCLOSE (" + std::to_string(seconds) +
                " sec.): Counter-Order never handed out --> Counter-Order cancelled: " +
                LegText(ticket, account, ea));
            return;
        }
        SetStatus(stToClose);
        m_ctx.view.ShowNotification("FORCED AUTOCLOSE (" + std::to_string(seconds) + secondsText);
    } else {
        m_ctx.view.ShowNotification("OPEN POSITION: MANUAL CLOSE REQUIRED: " + LegText(ticket, account, ea));
    }
}

} // namespace quorvel
