#pragma once
// Order housekeeping on the minute timer: Pending legs nobody picked up go back to To Open,
// and every ended transaction gives one auto-trade credit back.
#include <memory>

#include "desk/core/engine.h"

namespace quorvel {

class OrderHousekeeping {
public:
    explicit OrderHousekeeping(EngineContext ctx) : m_ctx(ctx) {}

    // Every Pending leg whose counter order is To Open or Pending and which triggered more
    // than 60 seconds ago goes back to To Open without its EA, account, trigger price and
    // pending time. Visits the Pending legs only, newest OrderID first.
    void ResetPendingStatus();
    // One credit per transaction that was cancelled (timed from its PendingTime) or closed
    // (timed from OrderCloseTime) between 60 and 300 seconds ago, counted once through
    // ATRaiseChecked on the leg met first. Visits only the legs whose time stamp lies within
    // that window, newest OrderID first.
    void CheckAutoTradeRaise();

private:
    // The legs whose `field` lies within `seconds` of now, as bookmarks with their OrderID.
    struct Candidate {
        Variant orderID;
        Bookmark bookmark;
    };
    void CollectNear(std::unique_ptr<ClientDataSet>& byTime, const IndexDef& index, TDateTime now,
                     double seconds, std::vector<Candidate>& out);

    EngineContext m_ctx;
    // Cursors over the order list ordered by the two time stamps the credit sweep reads.
    std::unique_ptr<ClientDataSet> m_byPendingTime;
    std::unique_ptr<ClientDataSet> m_byCloseTime;
};

// The whole seconds between two time stamps, the difference taken to the millisecond first.
int64_t SecondsApart(TDateTime a, TDateTime b);

} // namespace quorvel
