#pragma once
// Value semantics of the real-number edit box, shared by the widget, the desk core and the
// test doubles: the conversion of its text, the formatting of its value and the filter of
// typed characters.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The box keeps its number in extended precision (long double: 80-bit on this platform, 64-bit
// mantissa, decimal exponents to about 4932), for the conversion of its text and for the filter.

// Converts a box's text: optional leading blanks, an optional sign, digits with at most one
// decimal separator (at least one digit or the separator), an optional exponent ("E" or "e",
// an optional sign, digits that may be absent: "1e" is 1), optional trailing blanks, nothing
// else. No thousands separators. nullopt when the text does not convert, also when the value
// lies beyond the extended range; a value too small for it converts to 0.
std::optional<long double> RealEditConvert(std::string_view text, char separator);

// The box's text converted to its value with the locale's separator (0 when it does not convert).
long double RealEditTextToExtended(const std::string& text);
long double RealEditTextToExtended(const std::string& text, char separator);

// The same value for callers that keep doubles: rounded to the nearest double; a value beyond
// the range of a double reads as the largest double of its sign.
double RealEditTextToValue(const std::string& text);
double RealEditTextToValue(const std::string& text, char separator);
double RealEditToDouble(long double value);

// The box's format for a precision: "%." followed by the precision and "f" (5: "%.5f").
std::string RealEditFormatStr(int precision);

// The text the box shows for a value: fixed point, exactly `precision` decimals (a negative
// precision counts as 0), the separator, a leading "-" for negatives, no thousands separators.
// A value that rounds to zero at the precision is written without a sign.
std::string RealEditValueToText(long double value, int precision);
std::string RealEditValueToText(long double value, int precision, char separator);

// The character filter of the box, for one typed character.
//   text:      the box's current text (UTF-8)
//   insertPos: byte offset in `text` of the first selected character, or of the caret when
//              nothing is selected
//   ch:        the typed character (Unicode code point)
// A typed "." becomes the locale's separator first. Backspace (8) and carriage return (13)
// pass untested. Any other character passes when the text with it inserted at insertPos and a
// "0" appended converts; the selection is not removed for this test. The result is the
// character that reaches the edit control, or 0 when it is dropped.
char32_t RealEditFilterChar(const std::string& text, std::size_t insertPos, char32_t ch, char separator);
char32_t RealEditFilterChar(const std::string& text, std::size_t insertPos, char32_t ch);

} // namespace quorvel
