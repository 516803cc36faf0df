#include "platform/fixedtext.h"

#include <charconv>
#include <cstring>

#include "platform/displayformat.h"
#include "platform/numbers.h"

namespace quorvel {

FixedText& FixedText::Add(std::string_view s) {
    const size_t n = s.size() < kCapacity - m_len ? s.size() : kCapacity - m_len;
    std::memcpy(m_buf + m_len, s.data(), n);
    m_len += n;
    return *this;
}

FixedText& FixedText::Add(char c) {
    if (m_len < kCapacity) m_buf[m_len++] = c;
    return *this;
}

FixedText& FixedText::AddInt(int64_t v) {
    char b[24];
    const auto r = std::to_chars(b, b + sizeof b, v);
    return Add(std::string_view(b, static_cast<size_t>(r.ptr - b)));
}

FixedText& FixedText::AddInt(int64_t v, int width) {
    char b[24];
    const auto r = std::to_chars(b, b + sizeof b, v);
    for (int n = static_cast<int>(r.ptr - b); n < width; ++n) Add(' ');
    return Add(std::string_view(b, static_cast<size_t>(r.ptr - b)));
}

FixedText& FixedText::AddTwoDigits(int v) {
    if (v >= 0 && v < 10) Add('0');
    return AddInt(v);
}

FixedText& FixedText::AddDateTime(std::string_view pattern, TDateTime t) {
    m_len += FormatDateTime(m_buf + m_len, kCapacity - m_len, pattern, t, Locale().timeSeparator);
    return *this;
}

FixedText& FixedText::AddPoints(int64_t points) {
    // Below 10^15 points the double points / 100000 printed with five decimals is exactly the
    // integer's own decimal text, so it is written straight from the integer. Beyond that the
    // double's text is what "%2.5f" gives.
    constexpr int64_t kExact = 1000000000000000;
    const char sep = Locale().decimalSeparator;
    if (points > -kExact && points < kExact) {
        const bool neg = points < 0;
        const uint64_t a = neg ? static_cast<uint64_t>(-points) : static_cast<uint64_t>(points);
        if (neg) Add('-');
        AddInt(static_cast<int64_t>(a / 100000));
        Add(sep);
        char frac[5];
        uint64_t f = a % 100000;
        for (int k = 4; k >= 0; --k) {
            frac[k] = static_cast<char>('0' + f % 10);
            f /= 10;
        }
        return Add(std::string_view(frac, 5));
    }
    char b[64];
    const auto r =
        std::to_chars(b, b + sizeof b, static_cast<double>(points) / 100000.0, std::chars_format::fixed, 5);
    for (char* p = b; p != r.ptr; ++p)
        if (*p == '.') *p = sep;
    return Add(std::string_view(b, static_cast<size_t>(r.ptr - b)));
}

} // namespace quorvel
