#pragma once
// Per-table cross spreads and the pair minima of the table's EAs, and the texts the spread
// tables show.
#include <cstdint>
#include <memory>
#include <string_view>

#include "desk/core/pricestore.h"
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

// Durations compared in whole milliseconds, the resolution of the time stamps, so that an
// age equal to a limit is equal.
int64_t DurationMs(TDateTime from, TDateTime to);
int64_t DaysToMs(double days);

// "Conn. Status" of an EA quoted at `time`: empty before the first quote, the age's seconds
// within the minute followed by " s" while fresh, else "Timeout".
void ConnStatusText(FixedText& out, TDateTime time, TDateTime now, double timeoutDays);
// "hh:nn:ss" and "dd.mm. hh:nn:ss" with the locale's time separator.
void TimeText(FixedText& out, TDateTime t);
void DayTimeText(FixedText& out, TDateTime t);

// Rows of the Watch grid (and of the quote grid) that carry the band colour: rows 3-4, 7-8, ..
constexpr bool IsBandedRow(int row) {
    return row > 0 && ((row + 1) / 2) % 2 == 0;
}
constexpr unsigned kBandColour = 0xC0DCC0; // red 192, green 220, blue 192

} // namespace quorvel
