#pragma once
// Text built in a fixed buffer, for the paths that run on every quote: no allocation, the
// numbers formatted locale-independently with the separators of Locale().
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/timestamp.h"

namespace quorvel {

class FixedText {
public:
    static constexpr size_t kCapacity = 256;

    FixedText& Clear() {
        m_len = 0;
        return *this;
    }
    // Text beyond the capacity is dropped.
    FixedText& Add(std::string_view s);
    FixedText& Add(char c);
    // "%d"
    FixedText& AddInt(int64_t v);
    // "%*d": right-aligned in `width` places, padded with blanks.
    FixedText& AddInt(int64_t v, int width);
    // Two digits with a leading zero (times and dates).
    FixedText& AddTwoDigits(int v);
    // A date-time in a display pattern (see FormatDateTime) with the locale's time separator.
    FixedText& AddDateTime(std::string_view pattern, TDateTime t);
    // Points shown as points / 100000 with "%2.5f" and the locale's decimal separator; the same
    // text as FormatPoints.
    FixedText& AddPoints(int64_t points);

    std::string_view View() const { return {m_buf, m_len}; }
    std::string Str() const { return std::string(View()); }
    size_t Size() const { return m_len; }

private:
    char m_buf[kCapacity];
    size_t m_len = 0;
};

} // namespace quorvel
