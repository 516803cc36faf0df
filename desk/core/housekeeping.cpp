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
        if (!m_ctx.MayReturnToOpen(ds.FieldByName("OrderID").AsInteger())) continue;
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
        return;
    }
    if (engine || (change != Change::Edited && change != Change::Appended) || !owner.m_list) return;
    ClientDataSet& list = *owner.m_list;
    list.PeekRecord(row, [&] { owner.m_legs.push_back(list.GetBookmark()); });
}

bool OrderHousekeeping::MayEarn(TDateTime now) const {
    if (m_list->FieldByName("ATRaiseChecked").AsBoolean()) return false;
    // A stamp further back than the window only grows older; one ahead of now comes nearer.
    const TDateTime from = now - static_cast<double>(kCreditUntil + 1) / 86400.0;
    return StampOf(*m_list, "PendingTime") >= from || StampOf(*m_list, "OrderCloseTime") >= from;
}

void OrderHousekeeping::Seed(TDateTime now) {
    if (m_list) m_list->RemoveObserver(&m_listWatch);
    m_list = std::make_unique<ClientDataSet>("housekeeping");
    m_list->CloneCursor(m_ctx.orders.m_CDSOrderliste, true);
    m_list->AddObserver(&m_listWatch);
    m_legs.clear();
    for (m_list->First(); !m_list->Eof(); m_list->Next())
        if (MayEarn(now)) m_legs.push_back(m_list->GetBookmark());
    m_stale = false;
}

void OrderHousekeeping::CheckAutoTradeRaise() {
    OrderBook& ob = m_ctx.orders;
    ClientDataSet& ds = ob.m_CDSOrderliste;
    if (!ds.Active()) return;
    const TDateTime now = m_ctx.clock.Now();
    // Once after the list was opened, and again when the clock went back: every leg is read.
    if (m_stale || !m_list || now < m_lastSweep) Seed(now);
    m_lastSweep = now;

    // The legs that may earn a credit, in the engine cursor's order: OrderID descending, a
    // null OrderID last, the later record first among equals.
    struct Leg {
        Variant orderID;
        Bookmark bookmark;
    };
    std::vector<Leg> legs;
    {
        std::vector<Bookmark> marks;
        marks.swap(m_legs); // what changes from here on is gathered anew
        std::sort(marks.begin(), marks.end());
        marks.erase(std::unique(marks.begin(), marks.end()), marks.end());
        const Field& orderID = m_list->FieldByName("OrderID");
        for (Bookmark b : marks) {
            if (!m_list->BookmarkValid(b)) continue; // deleted
            m_list->GotoBookmark(b);
            if (MayEarn(now)) legs.push_back({orderID.Value(), b});
        }
    }
    std::sort(legs.begin(), legs.end(), [](const Leg& a, const Leg& b) {
        if (a.orderID.IsNull() != b.orderID.IsNull()) return b.orderID.IsNull();
        if (!a.orderID.IsNull() && a.orderID.Raw() != b.orderID.Raw())
            return a.orderID.Raw() > b.orderID.Raw();
        return a.bookmark > b.bookmark;
    });

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
    for (const Leg& leg : legs) {
        ds.GotoBookmark(leg.bookmark);
        // Legs not marked now keep their place for the next sweeps.
        m_legs.push_back(leg.bookmark);
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
