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

// A null time stamp reads as 0.0, that is very old.
TDateTime StampOf(const ClientDataSet& ds, const char* field) {
    return ds.FieldByName(field).AsDateTime();
}

bool InCreditWindow(int64_t age) {
    return age > kCreditFrom && age < kCreditUntil;
}

const IndexDef& IdxPendingTime() {
    static const IndexDef ix{"IdxPendingTime", "PendingTime", false};
    return ix;
}
const IndexDef& IdxOrderCloseTime() {
    static const IndexDef ix{"IdxOrderCloseTime", "OrderCloseTime", false};
    return ix;
}

} // namespace

int64_t SecondsApart(TDateTime a, TDateTime b) {
    // Stamps a whole number of seconds apart stay that far apart however the days round.
    const double ms = RoundHalfEven(std::fabs(a - b) * kMillisPerDay);
    return static_cast<int64_t>(ms / 1000.0);
}

void OrderHousekeeping::ResetPendingStatus() {
    OrderBook& ob = m_ctx.orders;
    ClientDataSet& ds = ob.m_CDSOrderliste;
    if (!ds.Active()) return;
    const TDateTime now = m_ctx.clock.Now();
    struct WalkScope {
        ClientDataSet& ds;
        ~WalkScope() { ds.ClearWalkFilter(); }
    } scope{ds};
    ds.SetWalkFilter("Status", {stPending});
    for (ds.First(); !ds.Eof(); ds.Next()) {
        const int cs = ob.GetOrderStatusByID(ob.GetCounterOrderID(ds.FieldByName("OrderID").AsInteger()));
        if (ds.FieldByName("Status").AsInteger() != stPending || (cs != stToOpen && cs != stPending))
            continue;
        if (SecondsApart(now, StampOf(ds, "PendingTime")) <= kPendingSeconds) continue;
        ds.Edit();
        ds.FieldByName("Status").SetAsInteger(stToOpen);
        ds.FieldByName("PendingTime").Clear();
        ds.FieldByName("EAID").Clear();
        ds.FieldByName("Account").Clear();
        ds.FieldByName("TrigOpenKurs").Clear();
        ds.Post();
    }
    ds.ClearWalkFilter();
    ds.Last(); // where a walk of every record ends
}

void OrderHousekeeping::CollectNear(std::unique_ptr<ClientDataSet>& byTime, const IndexDef& index,
                                    TDateTime now, double seconds, std::vector<Candidate>& out) {
    // A fresh cursor on the engine cursor's table each sweep, opened before the last one closes:
    // its index stays built, and a list that was opened anew is followed.
    auto fresh = std::make_unique<ClientDataSet>(index.name);
    fresh->SetIndex(index);
    fresh->CloneCursor(m_ctx.orders.m_CDSOrderliste, false, true);
    byTime = std::move(fresh);
    ClientDataSet& c = *byTime;
    const Field& stamp = c.FieldByName(index.field);
    const Field& orderID = c.FieldByName("OrderID");
    const double lo = now - seconds / 86400.0;
    const double hi = now + seconds / 86400.0;
    // The first record at or after lo; nulls sort first.
    int first = 1, last = c.RecordCount() + 1;
    while (first < last) {
        const int mid = first + (last - first) / 2;
        c.SetRecNo(mid);
        if (stamp.IsNull() || stamp.AsDateTime() < lo)
            first = mid + 1;
        else
            last = mid;
    }
    if (first > c.RecordCount()) return;
    for (c.SetRecNo(first); !c.Eof(); c.Next()) {
        if (stamp.AsDateTime() > hi) break;
        out.push_back({orderID.Value(), c.GetBookmark()});
    }
}

void OrderHousekeeping::CheckAutoTradeRaise() {
    OrderBook& ob = m_ctx.orders;
    ClientDataSet& ds = ob.m_CDSOrderliste;
    if (!ds.Active()) return;
    const TDateTime now = m_ctx.clock.Now();
    // Only a leg whose time stamp lies within the window can earn a credit; one second more
    // each way covers the cut to whole seconds.
    std::vector<Candidate> legs;
    const double reach = static_cast<double>(kCreditUntil + 1);
    CollectNear(m_byPendingTime, IdxPendingTime(), now, reach, legs);
    CollectNear(m_byCloseTime, IdxOrderCloseTime(), now, reach, legs);
    // In the engine cursor's order: OrderID descending, a null OrderID last, the later record
    // first among equals.
    std::sort(legs.begin(), legs.end(), [](const Candidate& a, const Candidate& b) {
        if (a.orderID.IsNull() != b.orderID.IsNull()) return b.orderID.IsNull();
        if (!a.orderID.IsNull() && a.orderID.Raw() != b.orderID.Raw())
            return a.orderID.Raw() > b.orderID.Raw();
        return a.bookmark > b.bookmark;
    });
    legs.erase(std::unique(legs.begin(), legs.end(),
                           [](const Candidate& a, const Candidate& b) { return a.bookmark == b.bookmark; }),
               legs.end());

    const bool addCanceled = m_ctx.controls.Checked(Ctl::chkbAddCanT);
    const bool addClosed = m_ctx.controls.Checked(Ctl::chkbAddCloT);
    auto credit = [this] {
        m_ctx.controls.SetSpinValue(Ctl::seMaxAutoTrades, m_ctx.controls.SpinValue(Ctl::seMaxAutoTrades) + 1);
    };
    auto mark = [&ds] {
        ds.Edit();
        ds.FieldByName("ATRaiseChecked").SetAsBoolean(true);
        ds.Post();
    };
    for (const Candidate& leg : legs) {
        if (!ds.BookmarkValid(leg.bookmark)) continue;
        ds.GotoBookmark(leg.bookmark);
        if (ds.FieldByName("ATRaiseChecked").AsBoolean()) continue;
        const int cid = ob.GetCounterOrderID(ds.FieldByName("OrderID").AsInteger());
        const int cs = ob.GetOrderStatusByID(cid);
        bool cf = false;
        ob.LookupOrderBoolean(cid, "ATRaiseChecked", cf);
        const int32_t status = ds.FieldByName("Status").AsInteger();
        // A cancelled transaction, timed from the moment it triggered.
        if (!cf && status == stCanceled && (cs == stNoLeg || cs == stCanceled) &&
            InCreditWindow(SecondsApart(now, StampOf(ds, "PendingTime")))) {
            mark();
            if (addCanceled) credit();
        }
        // A closed transaction, timed from this leg's close.
        if (addClosed && !ds.FieldByName("ATRaiseChecked").AsBoolean() && !cf && status == stClosed &&
            (cs == stNoLeg || cs == stClosed || cs == stCanceled) &&
            InCreditWindow(SecondsApart(now, StampOf(ds, "OrderCloseTime")))) {
            mark();
            credit();
        }
    }
    ds.Last(); // where a walk of every record ends
}

} // namespace quorvel
