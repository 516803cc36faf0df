#pragma once
// Locale-independent number formatting and parsing. The separators come from the system
// locale at start-up (see Locale) and are applied after the conversion, so nothing here
// follows LC_NUMERIC.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

struct LocaleFormat {
    char decimalSeparator = ',';
    char timeSeparator = ':';
};

// The separators in force for the process; set once at start-up by the program block.
const LocaleFormat& Locale();
void SetLocale(const LocaleFormat& format);

// Rounds to the nearest integer, a half going to the even neighbour.
double RoundHalfEven(double value);
// RoundHalfEven, then the low 32 bits as a signed integer (the link's answer of a scaled value).
int32_t RoundToLink(double value);
// RoundHalfEven into a 64-bit count (points).
int64_t RoundToInt64(double value);

// Fixed-point text with `decimals` digits after the separator ("%.*f" with the locale's
// separator), minimum width padded with spaces on the left.
std::string FormatFixed(double value, int decimals, char separator, int minWidth = 0);
inline std::string FormatFixed(double value, int decimals) {
    return FormatFixed(value, decimals, Locale().decimalSeparator);
}

// Points shown as points / 100000 with five decimals ("%2.5f").
std::string FormatPoints(int64_t points);

// Parses a whole decimal number (optional sign, optional surrounding blanks). nullopt for
// anything else, including overflow of 32 bits.
std::optional<int32_t> ParseInt32(std::string_view text);
// Parses a real number with the given decimal separator (no grouping, optional exponent).
std::optional<double> ParseDouble(std::string_view text, char separator);

} // namespace quorvel
