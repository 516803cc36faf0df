#pragma once
// Execution failures: an EA's leg that failed to execute, a leg the EA cancelled, and the
// EA's notices about the counter order of its leg after its counter-check time.
#include "desk/core/engine.h"
#include "platform/messages.h"

namespace quorvel {

class ExecutionFailures {
public:
    explicit ExecutionFailures(EngineContext ctx) : m_ctx(ctx) {}

    // WParam: OrderID of the failed leg. Result 1: retry; 0: give up. The counter order is
    // closed within its MaxLoss, or the whole transaction cancelled while the counter has not
    // opened yet; in every other case the EA retries.
    void RetryOrderExecution(TMessage& m);
    // WParam: OrderID of the leg the EA cancelled; it becomes Canceled. Result 0.
    void CancelOrder(TMessage& m);
    // WParam: OrderID of the sending EA's leg; LParam: kind 1 (cancel or auto-close attempt)
    // or 2 (the counter order stays open alone). Result 0.
    void ShowEAMessage(TMessage& m);

private:
    void SetStatus(int32_t status); // on the engine cursor's current record

    EngineContext m_ctx;
};

} // namespace quorvel
