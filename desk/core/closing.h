#pragma once
// The closing engine: at each close question of an EA it tests the close condition of a leg
// waiting in "Close Cond." (cross spread over the two legs' EAs against the close spread,
// the pair's closing window, the trend order) and answers whether a leg in "To Close" is to
// close now. Beside it, the close trigger price of a leg and the closing windows of the pairs.
#include <cstdint>

#include "desk/core/engine.h"
#include "platform/ealink.h"

namespace quorvel {

class ClosingEngine {
public:
    // simultaneousClosing: close triggers a pair may have within one window; closingPauseSeconds:
    // the window's length. Both are the desk's settings, read at each use.
    ClosingEngine(EngineContext ctx, const int& simultaneousClosing, const double& closingPauseSeconds)
        : m_ctx(ctx), m_simultaneousClosing(simultaneousClosing), m_closingPauseSeconds(closingPauseSeconds) {
    }

    // The answers to a close question: wait, close now, close now as the leading leg.
    static constexpr int32_t kWait = 0;
    static constexpr int32_t kCloseNow = 1;
    static constexpr int32_t kCloseLeading = 2;

    // WM_APP+507: the close condition, then the answer (kWait, kCloseNow or kCloseLeading).
    void OrderCloseQuestions(TMessage& m);
    // WM_APP+516: the leg's close trigger price in points; 0 for an unknown leg, -1 while the
    // order list is not open.
    void GetTriggerPriceClose(TMessage& m);

    // The closing window of the pair (buy-leg EA, sell-leg EA), `now` being a monotonic
    // reading of the clock. A pair with an EA ID that is not valid is never limited and never
    // counted.
    bool IsTradeCloseAllowed(int buyEA, int sellEA, TDateTime now) const;
    void RegisterTradeClose(int buyEA, int sellEA, TDateTime now);
    void ClearCloseLimits();
    // The end of the pair's closing window (0.0: none yet), and the close triggers counted in it.
    TDateTime CloseWindowEnd(int buyEA, int sellEA) const { return m_closeLimitUntil[buyEA][sellEA]; }
    int32_t ClosesInWindow(int buyEA, int sellEA) const { return m_closedWithinLimit[buyEA][sellEA]; }

private:
    // Phase 1: a leg in "Close Cond." whose condition holds goes to "To Close" with its counter.
    void CloseCondition(int32_t orderID);
    // Phase 2: the answer for a leg in "To Close".
    int32_t CloseAnswer(int32_t orderID);

    EngineContext m_ctx;
    const int& m_simultaneousClosing;
    const double& m_closingPauseSeconds;
    // The closing window of the pair [buy-leg EA][sell-leg EA]: its end (a monotonic
    // reading), and the close triggers counted within it. Memory only, never saved.
    PairTimes m_closeLimitUntil;
    PairArray<int32_t> m_closedWithinLimit;
};

} // namespace quorvel
