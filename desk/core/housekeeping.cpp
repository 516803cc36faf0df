// Order housekeeping: the two sweeps of the minute timer.
#include "desk/core/housekeeping.h"

#include <algorithm>
#include <cmath>

#include "platform/numbers.h"

namespace quorvel {

namespace {

constexpr int64_t kPendingSeconds = 60; // a Pending leg older than this goes back
constexpr int64_t kCreditFrom = 60;     // an ended transaction earns its credit after this...
constexpr int64_t kCreditUntil = 300;   // ...and before this
constexpr double kMillisPerDay = 86400000.0;

bool InCreditWindow(int64_t age) {
    return age > kCreditFrom && age < kCreditUntil;
}

} // namespace

int64_t SecondsApart(TDateTime a, TDateTime b) {
    // Stamps a whole number of seconds apart stay that far apart however the days round.
    const double ms = RoundHalfEven(std::fabs(a - b) * kMillisPerDay);
    return static_cast<int64_t>(ms / 1000.0);
}

OrderHousekeeping::OrderHousekeeping(EngineContext ctx) : m_ctx(ctx) {
    m_ctx.orders.m_CDSOrderliste.AddObserver(&m_engineWatch);
}

OrderHousekeeping::~OrderHousekeeping() {
    m_ctx.orders.m_CDSOrderliste.RemoveObserver(&m_engineWatch);
    if (m_list) m_list->RemoveObserver(&m_listWatch);
}

void OrderHousekeeping::Watch::DataChanged(Change change, int row) {
    if (change == Change::Reset) {
        owner.m_stale = true;
        if (engine) ++owner.m_resets;
        return;
    }
    if (engine || (change != Change::Edited && change != Change::Appended) || !owner.m_list) return;
    ClientDataSet& list = *owner.m_list;
    list.PeekRecord(row, [&] { owner.m_legs.insert(list.GetBookmark()); });
}

int64_t OrderHousekeeping::SecondsSince(const LegStamps& stamps, int32_t orderID, TDateTime field) const {
    if (const LegStamp* s = EngineContext::StampOf(stamps, orderID, field))
        return SecondsApart(m_nowMonotonic, s->monotonic);
    return SecondsApart(m_now, field);
}

bool OrderHousekeeping::MayEarn() const {
    const LegView& leg = m_listLeg;
    if (leg.CreditChecked().AsBoolean()) return false;
    // A stamp further back than the window only grows older; one ahead of now comes nearer.
    // A null stamp reads as 0.0, that is very old. A stamp the engine noted is measured on the
    // monotonic clock as well: after a step of the local time it may be recent there alone.
    const TDateTime window = static_cast<double>(kCreditUntil + 1) / 86400.0;
    const TDateTime from = m_now - window;
    const TDateTime pending = leg.PendingTime().AsDateTime(), closed = leg.CloseTime().AsDateTime();
    if (pending >= from || closed >= from) return true;
    const int32_t id = leg.OrderID().AsInteger();
    const LegStamp* p = EngineContext::StampOf(m_ctx.state.pendingTimes, id, pending);
    const LegStamp* c = EngineContext::StampOf(m_ctx.state.closeTimes, id, closed);
    const TDateTime fromMonotonic = m_nowMonotonic - window;
    return (p && p->monotonic >= fromMonotonic) || (c && c->monotonic >= fromMonotonic);
}

// ---- the sweeps, whole and in steps ---------------------------------------------------------------

void OrderHousekeeping::RunToEnd() {
    while (Sweeping()) SweepStep();
}

void OrderHousekeeping::ResetPendingStatus() {
    RunToEnd();
    m_sweepResets = m_resets;
    m_thenCredit = false;
    BeginReset();
    RunToEnd();
}

void OrderHousekeeping::CheckAutoTradeRaise() {
    RunToEnd();
    m_sweepResets = m_resets;
    BeginCredit();
    RunToEnd();
}

bool OrderHousekeeping::BeginSweeps() {
    RunToEnd();
    m_sweepResets = m_resets;
    m_thenCredit = true;
    BeginReset();
    return SweepStep();
}

bool OrderHousekeeping::SweepStep() {
    if (m_phase == Phase::Idle) return false;
    if (m_resets != m_sweepResets) {
        // The list was opened anew or reloaded: the legs picked are no longer its legs.
        m_phase = Phase::Idle;
        m_due.clear();
        m_gathered.clear();
        return false;
    }
    try {
        switch (m_phase) {
        case Phase::Reset:
            StepReset();
            break;
        case Phase::Seed:
            StepSeed();
            break;
        case Phase::Gather:
            StepGather();
            break;
        case Phase::Credit:
            StepCredit();
            break;
        case Phase::Idle:
            break;
        }
    } catch (...) {
        // An error ends the sweep, as it ends a sweep run at once.
        m_phase = Phase::Idle;
        m_due.clear();
        m_gathered.clear();
        throw;
    }
    return Sweeping();
}

bool OrderHousekeeping::NextIsCounter(int counterID) const {
    return m_next < m_due.size() && !m_due[m_next].orderID.IsNull() &&
           m_due[m_next].orderID.AsInteger() == counterID;
}

void OrderHousekeeping::BeginReset() {
    ClientDataSet& ds = m_ctx.orders.m_CDSOrderliste;
    m_due.clear();
    m_next = 0;
    if (!ds.Active()) {
        m_phase = Phase::Idle;
        if (m_thenCredit) BeginCredit();
        return;
    }
    m_now = m_ctx.clock.Now();
    m_nowMonotonic = m_ctx.MonotonicAt(m_now);
    // The Pending legs as the walk over every record meets them, newest OrderID first.
    struct WalkScope {
        ClientDataSet& ds;
        ~WalkScope() { ds.ClearWalkFilter(); }
    } scope{ds};
    ds.SetWalkFilter(LegColumnName(LegColumn::Status), {stPending});
    const Field& orderID = m_ctx.orders.Leg().OrderID();
    for (ds.First(); !ds.Eof(); ds.Next()) m_due.push_back({orderID.Value(), ds.GetBookmark()});
    m_phase = Phase::Reset;
}

void OrderHousekeeping::StepReset() {
    ClientDataSet& ds = m_ctx.orders.m_CDSOrderliste;
    const LegView& leg = m_ctx.orders.Leg();
    const Field& status = leg.Status();
    int visited = 0;
    while (m_next < m_due.size()) {
        const Bookmark b = m_due[m_next++].bookmark;
        // A leg deleted or no longer Pending is passed over, as the walk passes over it.
        if (!ds.BookmarkValid(b)) continue;
        ds.GotoBookmark(b);
        if (status.IsNull() || status.AsInteger() != stPending) continue;
        const int32_t id = leg.OrderID().AsInteger();
        const int counter = m_ctx.orders.GetCounterOrderID(id);
        const int cs = m_ctx.orders.GetOrderStatusByID(counter);
        // A null time stamp reads as 0.0, that is very old.
        if ((cs == stToOpen || cs == stPending) &&
            SecondsSince(m_ctx.state.pendingTimes, id, leg.PendingTime().AsDateTime()) > kPendingSeconds &&
            m_ctx.MayReturnToOpen(id)) {
            m_ctx.state.pendingTimes.erase(id);
            ds.Edit();
            leg.Status().SetAsInteger(stToOpen);
            leg.PendingTime().Clear();
            leg.EAID().Clear();
            leg.Account().Clear();
            leg.TriggerOpenPrice().Clear();
            ds.Post();
        }
        if (++visited >= kLegsPerStep && !NextIsCounter(counter)) return;
    }
    m_due.clear();
    ds.Last(); // where a walk of every record ends
    m_phase = Phase::Idle;
    if (m_thenCredit) BeginCredit();
}

void OrderHousekeeping::BeginCredit() {
    ClientDataSet& ds = m_ctx.orders.m_CDSOrderliste;
    m_thenCredit = false;
    m_due.clear();
    m_gathered.clear();
    m_next = 0;
    m_phase = Phase::Idle;
    if (!ds.Active()) return;
    m_now = m_ctx.clock.Now();
    m_nowMonotonic = m_ctx.MonotonicAt(m_now);
    m_addCanceled = m_ctx.controls.Checked(Ctl::chkbAddCanT);
    m_addClosed = m_ctx.controls.Checked(Ctl::chkbAddCloT);
    // Once after the list was opened, and again when the clock went back: every leg is read,
    // a bounded number of records a step.
    const bool seed = m_stale || !m_list || m_now < m_lastSweep;
    m_lastSweep = m_now;
    if (seed) {
        if (m_list) m_list->RemoveObserver(&m_listWatch);
        m_list = std::make_unique<ClientDataSet>("housekeeping");
        m_list->CloneCursor(ds, true);
        m_listLeg.Bind(*m_list);
        m_list->AddObserver(&m_listWatch);
        m_legs.clear();
        m_stale = false;
        m_list->First();
        m_phase = Phase::Seed;
        return;
    }
    // What changes from here on is gathered anew.
    m_gathered.assign(m_legs.begin(), m_legs.end());
    m_legs.clear();
    m_phase = Phase::Gather;
}

void OrderHousekeeping::StepSeed() {
    // The own cursor stays where this step left it; a record deleted meanwhile moved it on to
    // the next one.
    for (int k = 0; k < kRecordsPerStep && !m_list->Eof(); ++k) {
        if (MayEarn()) m_legs.insert(m_list->GetBookmark());
        m_list->Next();
    }
    if (!m_list->Eof()) return;
    m_gathered.assign(m_legs.begin(), m_legs.end());
    m_legs.clear();
    m_next = 0;
    m_phase = Phase::Gather;
}

void OrderHousekeeping::StepGather() {
    // The legs that may earn a credit, later put in the engine cursor's order: OrderID
    // descending, a null OrderID last, the later record first among equals.
    const Field& orderID = m_listLeg.OrderID();
    for (int k = 0; k < kRecordsPerStep && m_next < m_gathered.size(); ++k) {
        const Bookmark b = m_gathered[m_next++];
        if (!m_list->BookmarkValid(b)) continue; // deleted
        m_list->GotoBookmark(b);
        if (MayEarn()) m_due.push_back({orderID.Value(), b});
    }
    if (m_next < m_gathered.size()) return;
    m_gathered.clear();
    std::sort(m_due.begin(), m_due.end(), [](const Leg& a, const Leg& b) {
        if (a.orderID.IsNull() != b.orderID.IsNull()) return b.orderID.IsNull();
        if (!a.orderID.IsNull() && a.orderID.Raw() != b.orderID.Raw())
            return a.orderID.Raw() > b.orderID.Raw();
        return a.bookmark > b.bookmark;
    });
    m_next = 0;
    m_phase = Phase::Credit;
}

void OrderHousekeeping::StepCredit() {
    OrderList& ob = m_ctx.orders;
    ClientDataSet& ds = ob.m_CDSOrderliste;
    const LegView& leg = ob.Leg();
    auto credit = [this] {
        m_ctx.controls.SetSpinValue(Ctl::seMaxAutoTrades, m_ctx.controls.SpinValue(Ctl::seMaxAutoTrades) + 1);
    };
    auto mark = [&ds, &leg] {
        ds.Edit();
        leg.CreditChecked().SetAsBoolean(true);
        ds.Post();
    };
    int visited = 0;
    while (m_next < m_due.size()) {
        const Bookmark b = m_due[m_next++].bookmark;
        if (!ds.BookmarkValid(b)) continue; // deleted since it was picked
        ds.GotoBookmark(b);
        // Legs not marked now keep their place for the next sweeps.
        m_legs.insert(b);
        int cid = -1;
        if (!leg.CreditChecked().AsBoolean()) {
            const int32_t id = leg.OrderID().AsInteger();
            cid = ob.GetCounterOrderID(id);
            const int cs = ob.GetOrderStatusByID(cid);
            bool cf = false;
            ob.LookupOrderBoolean(cid, LegColumnName(LegColumn::ATRaiseChecked), cf);
            const int32_t status = leg.Status().AsInteger();
            // A cancelled transaction, timed from the moment it triggered (a null stamp reads
            // as 0.0, that is very old).
            if (!cf && status == stCanceled && (cs == stNoLeg || cs == stCanceled) &&
                InCreditWindow(SecondsSince(m_ctx.state.pendingTimes, id, leg.PendingTime().AsDateTime()))) {
                mark();
                if (m_addCanceled) credit();
            }
            // A closed transaction, timed from this leg's close.
            if (m_addClosed && !leg.CreditChecked().AsBoolean() && !cf && status == stClosed &&
                (cs == stNoLeg || cs == stClosed || cs == stCanceled) &&
                InCreditWindow(SecondsSince(m_ctx.state.closeTimes, id, leg.CloseTime().AsDateTime()))) {
                mark();
                credit();
            }
        }
        if (++visited >= kLegsPerStep && !NextIsCounter(cid)) return;
    }
    m_due.clear();
    ds.Last(); // where a walk of every record ends
    m_phase = Phase::Idle;
}

} // namespace quorvel
