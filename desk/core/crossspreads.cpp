// Cross spreads of a table after each complete quote, the pair minima, the alert and auto
// trade, and their resets.
#include "desk/core/crossspreads.h"

#include "platform/numbers.h"

namespace quorvel {

int64_t DaysToMs(double days) {
    return RoundToInt64(days * 86400000.0);
}

int64_t DurationMs(TDateTime from, TDateTime to) {
    return DaysToMs(to - from);
}

bool CrossSpreads::IsEligible(int k, const ClockReading& now) const {
    const int t = (k - 1) / kEAsPerTable;
    const int item = (k - 1) % kEAsPerTable;
    if (item >= m_controls.BrokerCount(t) || !m_controls.BrokerChecked(t, item)) return false;
    return DaysToMs(m_prices.QuoteAge(k, now)) < DaysToMs(m_limits.CONNECTION_TIMEOUT);
}

void CrossSpreads::ComputeCrossSpreads(int id) {
    if (id < 1 || id > kMaxEAs) return;
    const int t = (id - 1) / kEAsPerTable;
    if (t >= kMaxTables || t >= m_limits.m_iAnzahlTabellen || !m_controls.HasFrame(t)) return;

    const PriceStore& p = m_prices;
    const int first = kEAsPerTable * t + 1;
    // One reading of the clock serves the freshness test and the alert and auto-trade tests.
    const ClockReading now = ReadClock(m_clock);
    bool eligible[kEAsPerTable];
    for (int k = 0; k < kEAsPerTable; ++k) eligible[k] = IsEligible(first + k, now);

    int64_t minAsk = kNoPoints, maxBid = kNoPoints, best = kNoPairMin;
    int minAskEA = -1, maxBidEA = -1, bestI = -1, bestJ = -1;
    for (int i = first; i < first + kEAsPerTable; ++i) {
        if (!eligible[i - first]) continue;
        if (p.Spread[i] >= 0) {
            // A lowest ask or highest bid of 0 or less counts as none. A stored price of 0 or
            // less (an EA that sent no price since its last complete quote) never becomes the
            // lowest ask or the highest bid either: it would make a cross spread of about
            // minus the whole price, and alert and trade on it.
            if (p.Ask[i] > 0 && (minAsk <= 0 || p.Ask[i] < minAsk)) {
                minAsk = p.Ask[i];
                minAskEA = i;
            }
            if (p.Bid[i] > 0 && (maxBid <= 0 || p.Bid[i] > maxBid)) {
                maxBid = p.Bid[i];
                maxBidEA = i;
            }
        }
        const bool iPriced = p.Ask[i] > 0 && p.Bid[i] > 0;
        int64_t* row = acMinSpread[i];
        for (int j = first; j < first + kEAsPerTable; ++j) {
            if (iPriced && eligible[j - first] && p.Ask[j] > 0 && p.Bid[j] > 0) {
                const int64_t d = PointsDifference(p.Ask[j], p.Bid[i]);
                if (row[j] >= kNoPairMin || d < row[j]) row[j] = d;
            }
            // Pairs whose ask side is not eligible now still count for the best pair.
            if (row[j] < best) {
                best = row[j];
                bestI = i;
                bestJ = j;
            }
        }
    }

    FixedText text;
    if (minAskEA < 0 || maxBidEA < 0) {
        text.Add("---");
        m_view.SetFrameLabel(t, IDeskView::FrameLabel::MinCrossSpread, text.View());
        m_view.SetFrameLabel(t, IDeskView::FrameLabel::Gegenwert, text.View());
        m_view.SetFrameLabel(t, IDeskView::FrameLabel::Summe, text.View());
        CSActiv[t] = false;
        CrossSpread[t] = 0;
        CSGegenwert[t] = 0;
        m_host.CrossSpreadChanged(t, false);
        return;
    }

    CSActiv[t] = true;
    CrossSpread[t] = PointsDifference(minAsk, maxBid);
    CSGegenwert[t] = PointsDifference(p.Ask[maxBidEA], p.Bid[minAskEA]);
    if (bestI >= 0 && bestJ >= 0) {
        CSMin[t] = acMinSpread[bestI][bestJ];
        CSGegenwertMin[t] = acMinSpread[bestJ][bestI];
    }
    m_host.CrossSpreadChanged(t, true);

    const int64_t cs = CrossSpread[t], gs = CSGegenwert[t];
    text.Clear().AddPoints(cs).Add(" EA ID").AddInt(minAskEA).Add(" (Ask ").AddPoints(minAsk);
    text.Add(") - EA ID").AddInt(maxBidEA).Add(" (Bid ").AddPoints(maxBid).Add(')');
    m_view.SetFrameLabel(t, IDeskView::FrameLabel::MinCrossSpread, text.View());
    text.Clear().AddPoints(gs).Add(" EA ID").AddInt(minAskEA).Add(" (Bid ").AddPoints(p.Bid[minAskEA]);
    text.Add(") - EA ID").AddInt(maxBidEA).Add(" (Ask ").AddPoints(p.Ask[maxBidEA]).Add(')');
    m_view.SetFrameLabel(t, IDeskView::FrameLabel::Gegenwert, text.View());
    text.Clear()
        .AddPoints(PointsSum(cs, gs))
        .Add(" (EA ID")
        .AddInt(minAskEA)
        .Add(" - EA ID")
        .AddInt(maxBidEA)
        .Add(')');
    m_view.SetFrameLabel(t, IDeskView::FrameLabel::Summe, text.View());

    const double level = m_controls.RealValue(Ctl::reAlert);
    const bool below = PriceOfPoints(cs) < level;
    if (!below) return;

    if (m_controls.Checked(Ctl::cbAlertAktiv) &&
        static_cast<double>(DurationMs(adtLastAlert[t], now.monotonic)) >
            m_controls.RealValue(Ctl::reAlertIntervall) * 1000.0) {
        m_view.Beep();
        text.Clear()
            .Add("ALERT: Tab ")
            .AddInt(t)
            .Add(" -> CS= ")
            .AddPoints(cs)
            .Add(" - EA=")
            .AddInt(minAskEA);
        text.Add(" (Ask ").AddPoints(minAsk).Add(") - EA=").AddInt(maxBidEA).Add(" (Bid ").AddPoints(maxBid);
        text.Add(')');
        m_view.ShowNotification(text.Str());
        adtLastAlert[t] = now.monotonic;
    }

    if (m_controls.Checked(Ctl::cbAutoTrade) && m_controls.SpinValue(Ctl::seMaxAutoTrades) > 0 &&
        DurationMs(adtLastAutoTrade[t], now.monotonic) >
            static_cast<int64_t>(m_controls.SpinValue(Ctl::seTradeIntervall)) * 1000) {
        // A failure to place the transaction leaves the credit and the interval untouched.
        m_host.AutoTradeTable(t);
        m_controls.SetSpinValue(Ctl::seMaxAutoTrades, m_controls.SpinValue(Ctl::seMaxAutoTrades) - 1);
        adtLastAutoTrade[t] = now.monotonic;
    }
}

void CrossSpreads::ResetCrossSpreads() {
    ResetMinCrossSpread(1, kMaxEAs);
    for (int t = 0; t < kMaxTables; ++t) {
        CSActiv[t] = false;
        CrossSpread[t] = 0;
        CSMin[t] = kNoTableMin;
        CSGegenwert[t] = 0;
        CSGegenwertMin[t] = kNoTableMin;
    }
    m_host.CrossSpreadsReset();
}

void CrossSpreads::ResetMinCrossSpread(int iIDStart, int iIDEnd) {
    const int lo = iIDStart < 1 ? 1 : iIDStart;
    const int hi = iIDEnd > kMaxEAs ? kMaxEAs : iIDEnd;
    for (int i = lo; i <= hi; ++i)
        for (int j = lo; j <= hi; ++j) acMinSpread[i][j] = kNoPairMin;
    m_host.PairMinimaReset();
}

} // namespace quorvel
