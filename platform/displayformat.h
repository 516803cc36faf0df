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

// A real without a pattern: up to 15 significant digits, the locale's decimal separator.
std::string FormatGeneral(double v);

} // namespace quorvel
