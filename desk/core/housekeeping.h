#pragma once
// Order housekeeping on the minute timer: Pending legs nobody picked up go back to To Open,
// and every ended transaction gives one auto-trade credit back.
#include <memory>
#include <vector>

#include "desk/core/engine.h"

namespace quorvel {

class OrderHousekeeping {
public:
    explicit OrderHousekeeping(EngineContext ctx);
    ~OrderHousekeeping();
    OrderHousekeeping(const OrderHousekeeping&) = delete;
    OrderHousekeeping& operator=(const OrderHousekeeping&) = delete;

    // Every Pending leg whose counter order is To Open or Pending and which triggered more
    // than 60 seconds ago goes back to To Open without its EA, account, trigger price and
    // pending time; a leg that was handed out only once its EA has gone silent (see
    // EngineContext::MayReturnToOpen). Visits the Pending legs only, newest OrderID first.
    void ResetPendingStatus();
    // One credit per transaction that was cancelled (timed from its PendingTime) or closed
    // (timed from OrderCloseTime) between 60 and 300 seconds ago, counted once through
    // ATRaiseChecked on the leg met first. Visits, newest OrderID first, only the legs that
    // can still earn one: those changed since the last sweep and those whose time stamps are
    // not yet past the window.
    void CheckAutoTradeRaise();

private:
    // Told of every change of the order list: a leg that was edited or appended may have
    // ended, or been given new time stamps.
    struct Watch : IDataSetObserver {
        OrderHousekeeping& owner;
        bool engine; // the engine cursor: only its resets count
        Watch(OrderHousekeeping& o, bool e) : owner(o), engine(e) {}
        void DataChanged(Change change, int row) override;
        void Scrolled() override {}
    };
    // A cursor of its own on the engine cursor's table, and every leg whose time stamps are
    // recent or ahead of now.
    void Seed(TDateTime now);
    // Whether the leg under the own cursor can earn a credit at `now` or later.
    bool MayEarn(TDateTime now) const;

    EngineContext m_ctx;
    Watch m_engineWatch{*this, true};
    Watch m_listWatch{*this, false};
    std::unique_ptr<ClientDataSet> m_list; // natural order
    std::vector<Bookmark> m_legs;          // may earn a credit; duplicates allowed
    bool m_stale = true;                   // the list was opened anew, or reset
    TDateTime m_lastSweep = 0.0;
};

// The whole seconds between two time stamps, the difference taken to the millisecond first.
int64_t SecondsApart(TDateTime a, TDateTime b);

} // namespace quorvel
