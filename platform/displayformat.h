#pragma once
// Dates and numbers as they are shown: one formatter for every displayed date-time and every
// display format of a number, locale-independent with the separators passed in (or those of
// Locale()).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/timestamp.h"

namespace quorvel {

// A date-time in a display pattern. Letters in either case: d, dd day; m, mm month; yy, yyyy
// year; h, hh hour; n, nn minute; s, ss second; z, zzz millisecond (the doubled forms with
// leading zeros). ':' gives the time separator, '/' a dot, text in single or double quotes
// stands as it is, and so does every other character.
// Writes at most `capacity` characters to `out` and returns how many it wrote.
size_t FormatDateTime(char* out, size_t capacity, std::string_view pattern, TDateTime t, char timeSeparator);
std::string FormatDateTime(std::string_view pattern, TDateTime t, char timeSeparator);
std::string FormatDateTime(std::string_view pattern, TDateTime t);

// Fixed-point text with `decimals` digits after the separator ("%.*f" with the locale's
// separator), minimum width padded with spaces on the left.
std::string FormatFixed(double value, int decimals, char separator, int minWidth = 0);
std::string FormatFixed(double value, int decimals); // the locale's separator

// Points shown as points / 100000 with five decimals ("%2.5f").
std::string FormatPoints(int64_t points);

// A number in a display pattern such as "0.00000": fixed-point with as many decimals as '0' or
// '#' follow the point, the locale's decimal separator.
std::string FormatNumber(std::string_view pattern, double v);

// The general text of a real, the one rule for every real the desk writes without a pattern:
// the shortest text with at most 15 significant digits (rounded to 15 when the value needs
// more), fixed notation for magnitudes from 0.00001 up to below 10^15 and the exponent form
// outside ("1E-6", "-1,5E20"; no "+", no leading zeros in the exponent). 1.0 gives "1", 0 and
// -0 give "0", NaN "NAN", the infinities "INF" and "-INF".
// Writes at most kGeneralCapacity characters to `out` and returns how many.
constexpr size_t kGeneralCapacity = 32;
size_t FormatGeneral(char* out, double v, char separator);
std::string FormatGeneral(double v, char separator);
std::string FormatGeneral(double v); // the locale's separator

} // namespace quorvel
