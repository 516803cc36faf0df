#include "platform/displayformat.h"

#include <charconv>

#include "platform/ascii.h"
#include "platform/numbers.h"

namespace quorvel {

namespace {

// Appends to a bounded buffer; what does not fit is dropped.
struct Out {
    char* p;
    size_t cap;
    size_t len = 0;
    void Put(char c) {
        if (len < cap) p[len++] = c;
    }
    // v with at least `width` digits, zeros in front.
    void Num(int v, int width) {
        char b[16];
        const auto r = std::to_chars(b, b + sizeof b, v);
        for (int n = static_cast<int>(r.ptr - b); n < width; ++n) Put('0');
        for (const char* q = b; q != r.ptr; ++q) Put(*q);
    }
};

} // namespace

size_t FormatDateTime(char* buf, size_t capacity, std::string_view fmt, TDateTime t, char timeSeparator) {
    const DateTimeParts p = DecodeDateTime(t);
    Out out{buf, capacity};
    const size_t n = fmt.size();
    for (size_t i = 0; i < n;) {
        const char c = fmt[i];
        const char lc = AsciiLower(c);
        size_t len = 1;
        auto run = [&] {
            size_t k = i;
            while (k < n && AsciiLower(fmt[k]) == lc) ++k;
            return k - i;
        };
        switch (lc) {
        case 'h':
            len = run();
            out.Num(p.hour, len >= 2 ? 2 : 1);
            break;
        case 'n':
            len = run();
            out.Num(p.minute, len >= 2 ? 2 : 1);
            break;
        case 's':
            len = run();
            out.Num(p.second, len >= 2 ? 2 : 1);
            break;
        case 'z':
            len = run();
            out.Num(p.msec, len >= 3 ? 3 : 1);
            break;
        case 'd':
            len = run();
            out.Num(p.day, len >= 2 ? 2 : 1);
            break;
        case 'm':
            len = run();
            out.Num(p.month, len >= 2 ? 2 : 1);
            break;
        case 'y':
            len = run();
            if (len <= 2)
                out.Num(p.year % 100, 2);
            else
                out.Num(p.year, 4);
            break;
        case ':':
            out.Put(timeSeparator);
            break;
        case '/':
            out.Put('.');
            break;
        case '\'':
        case '"': {
            size_t k = i + 1;
            while (k < n && fmt[k] != c) out.Put(fmt[k++]);
            len = k - i + (k < n ? 1 : 0);
            break;
        }
        default:
            out.Put(c);
            break;
        }
        i += len;
    }
    return out.len;
}

std::string FormatDateTime(std::string_view pattern, TDateTime t, char timeSeparator) {
    // Every pattern letter gives at most four characters.
    std::string s(pattern.size() * 4, '\0');
    s.resize(FormatDateTime(s.data(), s.size(), pattern, t, timeSeparator));
    return s;
}

std::string FormatDateTime(std::string_view pattern, TDateTime t) {
    return FormatDateTime(pattern, t, Locale().timeSeparator);
}

std::string FormatFixed(double value, int decimals, char separator, int minWidth) {
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    std::string out = res.ec == std::errc() ? std::string(buf, res.ptr) : std::string("0");
    for (char& c : out)
        if (c == '.') c = separator;
    if (static_cast<int>(out.size()) < minWidth)
        out.insert(0, static_cast<size_t>(minWidth) - out.size(), ' ');
    return out;
}

std::string FormatFixed(double value, int decimals) {
    return FormatFixed(value, decimals, Locale().decimalSeparator);
}

std::string FormatPoints(int64_t points) {
    return FormatFixed(static_cast<double>(points) / 100000.0, 5, Locale().decimalSeparator, 2);
}

std::string FormatNumber(std::string_view fmt, double v) {
    const auto dot = fmt.find('.');
    int decimals = 0;
    if (dot != std::string_view::npos)
        for (size_t k = dot + 1; k < fmt.size() && (fmt[k] == '0' || fmt[k] == '#'); ++k) ++decimals;
    return FormatFixed(v, decimals, Locale().decimalSeparator);
}

std::string FormatGeneral(double v) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
    std::string s(buf, res.ptr);
    for (char& c : s)
        if (c == '.') c = Locale().decimalSeparator;
    return s;
}

} // namespace quorvel
