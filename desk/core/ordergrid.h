#pragma once
// What the order grid shows beside the records: the colours of its cells and the texts and
// colours of the sum labels above it.
#include <optional>
#include <string>

#include "platform/clientdataset.h"

namespace quorvel {

// Colours written 0x00BBGGRR.
constexpr unsigned kOrderGridBand = 0xC0DCC0;
constexpr unsigned clRed = 0x0000FF;
constexpr unsigned clGreen = 0x008000;
constexpr unsigned clBlue = 0xFF0000;
constexpr unsigned clBlack = 0x000000;

// Whether the record with this number (1-based, the grid's order) is banded: records 3-4,
// 7-8, ... so that every second transaction stands out.
bool OrderGridBanded(int recNo);
// The font colour a cell of this field takes on the current record: red or green for a
// negative or positive "Gewinn" or "GewinnPips" currency field, blue for "Ticket"; none for
// every other cell (and for a profit of 0 or null).
std::optional<unsigned> OrderGridFontColour(const Field& field);

struct SumLabelText {
    std::string text;
    unsigned colour = clBlack;
};
// "P/L: " with two decimals, "P/L Pips: " with five, "Lots: " with two, the locale's separator;
// a null sum shows as zero. Profit colours: below 0 (or null) red, above 0 green, else black;
// lots are always black.
SumLabelText ProfitSumText(const Variant& sum);
SumLabelText ProfitPipsSumText(const Variant& sum);
SumLabelText LotsSumText(const Variant& sum);

} // namespace quorvel
