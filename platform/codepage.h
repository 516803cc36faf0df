#pragma once
// Text in UTF-8 (as the desk holds it) and in the 8-bit ANSI code page Windows-1252 (as the
// desk's text files hold it).
#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel {

constexpr char32_t kReplacement = 0xFFFD;

// Appends the character as UTF-8.
void AppendUtf8(std::string& out, char32_t c);
// Decodes one UTF-8 character at `i` and advances past it; a malformed sequence (overlong,
// surrogate, beyond U+10FFFF, cut short) gives kReplacement and advances by one byte.
char32_t NextUtf8(std::string_view s, size_t& i);

// Windows-1252 bytes to UTF-8; the five bytes the code page leaves free map to U+0081, U+008D,
// U+008F, U+0090 and U+009D, so every byte has a character and comes back unchanged.
std::string Cp1252ToUtf8(std::string_view bytes);
// UTF-8 to Windows-1252; a character the code page cannot show, and a malformed sequence,
// becomes '?'.
std::string Utf8ToCp1252(std::string_view text);
// The same, appended to `out`.
void AppendCp1252(std::string& out, std::string_view text);

} // namespace quorvel
