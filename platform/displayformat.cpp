#include "platform/displayformat.h"

#include <charconv>
#include <limits>

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

size_t FormatGeneral(char* out, double v, char separator) {
    auto put = [out](std::string_view t) {
        for (size_t k = 0; k < t.size(); ++k) out[k] = t[k];
        return t.size();
    };
    if (v != v) return put("NAN");
    if (v == std::numeric_limits<double>::infinity()) return put("INF");
    if (v == -std::numeric_limits<double>::infinity()) return put("-INF");
    if (v == 0) return put("0");

    // The significant digits and the decimal exponent of the first one. The shortest text that
    // reads back exactly is taken when it has at most 15 digits (a value written with 15 digits
    // or fewer always reads back to the same 15 digits); otherwise the value rounded to 15.
    char sci[40];
    auto res = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific);
    const auto digitCount = [&] {
        int n = 0;
        for (const char* q = sci; q != res.ptr && *q != 'e'; ++q) n += *q >= '0' && *q <= '9';
        return n;
    };
    if (digitCount() > 15) res = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific, 14);
    char digits[20];
    int nd = 0;
    const char* q = sci;
    const bool negative = *q == '-';
    if (negative) ++q;
    for (; *q != 'e'; ++q)
        if (*q >= '0' && *q <= '9') digits[nd++] = *q;
    int exponent = 0;
    std::from_chars(q + 1 + (q[1] == '+'), res.ptr, exponent);
    while (nd > 1 && digits[nd - 1] == '0') --nd;

    size_t len = 0;
    if (negative) out[len++] = '-';
    if (exponent >= -5 && exponent < 15) {
        if (exponent >= 0) {
            const int whole = exponent + 1;
            for (int k = 0; k < whole; ++k) out[len++] = k < nd ? digits[k] : '0';
            if (nd > whole) {
                out[len++] = separator;
                for (int k = whole; k < nd; ++k) out[len++] = digits[k];
            }
        } else {
            out[len++] = '0';
            out[len++] = separator;
            for (int k = 1; k < -exponent; ++k) out[len++] = '0';
            for (int k = 0; k < nd; ++k) out[len++] = digits[k];
        }
        return len;
    }
    out[len++] = digits[0];
    if (nd > 1) {
        out[len++] = separator;
        for (int k = 1; k < nd; ++k) out[len++] = digits[k];
    }
    out[len++] = 'E';
    len += static_cast<size_t>(std::to_chars(out + len, out + kGeneralCapacity, exponent).ptr - (out + len));
    return len;
}

std::string FormatGeneral(double v, char separator) {
    char buf[kGeneralCapacity];
    return std::string(buf, FormatGeneral(buf, v, separator));
}

std::string FormatGeneral(double v) {
    return FormatGeneral(v, Locale().decimalSeparator);
}

} // namespace quorvel
