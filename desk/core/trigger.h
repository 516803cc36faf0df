#pragma once
// The opening trigger: after every complete quote each waiting transaction is tested against
// the quotes of its own brokers; when the cross spread has reached its target and the EA pair
// is out of its combination pause, its legs become Pending, each with the EA that is to
// execute it.
#include <cstdint>

#include "desk/core/engine.h"

namespace quorvel {

class OpeningTrigger {
public:
    // combinationPauseMS: the desk's combination pause in milliseconds, read at each test.
    OpeningTrigger(EngineContext ctx, const int& combinationPauseMS)
        : m_ctx(ctx), m_pauseMS(combinationPauseMS) {}

    // Tests every "To Open" leg, newest OrderID first; nothing while the order list is closed
    // or "Standby" is ticked.
    void CheckOrders();
    // Makes the visited leg (the engine cursor's current record, `iOrderID`) and its counter
    // order Pending for the given EAs and prices (points), as the trend and the modes say.
    void SetOrderPending(int iSellEAID, int iBuyEAID, int64_t iLowestAsk, int64_t iHighestBid, int iOrderID);

    // The pair's last trigger; nothing unless both IDs are valid. `time` is a local time read
    // just now; the stamp and the pause are kept on the monotonic clock.
    void SetLastTrade(int iSellEAID, int iBuyEAID, TDateTime time);
    // True when either ID is not valid or at least the combination pause has passed since the
    // pair's last trigger.
    bool IsCombinationPauseOver(int iSellEAID, int iBuyEAID, TDateTime time) const;
    // Every pair as never triggered.
    void ClearLastTrades();

private:
    // Whether the record under the engine cursor triggers now: the buy and sell EAs and
    // their prices when it does.
    struct Candidates {
        int64_t lowestAsk;
        int64_t highestBid;
        int buyEA;
        int sellEA;
    };
    bool FindPair(int table, Candidates& out);

    // The engine cursor's fields the walk reads on every record, found once.
    struct WalkFields {
        Field* tableID = nullptr;
        Field* spread = nullptr;
        Field* orderID = nullptr;
        Field* brokers[10] = {};
    };
    const WalkFields& Walk();

    EngineContext m_ctx;
    const int& m_pauseMS;
    WalkFields m_walk;
};

} // namespace quorvel
