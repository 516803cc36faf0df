// Helpers shared by the opening and the closing of transactions.
#include "desk/core/engine.h"

#include <cmath>

namespace quorvel {

namespace {

constexpr int64_t kGoneAfterMs = 60000; // an EA silent for longer is gone

// Whether WParam of a message names the sending EA, or the OrderID of a leg.
enum class Names { Nothing, EA, Leg };
Names WhatWParamNames(int32_t msg) {
    if (EAMsg::WParamNamesEA(msg)) return Names::EA;
    switch (msg) {
    case EAMsg::GetOrderType:
    case EAMsg::GetOrderLots:
    case EAMsg::OrderOpened:
    case EAMsg::OrderClosed:
    case EAMsg::OrderError:
    case EAMsg::OrderOpenPrice:
    case EAMsg::OrderCloseQuestions:
    case EAMsg::OrderClosePrice:
    case EAMsg::OrderProfitLoss:
    case EAMsg::RetryOrderExecution:
    case EAMsg::CancelOrder:
    case EAMsg::GetTriggerPrice:
    case EAMsg::ShowEAMessage:
    case EAMsg::GetTriggerPriceClose:
        return Names::Leg;
    default:
        return Names::Nothing;
    }
}

} // namespace

int EngineContext::GetTrend(int first, int second) const {
    // Both IDs index the quote arrays: an ID outside them has no quote and no trend.
    if (first < 1 || first > kMaxEAs || second < 1 || second > kMaxEAs) return 0;
    const PriceStore& p = prices;
    // Two quotes this desk received are compared by when they came in, so that a step of the
    // local time between them changes nothing; otherwise by their local times.
    const bool received = p.Time[first] == p.TimeStamped[first] && p.Time[second] == p.TimeStamped[second];
    const EAArray<TDateTime>& time = received ? p.TimeReceived : p.Time;
    const bool firstNewer = time[first] > time[second];
    const int newer = firstNewer ? first : second;
    const int older = firstNewer ? second : first;
    if (std::fabs(time[first] - time[second]) > limits.CONNECTION_TIMEOUT) return 0;
    // The move of the mid price in points, computed on the whole points the EAs sent: a mid
    // price that did not move is exactly 0.
    const double x = static_cast<double>((p.Ask[newer] - p.Ask[older]) + (p.Bid[newer] - p.Bid[older])) / 2.0;
    const double tol = controls.RealValue(Ctl::rePRIDynamic) * static_cast<double>(p.Bid[newer]) / 100.0;
    if (x > tol) return 1;
    if (-tol > x) return -1;
    return 0;
}

TDateTime EngineContext::GetDelayPos2Time() const {
    return clock.Now() + static_cast<double>(controls.SpinValue(Ctl::seDelayPos2)) / 86400000.0;
}

void EngineContext::NoteSender(const TMessage& m) {
    int ea = 0;
    switch (WhatWParamNames(m.Msg)) {
    case Names::EA:
        ea = m.WParam;
        break;
    case Names::Leg: {
        const auto it = state.handedOut.find(m.WParam);
        if (it != state.handedOut.end()) ea = it->second.ea;
        break;
    }
    case Names::Nothing:
        break;
    }
    if (IsValidEAID(ea)) state.lastHeard[static_cast<size_t>(ea)] = clock.Monotonic();
}

void EngineContext::NoteHandOut(int32_t orderID, int ea) {
    EngineState::HandOut& h = state.handedOut[orderID];
    if (h.ea == ea) return;
    if (h.ea != 0) {
        h.earlier = h.ea;
        h.reported = false;
    }
    h.ea = ea;
}

bool EngineContext::MayReturnToOpen(int32_t orderID) const {
    const auto it = state.handedOut.find(orderID);
    if (it == state.handedOut.end()) return true;
    const int ea = it->second.ea;
    if (!IsValidEAID(ea)) return true;
    // In whole milliseconds, the resolution of the clock.
    const double silentMs = (clock.Monotonic() - state.lastHeard[static_cast<size_t>(ea)]) * 86400000.0;
    return std::llround(silentMs) > kGoneAfterMs;
}

} // namespace quorvel
