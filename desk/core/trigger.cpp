// The opening trigger: the test of the waiting transactions after each complete quote, the
// hand-over of a triggered transaction to its EAs, and the pause of each EA pair.
#include "desk/core/trigger.h"

#include <algorithm>
#include <string>

namespace quorvel {

namespace {

// Ends the cursor's filtered walk however the walk ends, so that later walks of the cursor
// see every record again.
struct WalkScope {
    ClientDataSet& ds;
    WalkScope(ClientDataSet& d, const std::string& field, std::vector<int32_t> values) : ds(d) {
        ds.SetWalkFilter(field, std::move(values));
    }
    ~WalkScope() { ds.ClearWalkFilter(); }
    WalkScope(const WalkScope&) = delete;
    WalkScope& operator=(const WalkScope&) = delete;
};

constexpr int64_t kAboveAnyAsk = 100000000000; // 10^11 points

} // namespace

void OpeningTrigger::CheckEveryWaitingLeg() {
    ClientDataSet& ds = m_ctx.orders.m_CDSOrderliste;
    if (!ds.Active() || m_ctx.controls.Checked(Ctl::chkbStandby)) return;
    const ClockReading now = ReadClock(m_ctx.clock);
    // Only the legs that are "To Open" when they are visited can trigger: the walk passes
    // over every other record, so that its cost follows the waiting legs, not the history.
    // A leg made Pending earlier in this walk is passed over as well.
    WalkScope walk(ds, LegColumnName(LegColumn::Status), {stToOpen});
    std::pair<int, int> pair;
    for (ds.First(); !ds.Eof(); ds.Next()) TestLeg(now, pair);
}

void OpeningTrigger::CheckOrders() {
    ClientDataSet& ds = m_ctx.orders.m_CDSOrderliste;
    if (!ds.Active() || m_ctx.controls.Checked(Ctl::chkbStandby)) return;
    // The legs are taken in the order of the engine cursor's own index.
    const IndexDef& ix = ds.Index();
    if (ix.field != IdxOrderIDDesc().field || !ix.descending) {
        for (TableSeen& s : m_seen) s.valid = false;
        CheckEveryWaitingLeg();
        return;
    }
    const ClockReading now = ReadClock(m_ctx.clock);
    const LegView& f = m_ctx.orders.Leg();
    m_due.clear();
    for (int t = 0; t < kMaxTables; ++t)
        if (TableDue(t, now)) {
            const std::vector<WaitingLegs::Leg>& legs = m_waiting.Of(t);
            m_due.insert(m_due.end(), legs.begin(), legs.end());
        }
    if (m_due.empty()) return;
    std::sort(m_due.begin(), m_due.end(), WaitingLegs::Before);
    // The legs due are visited as the walk over every waiting leg meets them: a leg that is no
    // longer "To Open" when its turn comes (made Pending earlier in this walk) is passed over.
    try {
        std::pair<int, int> pair;
        for (const WaitingLegs::Leg& leg : m_due) {
            if (!ds.BookmarkValid(leg.bookmark)) continue;
            ds.GotoBookmark(leg.bookmark);
            if (f.Status().IsNull() || f.Status().AsInteger() != stToOpen) continue;
            const int t = f.TableID().AsInteger();
            if (!TestLeg(now, pair)) continue;
            std::vector<std::pair<int, int>>& pairs = m_seen[t].pairs;
            if (std::find(pairs.begin(), pairs.end(), pair) == pairs.end()) pairs.push_back(pair);
        }
    } catch (...) {
        // The walk ended early: legs after the failing one were not tested.
        for (TableSeen& s : m_seen) s.valid = false;
        throw;
    }
}

bool OpeningTrigger::TableDue(int t, const ClockReading& now) {
    TableSeen& s = m_seen[t];
    if (m_waiting.Of(t).empty()) {
        s.valid = false;
        return false;
    }
    bool due = m_waiting.TakeChanged(t) || !s.valid;
    // Whether each EA of the table is a candidate now, and its prices: what decides, with a
    // leg's own fields, on which pair and at which cross spread it would trigger.
    const PriceStore& p = m_ctx.prices;
    const int64_t timeoutMs = DaysToMs(m_ctx.limits.CONNECTION_TIMEOUT);
    for (int k = 0; k < kEAsPerTable; ++k) {
        const int id = kEAsPerTable * t + 1 + k;
        const bool candidate = p.Ask[id] > 0 && p.Bid[id] > 0 && DaysToMs(p.QuoteAge(id, now)) <= timeoutMs;
        const int64_t ask = candidate ? p.Ask[id] : 0, bid = candidate ? p.Bid[id] : 0;
        if (candidate != s.candidate[k] || ask != s.ask[k] || bid != s.bid[k]) {
            due = true;
            s.candidate[k] = candidate;
            s.ask[k] = ask;
            s.bid[k] = bid;
        }
    }
    // A leg that reached its target waits only for its pair's pause; once that is over, it
    // triggers (again).
    for (size_t k = 0; !due && k < s.pairs.size(); ++k)
        due = IsCombinationPauseOver(s.pairs[k].first, s.pairs[k].second, now.local);
    if (due) {
        s.valid = true;
        s.pairs.clear();
    }
    return due;
}

bool OpeningTrigger::TestLeg(const ClockReading& now, std::pair<int, int>& pair) {
    ClientDataSet& ds = m_ctx.orders.m_CDSOrderliste;
    const LegView& f = m_ctx.orders.Leg();
    // The table names the ten EA IDs whose quotes are read: one outside the tables names
    // no EA, so the record is passed over.
    const int t = f.TableID().AsInteger();
    if (t < 0 || t >= kMaxTables) return false;
    Candidates c{};
    if (!FindPair(t, now, c)) return false;
    const double target = f.OpenSpread().AsCurrency();
    // The target in points plus 0.01 point, which absorbs the inexactness of the stored
    // spread: a target of -0.00019 triggers at -19 points, not at -18.
    if (!(static_cast<double>(c.lowestAsk - c.highestBid) <= (target * 10.0 + 0.000001) * 10000.0))
        return false;
    pair = {c.sellEA, c.buyEA};
    if (!IsCombinationPauseOver(c.sellEA, c.buyEA, now.local)) return true;
    // The stamp starts the pause whatever follows: a transaction held back by a neutral
    // trend waits the pause out as well.
    SetLastTrade(c.sellEA, c.buyEA, now.local);
    const Bookmark mark = ds.GetBookmark();
    const int orderID = f.OrderID().AsInteger();
    try {
        SetOrderPending(c.sellEA, c.buyEA, c.lowestAsk, c.highestBid, orderID);
    } catch (...) {
        ds.FreeBookmark(mark);
        throw;
    }
    if (ds.BookmarkValid(mark)) ds.GotoBookmark(mark);
    ds.FreeBookmark(mark);
    return true;
}

bool OpeningTrigger::FindPair(int t, const ClockReading& now, Candidates& out) {
    int32_t ticked[10];
    const LegView& leg = m_ctx.orders.Leg();
    for (int k = 0; k < 10; ++k) ticked[k] = leg.Broker(k).AsInteger();
    const PriceStore& p = m_ctx.prices;
    const int64_t timeoutMs = DaysToMs(m_ctx.limits.CONNECTION_TIMEOUT);
    out = {kAboveAnyAsk, kNoPoints, -1, -1};
    for (int id = kEAsPerTable * t + 1; id <= kEAsPerTable * t + kEAsPerTable; ++id) {
        bool considered = false;
        for (int32_t v : ticked) considered = considered || v == id;
        if (!considered) continue;
        // An age equal to the timeout still counts as fresh here.
        if (p.Ask[id] <= 0 || p.Bid[id] <= 0 || DaysToMs(p.QuoteAge(id, now)) > timeoutMs) continue;
        // Strict comparisons: on equal prices the lower EA ID keeps the role.
        if (p.Ask[id] < out.lowestAsk) {
            out.lowestAsk = p.Ask[id];
            out.buyEA = id;
        }
        if (p.Bid[id] > out.highestBid) {
            out.highestBid = p.Bid[id];
            out.sellEA = id;
        }
    }
    // An EA holding both the lowest ask and the highest bid blocks the transaction.
    return out.buyEA >= 0 && out.sellEA >= 0 && out.buyEA != out.sellEA;
}

void OpeningTrigger::SetOrderPending(int iSellEAID, int iBuyEAID, int64_t iLowestAsk, int64_t iHighestBid,
                                     int iOrderID) {
    OrderList& ob = m_ctx.orders;
    ClientDataSet& ds = ob.m_CDSOrderliste;
    const LegView& leg = ob.Leg();
    IDeskControls& c = m_ctx.controls;
    const int counter = ob.GetCounterOrderID(iOrderID);
    const int ownType = leg.OrderType().AsInteger();
    const int counterType = ob.GetOrderTypeByID(counter);
    // A one-sided transaction, or a leg without a counter order, starts without a trend test.
    const bool single = ownType == otNone || counterType == otNone;
    const bool seqMode = c.Checked(Ctl::chkbSeqMode);
    const bool delMode = c.Checked(Ctl::chkbDelayMode);

    const int legs[2] = {iOrderID, counter};
    for (int k = 0; k < 2; ++k) {
        if (!ob.LocateLeg(legs[k])) continue;
        const int type = leg.OrderType().AsInteger();
        const int otherType = k == 0 ? counterType : ownType;
        int ea;
        if (type == otBuy)
            ea = iBuyEAID;
        else if (type == otSell)
            ea = iSellEAID;
        else if (type == otNone)
            ea = otherType == otBuy ? iSellEAID : iBuyEAID; // the side opposite the real leg
        else
            continue; // a leg of no known side is given to nobody
        // A real leg that left "To Open" was handed out before and may be executing or open:
        // making it Pending again would let a second EA execute it.
        if (type != otNone && leg.Status().AsInteger() != stToOpen) continue;

        bool wait = false, go = true, delayed = false;
        TDateTime delay = 0.0;
        if (!single && (delMode || seqMode)) {
            const int tr = m_ctx.GetTrend(iBuyEAID, iSellEAID);
            const bool trails = (tr == 1 && type == otSell) || (tr == -1 && type == otBuy);
            if (trails) {
                const char* head = tr == 1 ? "POSITIVE TREND: BUY -> SELL" : "NEGATIVE TREND: SELL -> BUY";
                if (seqMode) {
                    m_ctx.view.ShowNotification(std::string(head) + " (SeqMode)");
                    wait = true;
                } else {
                    m_ctx.view.ShowNotification(std::string(head) + " (DelayMode, " +
                                                std::to_string(c.SpinValue(Ctl::seDelayPos2)) + "ms)");
                    delay = m_ctx.GetDelayPos2Time();
                    delayed = true;
                }
            } else if (tr == 0) {
                go = false;
            }
        }
        if (!go) continue;

        ds.Edit();
        if (type != otNone) leg.Status().SetAsInteger(stPending);
        leg.OpenAfterCounterOrder().SetAsBoolean(wait);
        // Both stamps are noted with their monotonic readings as well: the delay and the age
        // of the Pending leg are measured on the monotonic clock.
        if (delayed) {
            leg.OpenDelayUntil().SetAsDateTime(delay);
            m_ctx.NoteStamp(m_ctx.state.openDelays, legs[k], delay);
        }
        const TDateTime pendingTime = m_ctx.clock.Now();
        leg.PendingTime().SetAsDateTime(pendingTime);
        m_ctx.NoteStamp(m_ctx.state.pendingTimes, legs[k], pendingTime);
        leg.EAID().SetAsInteger(ea);
        leg.Account().SetAsInteger(ea >= 1 && ea <= kMaxEAs ? m_ctx.prices.Accounts[ea] : kNoAccount);
        if (type == otBuy)
            leg.TriggerOpenPrice().SetAsCurrency(PriceOfPoints(iLowestAsk));
        else if (type == otSell)
            leg.TriggerOpenPrice().SetAsCurrency(PriceOfPoints(iHighestBid));
        ds.Post();
    }
}

void OpeningTrigger::SetLastTrade(int iSellEAID, int iBuyEAID, TDateTime time) {
    // The stamp is kept on the monotonic clock, so that a step of the local time neither
    // stretches nor shortens the pause.
    if (m_ctx.IsValidEAID(iSellEAID) && m_ctx.IsValidEAID(iBuyEAID))
        m_lastTrade[iSellEAID][iBuyEAID] = m_ctx.MonotonicAt(time);
}

bool OpeningTrigger::IsCombinationPauseOver(int iSellEAID, int iBuyEAID, TDateTime time) const {
    if (!m_ctx.IsValidEAID(iSellEAID) || !m_ctx.IsValidEAID(iBuyEAID)) return true;
    // In whole milliseconds, the resolution of the time stamps: a pause of exactly the
    // setting is over.
    return DurationMs(m_lastTrade[iSellEAID][iBuyEAID], m_ctx.MonotonicAt(time)) >= m_pauseMS;
}

void OpeningTrigger::ClearLastTrades() {
    m_lastTrade.Fill(0.0);
}

} // namespace quorvel
