#pragma once
// Order housekeeping on the minute timer: Pending legs nobody picked up go back to To Open,
// and every ended transaction gives one auto-trade credit back.
#include <memory>
#include <unordered_set>
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

    // The minute timer's two sweeps, ResetPendingStatus and then CheckAutoTradeRaise, in steps
    // that each visit a bounded number of legs, so that EA messages are answered in between.
    // Each sweep reads the time once, when it begins, and picks its legs then, in its order; a
    // step ends only between transactions, so both legs of a transaction are swept in the
    // same step, each as it is at that moment. A leg that changes before its transaction's
    // step is swept as it is then (as if the change had come before the timer); one that
    // changes after it waits for the next sweep. A leg that stopped being Pending or was
    // deleted before its step is passed over, as the whole sweep passes over it. (The legs of
    // a transaction follow each other in the sweeps' order whenever the desk placed it; only
    // in an edited list may they lie apart, and then fall into different steps.) When the
    // order list is opened anew or reloaded meanwhile, the rest of the sweep is left to the
    // next minute. A sweep under way when the next one begins is run to its end first.
    // Begins the sweeps and runs their first step; true while steps remain.
    bool BeginSweeps();
    // Runs the next step; true while steps remain.
    bool SweepStep();
    bool Sweeping() const { return m_phase != Phase::Idle; }

    // Legs visited per step, and records read per step when every leg is read anew.
    static constexpr int kLegsPerStep = 64;
    static constexpr int kRecordsPerStep = 1024;

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
    // Whether the leg under the own cursor can earn a credit at the sweep's time or later.
    bool MayEarn() const;
    // The whole seconds from the time in a leg's field (`field`) to the sweep's time: on the
    // monotonic clock while the engine's stamp of it stands, else by the local time.
    int64_t SecondsSince(const LegStamps& stamps, int32_t orderID, TDateTime field) const;

    enum class Phase { Idle, Reset, Seed, Gather, Credit };
    struct Leg {
        Variant orderID;
        Bookmark bookmark;
    };
    void BeginReset();
    void BeginCredit();
    // Each runs one step of its phase and moves on to the next phase when done.
    void StepReset();
    void StepSeed();
    void StepGather();
    void StepCredit();
    void ResetLeg();
    void CreditLeg();
    // After a step: whether the next leg to visit is the counter order of the one just
    // swept, which then belongs to the same step.
    bool NextIsCounter(int counterID) const;
    void RunToEnd();

    EngineContext m_ctx;
    Watch m_engineWatch{*this, true};
    Watch m_listWatch{*this, false};
    std::unique_ptr<ClientDataSet> m_list; // natural order
    LegView m_listLeg;                     // the leg under it
    std::unordered_set<Bookmark> m_legs;   // may earn a credit, each once however often posted
    bool m_stale = true;                   // the list was opened anew, or reset
    TDateTime m_lastSweep = 0.0;

    // The sweep under way.
    Phase m_phase = Phase::Idle;
    TDateTime m_now = 0.0;
    TDateTime m_nowMonotonic = 0.0;
    std::vector<Leg> m_due; // the legs of the phase, in its order
    std::vector<Bookmark> m_gathered;
    size_t m_next = 0;          // the next of m_due (or m_gathered) to visit
    unsigned m_resets = 0;      // engine cursor resets so far
    unsigned m_sweepResets = 0; // ... when the sweep began
    bool m_addCanceled = false, m_addClosed = false;
    bool m_thenCredit = false; // the credit sweep follows the reset sweep
};

// The whole seconds between two time stamps, the difference taken to the millisecond first.
int64_t SecondsApart(TDateTime a, TDateTime b);

} // namespace quorvel
