#pragma once
// The opening trigger: after every complete quote each waiting transaction is tested against
// the quotes of its own brokers; when the cross spread has reached its target and the EA pair
// is out of its combination pause, its legs become Pending, each with the EA that is to
// execute it.
#include <cstdint>
#include <utility>
#include <vector>

#include "desk/core/engine.h"

namespace quorvel {

class OpeningTrigger {
public:
    // combinationPauseMS: the desk's combination pause in milliseconds, read at each test.
    OpeningTrigger(EngineContext ctx, const int& combinationPauseMS)
        : m_ctx(ctx), m_pauseMS(combinationPauseMS), m_waiting(ctx.orders.m_CDSOrderliste) {}

    // Tests every "To Open" leg, newest OrderID first; nothing while the order list is closed
    // or "Standby" is ticked. A leg is passed over only when testing it could not have any
    // effect: nothing it reads has changed since its table's legs were last tested (the leg
    // itself, the quotes of the table's EAs and whether each is fresh now) and no pair that
    // it found is out of its pause now.
    void CheckOrders();
    // The same test of every "To Open" leg, each one read and tested.
    void CheckEveryWaitingLeg();
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
    // The pairs' last triggers, [sell EA][buy EA].
    PairTimes& LastTrades() { return m_lastTrade; }
    const PairTimes& LastTrades() const { return m_lastTrade; }

private:
    // Whether the record under the engine cursor triggers now: the buy and sell EAs and
    // their prices when it does.
    struct Candidates {
        int64_t lowestAsk;
        int64_t highestBid;
        int buyEA;
        int sellEA;
    };
    // The quotes' freshness is read at `now`, as the table's test reads it.
    bool FindPair(int table, const ClockReading& now, Candidates& out);
    // Tests the leg under the engine cursor and makes its transaction Pending when it
    // triggers. True, with the pair it found (sell EA first), when the cross spread reached
    // the target, whether or not the pair's pause then let it trigger.
    bool TestLeg(const ClockReading& now, std::pair<int, int>& pair);

    // What the legs of a table were last tested against: whether each of its EAs was a
    // candidate then and at which prices, and the pairs whose pause held a leg back or that
    // triggered. Until one of these changes, or a leg of the table comes in or is edited, the
    // table's legs would all come out as they did. Whatever else the test of a leg comes to
    // read before the pause must be kept here as well.
    struct TableSeen {
        bool valid = false;
        bool candidate[kEAsPerTable] = {};
        int64_t ask[kEAsPerTable] = {};
        int64_t bid[kEAsPerTable] = {};
        std::vector<std::pair<int, int>> pairs;
    };
    // Whether table t must be tested at `now`; its quotes as they are now are kept.
    bool TableDue(int t, const ClockReading& now);

    EngineContext m_ctx;
    const int& m_pauseMS;
    // Last trigger of the pair [sell EA][buy EA], a monotonic reading; 0.0 for a pair that
    // never triggered. Memory only, never saved.
    PairTimes m_lastTrade;
    WaitingLegs m_waiting;
    TableSeen m_seen[kMaxTables];
    std::vector<WaitingLegs::Leg> m_due; // the legs of this walk
};

} // namespace quorvel
