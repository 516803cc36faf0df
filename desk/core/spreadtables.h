#pragma once
// The texts and the banding of the spread table displays: the quote and minimum grids of the
// table frames and the Watch grid.
#include "platform/fixedtext.h"
#include "platform/timestamp.h"

namespace quorvel {

// "Conn. Status" of an EA quoted at `time`: empty before the first quote, the age's seconds
// within the minute followed by " s" while fresh, else "Timeout".
void ConnStatusText(FixedText& out, TDateTime time, TDateTime now, double timeoutDays);
// The same for a quote whose age is `age` days (the price store's QuoteAge).
void QuoteAgeText(FixedText& out, TDateTime time, TDateTime age, double timeoutDays);
// "hh:nn:ss" and "dd.mm. hh:nn:ss" with the locale's time separator.
void TimeText(FixedText& out, TDateTime t);
void DayTimeText(FixedText& out, TDateTime t);

// Rows of the Watch grid (and of the quote grid) that carry the band colour: rows 3-4, 7-8, ..
constexpr bool IsBandedRow(int row) {
    return row > 0 && ((row + 1) / 2) % 2 == 0;
}
constexpr unsigned kBandColour = 0xC0DCC0; // red 192, green 220, blue 192

} // namespace quorvel
