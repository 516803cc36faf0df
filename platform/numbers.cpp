#include "platform/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace quorvel {

namespace {
LocaleFormat g_locale;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}
} // namespace

const LocaleFormat& Locale() {
    return g_locale;
}
void SetLocale(const LocaleFormat& format) {
    g_locale = format;
}

double RoundHalfEven(double value) {
    return std::nearbyint(value);
}

int64_t RoundToInt64(double value) {
    const double r = RoundHalfEven(value);
    if (!(r == r)) return 0;
    if (r >= 9.2233720368547758e18) return INT64_MAX;
    if (r <= -9.2233720368547758e18) return INT64_MIN;
    return static_cast<int64_t>(r);
}

int32_t RoundToLink(double value) {
    const double r = RoundHalfEven(value);
    if (!(r == r) || std::fabs(r) >= 9.2233720368547758e18) return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(r))));
}

std::optional<int32_t> ParseInt32(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    int32_t v = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), v, 10);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size()) return std::nullopt;
    return v;
}

std::optional<double> ParseDouble(std::string_view text, char separator) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::string s(text);
    for (char& c : s) {
        if (c == separator)
            c = '.';
        else if (c == '.' && separator != '.')
            return std::nullopt;
    }
    double v = 0;
    auto res = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return std::nullopt;
    return v;
}

} // namespace quorvel
