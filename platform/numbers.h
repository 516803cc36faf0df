#pragma once
// Locale-independent rounding and parsing of numbers; their text is written by displayformat.h.
// The separators come from the system locale at start-up (see Locale) and are applied after the
// conversion, so nothing here follows LC_NUMERIC.
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

// Parses a whole decimal number (optional sign, optional surrounding blanks). nullopt for
// anything else, including overflow of 32 bits.
std::optional<int32_t> ParseInt32(std::string_view text);
// Parses a real number with the given decimal separator (no grouping, optional exponent).
std::optional<double> ParseDouble(std::string_view text, char separator);

} // namespace quorvel
