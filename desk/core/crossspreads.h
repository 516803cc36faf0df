#pragma once
// Per-table cross spreads and the pair minima of the table's EAs, and the texts the spread
// tables show.
#include <cstdint>
#include <memory>
#include <string_view>

#include <array>

#include "desk/core/controls.h"
#include "desk/core/pricestore.h"
#include "desk/core/view.h"
#include "platform/fixedtext.h"
#include "platform/timestamp.h"

namespace quorvel {

constexpr int64_t kNoPairMin = 100000000; // unset pair minimum; this or more counts as none
constexpr int64_t kNoTableMin = 9999999;  // reset value of a table's best-pair minima

// Virtual key codes of the arrow keys.
constexpr int kVkUp = 38;
constexpr int kVkDown = 40;

// Smallest Ask[j] - Bid[i] seen for every ordered EA pair, indexed [i][j] by EA ID 1..200.
class PairMinima {
public:
    PairMinima() : m_cells(std::make_unique<int64_t[]>(kN * kN)) {}
    int64_t* operator[](int i) { return m_cells.get() + static_cast<size_t>(i) * kN; }
    const int64_t* operator[](int i) const { return m_cells.get() + static_cast<size_t>(i) * kN; }

private:
    static constexpr size_t kN = kMaxEAs + 1;
    std::unique_ptr<int64_t[]> m_cells; // zero at creation
};

// What the cross spreads ask of the desk that owns them.
class ICrossSpreadHost {
public:
    virtual ~ICrossSpreadHost() = default;
    // Table t's spreads changed; `redraw` when the Watch grid is to be redrawn now.
    virtual void CrossSpreadChanged(int t, bool redraw) = 0;
    // Every table's spreads were reset: the Watch grid is redrawn in full.
    virtual void CrossSpreadsReset() = 0;
    // Pair minima were reset: the table on screen is redrawn.
    virtual void PairMinimaReset() = 0;
    // One automatic transaction for table t.
    virtual void AutoTradeTable(int t) = 0;
};

// The limits the desk reads at start-up that the spreads depend on.
struct QuoteLimits {
    double CONNECTION_TIMEOUT = 0.0; // days
    int m_iAnzahlTabellen = 1;
};

// Every table's cross spread and counter spread, the pair minima, the best pair's minima and
// the alert and auto-trade stamps, recomputed after each complete quote.
class CrossSpreads {
public:
    CrossSpreads(const PriceStore& prices, IDeskControls& controls, IDeskView& view, const IClock& clock,
                 const QuoteLimits& limits, ICrossSpreadHost& host)
        : m_prices(prices), m_controls(controls), m_view(view), m_clock(clock), m_limits(limits),
          m_host(host) {}

    void ComputeCrossSpreads(int id);
    void ResetCrossSpreads();
    void ResetMinCrossSpread(int iIDStart, int iIDEnd);
    // Whether EA k counts in its table's cross spread now: ticked in the broker list and
    // quoted within the connection timeout.
    bool IsEligible(int k, const ClockReading& now) const;

    PairMinima acMinSpread;
    std::array<int64_t, kMaxTables> CrossSpread{};
    std::array<int64_t, kMaxTables> CSGegenwert{};
    std::array<bool, kMaxTables> CSActiv{};
    std::array<int64_t, kMaxTables> CSMin{};
    std::array<int64_t, kMaxTables> CSGegenwertMin{};
    // Each table's last alert and automatic transaction, as monotonic readings of the clock:
    // a step of the local time neither stretches nor shortens their intervals.
    std::array<TDateTime, kMaxTables> adtLastAlert{};
    std::array<TDateTime, kMaxTables> adtLastAutoTrade{};

private:
    const PriceStore& m_prices;
    IDeskControls& m_controls;
    IDeskView& m_view;
    const IClock& m_clock;
    const QuoteLimits& m_limits;
    ICrossSpreadHost& m_host;
};

// Sums and differences of price points that stay at the end of the 64-bit range instead of
// wrapping: a snapshot may hold any value, and what the tables show of it must still be defined.
inline int64_t PointsSum(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_add_overflow(a, b, &r)) return b < 0 ? INT64_MIN : INT64_MAX;
    return r;
}
inline int64_t PointsDifference(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_sub_overflow(a, b, &r)) return b > 0 ? INT64_MIN : INT64_MAX;
    return r;
}

// Durations compared in whole milliseconds, the resolution of the time stamps, so that an
// age equal to a limit is equal.
int64_t DurationMs(TDateTime from, TDateTime to);
int64_t DaysToMs(double days);

} // namespace quorvel
