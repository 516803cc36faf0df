#pragma once
// The close reports of the EAs: the leg is closed, its close price (with the leg's price gain
// and the transaction's achieved close spread) and its profit or loss. They are recorded
// whatever the leg's status, also in Standby, in whatever order they arrive. An unknown leg,
// or a list that is not open (as at the end of the shut-down), changes nothing.
#include "desk/core/engine.h"
#include "platform/ealink.h"

namespace quorvel {

class CloseReports {
public:
    explicit CloseReports(EngineContext ctx) : m_ctx(ctx) {}

    void OrderClosed(TMessage& m);     // WM_APP+504
    void OrderClosePrice(TMessage& m); // WM_APP+508: LParam the close price in points
    void OrderProfitLoss(TMessage& m); // WM_APP+509: LParam the money result x 100000

private:
    EngineContext m_ctx;
};

} // namespace quorvel
