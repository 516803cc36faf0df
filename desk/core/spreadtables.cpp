// The spread tables on screen: each table tab's quote grid and pair grid, the Watch grid, and
// the steps of the Watch tab's edits. Only what is on screen is drawn.
#include <cstdlib>

#include "desk/core/crossspreads.h"
#include "desk/core/desk.h"
#include "desk/core/spreadtables.h"
#include "platform/numbers.h"

namespace quorvel {

namespace {
using Grid = IDeskView::Grid;

constexpr const char* kQuoteHeaders[] = {"Bid/Ask", "Account No.", "Conn. Status", "Live Spread",
                                         "Time",    "Min. Spread", "Time Stamp"};
struct PairHeader {
    const char* caption;
    int width;
};
constexpr PairHeader kPairHeaders[] = {{"Min. Cross Spread", 125},
                                       {"EA Bid", 60},
                                       {"EA Ask", 60},
                                       {"Min. Counter Spread", 125},
                                       {"TOTAL ARB", 75}};
constexpr const char* kWatchHeaders[] = {"Min. Live Cross Spread", "Min. Cross Spread", "Counter Spread",
                                         "Min. Counter Spread", "TOTAL ARB"};
constexpr int kQuoteRows = 21, kQuoteCols = 7;
constexpr double kAlertIntervalMin = 0.1;
} // namespace

// ---- texts ---------------------------------------------------------------------------------

void ConnStatusText(FixedText& out, TDateTime time, TDateTime now, double timeoutDays) {
    QuoteAgeText(out, time, now - time, timeoutDays);
}

void QuoteAgeText(FixedText& out, TDateTime time, TDateTime age, double timeoutDays) {
    out.Clear();
    if (time < 0) return;
    const int64_t ageMs = DaysToMs(age);
    if (ageMs < DaysToMs(timeoutDays)) {
        // The age as a time of day: its seconds within the minute.
        const int64_t s = ageMs / 1000 % 60; // no negation: the age may be the lowest count
        out.AddInt(s < 0 ? -s : s).Add(" s");
    } else {
        out.Add("Timeout");
    }
}

void TimeText(FixedText& out, TDateTime t) {
    out.Clear().AddDateTime("hh:nn:ss", t);
}

void DayTimeText(FixedText& out, TDateTime t) {
    out.Clear().AddDateTime("dd.mm. hh:nn:ss", t);
}

// ---- table grids ---------------------------------------------------------------------------

void Desk::InitTableGrids(int t, int iStartID) {
    m_view.SetGridRowCount(Grid::Quote, t, kQuoteRows);
    m_view.SetGridColCount(Grid::Quote, t, kQuoteCols);
    for (int c = 0; c < kQuoteCols; ++c) m_view.SetGridCell(Grid::Quote, t, c, 0, kQuoteHeaders[c]);
    FixedText text;
    for (int k = 1; k <= kEAsPerTable; ++k) {
        m_view.SetGridCell(Grid::Quote, t, 0, 2 * k, "Bid/Ask");
        text.Clear().Add("EA ID ").AddInt(iStartID + k - 1);
        m_view.SetGridCell(Grid::Quote, t, 0, 2 * k - 1, text.View());
    }
    m_view.SetGridColWidth(Grid::Quote, t, 0, 60);
    for (int c = 0; c < 5; ++c) {
        m_view.SetGridCell(Grid::Pair, t, c, 0, kPairHeaders[c].caption);
        m_view.SetGridColWidth(Grid::Pair, t, c, kPairHeaders[c].width);
    }
}

void Desk::UpdateTables(int iEAID) {
    const int t = m_controls.ActiveTableIndex();
    int lo = kEAsPerTable * t + 1, hi = kEAsPerTable * t + kEAsPerTable;
    if (iEAID > 0) {
        if (iEAID < lo || iEAID > hi) return;
        lo = hi = iEAID;
    }
    if (t < 0 || t >= kMaxTables || t >= settings.m_iAnzahlTabellen || !m_controls.HasFrame(t)) return;

    const PriceStore& p = prices;
    const ClockReading now = ReadClock(m_clock);
    FixedText text;
    auto cell = [&](int col, int row) { m_view.SetGridCell(Grid::Quote, t, col, row, text.View()); };
    for (int i = lo; i <= hi; ++i) {
        const int r = 2 * ((i - 1) % kEAsPerTable) + 1;
        text.Clear();
        if (p.Accounts[i] >= 0) text.AddInt(p.Accounts[i]);
        cell(1, r);
        QuoteAgeText(text, p.Time[i], p.QuoteAge(i, now), settings.CONNECTION_TIMEOUT);
        cell(2, r);
        const bool live = p.Spread[i] >= 0;
        text.Clear();
        if (live) text.AddPoints(p.Spread[i]);
        cell(3, r);
        if (live) TimeText(text, p.Time[i]);
        cell(4, r);
        if (live) text.Clear().AddPoints(p.Bid[i]);
        cell(3, r + 1);
        if (live) text.Clear().AddPoints(p.Ask[i]);
        cell(4, r + 1);
        const bool hasMin = p.Min[i] >= 0;
        text.Clear();
        if (hasMin) text.AddPoints(p.Min[i]);
        cell(5, r);
        if (hasMin) DayTimeText(text, p.TimeMin[i]);
        cell(6, r);
        if (hasMin) text.Clear().AddPoints(p.MinBid[i]);
        cell(5, r + 1);
        if (hasMin) text.Clear().AddPoints(p.MinAsk[i]);
        cell(6, r + 1);
    }

    // Pair rows: none for a single EA.
    int row = 1;
    auto pairCell = [&](int col) { m_view.SetGridCell(Grid::Pair, t, col, row, text.View()); };
    for (int i = lo; i <= hi; ++i) {
        for (int j = i + 1; j <= hi; ++j, ++row) {
            text.Clear().Add("EA ").AddInt(i);
            pairCell(1);
            text.Clear().Add("EA ").AddInt(j);
            pairCell(2);
            const int64_t x = spreads.acMinSpread[i][j], y = spreads.acMinSpread[j][i];
            const bool both = x < kNoPairMin && y < kNoPairMin;
            text.Clear();
            if (both)
                text.AddPoints(x);
            else
                text.Add("---");
            pairCell(0);
            if (both) text.Clear().AddPoints(y);
            pairCell(3);
            if (both) text.Clear().AddPoints(PointsSum(x, y));
            pairCell(4);
        }
    }
}

// ---- Watch grid ----------------------------------------------------------------------------

void Desk::DrawWatchRow(int t) {
    FixedText text;
    const int row = t + 1;
    text.Add("Tab ").AddInt(t, 2);
    m_view.SetGridCell(Grid::Watch, 0, 0, row, text.View());
    const CrossSpreads& s = spreads;
    const int64_t values[5] = {s.CrossSpread[t], s.CSMin[t], s.CSGegenwert[t], s.CSGegenwertMin[t],
                               PointsSum(s.CSMin[t], s.CSGegenwertMin[t])};
    for (int c = 0; c < 5; ++c) {
        text.Clear();
        if (s.CSActiv[t])
            text.AddPoints(values[c]);
        else
            text.Add("---");
        m_view.SetGridCell(Grid::Watch, 0, c + 1, row, text.View());
    }
    m_bWatchRowDirty[t] = false;
}

void Desk::UpdateWatchGrid() {
    const int64_t rows = static_cast<int64_t>(settings.m_iAnzahlTabellen) + 1;
    if (m_view.GridRowCount(Grid::Watch, 0) > rows)
        m_view.SetGridRowCount(Grid::Watch, 0, static_cast<int>(rows < 0 ? 0 : rows));
    if (!m_controls.WatchPageActive()) {
        // Whatever changes meanwhile is drawn by the next pass on screen.
        m_bWatchFullPending = true;
        return;
    }
    const int tables = settings.m_iAnzahlTabellen < kMaxTables ? settings.m_iAnzahlTabellen : kMaxTables;
    if (m_bWatchFullPending) {
        for (int c = 0; c < 5; ++c) m_view.SetGridCell(Grid::Watch, 0, c + 1, 0, kWatchHeaders[c]);
        for (int t = 0; t < tables; ++t) DrawWatchRow(t);
        m_bWatchFullPending = false;
        return;
    }
    // While the Watch tab stays on screen a row is redrawn only when its table's values have
    // changed; every other row already shows what a full pass would write.
    for (int t = 0; t < tables; ++t)
        if (m_bWatchRowDirty[t]) DrawWatchRow(t);
}

void Desk::CrossSpreadChanged(int t, bool redraw) {
    if (t < 0 || t >= kMaxTables) return;
    m_bWatchRowDirty[t] = true;
    if (redraw) UpdateWatchGrid();
}

void Desk::CrossSpreadsReset() {
    m_bWatchFullPending = true;
    UpdateWatchGrid();
}

void Desk::PageControl1Change() {
    UpdateTables(-1);
    m_bWatchFullPending = true;
    UpdateWatchGrid();
}

// ---- Watch tab steps -----------------------------------------------------------------------

void Desk::RealEditKeyUp(Ctl c, int key) {
    if (key == kVkUp)
        m_controls.SetRealValue(c, m_controls.RealValue(c) + 0.00005);
    else if (key == kVkDown)
        m_controls.SetRealValue(c, m_controls.RealValue(c) - 0.00005);
}

void Desk::UpDown5Click(bool up) {
    m_controls.SetRealValue(Ctl::reAlert, m_controls.RealValue(Ctl::reAlert) + (up ? 0.00005 : -0.00005));
}

void Desk::UpDown6Click(bool up) {
    m_controls.SetRealValue(Ctl::reAlertIntervall,
                            m_controls.RealValue(Ctl::reAlertIntervall) + (up ? 0.1 : -0.1));
    if (m_controls.RealValue(Ctl::reAlertIntervall) < kAlertIntervalMin)
        m_controls.SetRealValue(Ctl::reAlertIntervall, kAlertIntervalMin);
}

void Desk::m_reAlertIntervallKeyUp(int key) {
    if (key == kVkUp || key == kVkDown)
        m_controls.SetRealValue(Ctl::reAlertIntervall,
                                m_controls.RealValue(Ctl::reAlertIntervall) + (key == kVkUp ? 0.1 : -0.1));
    if (m_controls.RealValue(Ctl::reAlertIntervall) < kAlertIntervalMin)
        m_controls.SetRealValue(Ctl::reAlertIntervall, kAlertIntervalMin);
}

} // namespace quorvel
