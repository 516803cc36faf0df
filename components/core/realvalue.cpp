#include "components/core/realvalue.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <vector>

#include "platform/numbers.h"

namespace quorvel {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

void AppendUtf8(std::string& out, char32_t ch) {
    if (ch < 0x80) {
        out += static_cast<char>(ch);
    } else if (ch < 0x800) {
        out += static_cast<char>(0xC0 | (ch >> 6));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else if (ch < 0x10000) {
        out += static_cast<char>(0xE0 | (ch >> 12));
        out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (ch >> 18));
        out += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    }
}

} // namespace

std::optional<long double> RealEditConvert(std::string_view s, char separator) {
    const size_t n = s.size();
    size_t i = 0;
    while (i < n && s[i] == ' ') ++i;
    bool negative = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    const size_t intBegin = i;
    while (i < n && IsDigit(s[i])) ++i;
    const std::string_view intDigits = s.substr(intBegin, i - intBegin);
    bool haveSeparator = false;
    std::string_view fracDigits;
    if (i < n && s[i] == separator) {
        haveSeparator = true;
        const size_t fracBegin = ++i;
        while (i < n && IsDigit(s[i])) ++i;
        fracDigits = s.substr(fracBegin, i - fracBegin);
    }
    if (intDigits.empty() && !haveSeparator) return std::nullopt;
    bool expNegative = false;
    std::string_view expDigits;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) {
            expNegative = s[i] == '-';
            ++i;
        }
        const size_t expBegin = i;
        while (i < n && IsDigit(s[i])) ++i;
        expDigits = s.substr(expBegin, i - expBegin);
    }
    while (i < n && s[i] == ' ') ++i;
    if (i != n) return std::nullopt;

    // A plain form the standard conversion takes: int.frac e exp, with the missing parts as 0.
    std::string plain;
    plain.reserve(intDigits.size() + fracDigits.size() + expDigits.size() + 8);
    if (negative) plain += '-';
    plain += intDigits.empty() ? std::string_view("0") : intDigits;
    plain += '.';
    plain += fracDigits.empty() ? std::string_view("0") : fracDigits;
    plain += 'e';
    if (expNegative) plain += '-';
    plain += expDigits.empty() ? std::string_view("0") : expDigits;

    long double v = 0.0L;
    const auto res =
        std::from_chars(plain.data(), plain.data() + plain.size(), v, std::chars_format::general);
    if (res.ec == std::errc() && res.ptr == plain.data() + plain.size()) return v;
    if (res.ec != std::errc::result_out_of_range) return std::nullopt;

    // Out of range: too large does not convert, too small is 0. The decimal exponent of the
    // leading non-zero digit tells which.
    long long exp = 0;
    for (char c : expDigits) exp = std::min(exp * 10 + (c - '0'), 1000000000LL);
    if (expNegative) exp = -exp;
    long long lead = 0;
    const size_t nz = intDigits.find_first_not_of('0');
    if (nz != std::string_view::npos) {
        lead = static_cast<long long>(intDigits.size() - nz - 1);
    } else {
        const size_t fz = fracDigits.find_first_not_of('0');
        lead = fz == std::string_view::npos ? 0 : -static_cast<long long>(fz + 1);
    }
    if (lead + exp > 0) return std::nullopt;
    return negative ? -0.0L : 0.0L;
}

long double RealEditTextToExtended(const std::string& text, char separator) {
    const auto v = RealEditConvert(text, separator);
    return v ? *v : 0.0L;
}

long double RealEditTextToExtended(const std::string& text) {
    return RealEditTextToExtended(text, Locale().decimalSeparator);
}

double RealEditToDouble(long double value) {
    constexpr long double kMax = std::numeric_limits<double>::max();
    if (value > kMax) return std::numeric_limits<double>::max();
    if (value < -kMax) return -std::numeric_limits<double>::max();
    return static_cast<double>(value);
}

double RealEditTextToValue(const std::string& text, char separator) {
    return RealEditToDouble(RealEditTextToExtended(text, separator));
}

double RealEditTextToValue(const std::string& text) {
    return RealEditTextToValue(text, Locale().decimalSeparator);
}

std::string RealEditFormatStr(int precision) {
    return "%." + std::to_string(precision) + "f";
}

std::string RealEditValueToText(long double value, int precision, char separator) {
    const int decimals = std::clamp(precision, 0, 1000);
    // Most values fit a short buffer; the largest extended values have 4933 integer digits.
    std::string out;
    for (const size_t room : {static_cast<size_t>(decimals) + 64, static_cast<size_t>(decimals) + 5000}) {
        std::vector<char> buf(room);
        const auto res =
            std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, decimals);
        if (res.ec == std::errc()) {
            out.assign(buf.data(), res.ptr);
            break;
        }
    }
    if (out.empty()) out = "0";
    if (out.front() == '-' && out.find_first_not_of("0.", 1) == std::string::npos) // rounds to zero: no sign
        out.erase(0, 1);
    for (char& c : out)
        if (c == '.') c = separator;
    return out;
}

std::string RealEditValueToText(long double value, int precision) {
    return RealEditValueToText(value, precision, Locale().decimalSeparator);
}

char32_t RealEditFilterChar(const std::string& text, std::size_t insertPos, char32_t ch, char separator) {
    if (ch == U'.') ch = static_cast<unsigned char>(separator);
    if (ch == 8 || ch == 13) return ch;
    insertPos = std::min(insertPos, text.size());
    std::string candidate = text.substr(0, insertPos);
    AppendUtf8(candidate, ch);
    candidate.append(text, insertPos, std::string::npos);
    candidate += '0';
    return RealEditConvert(candidate, separator) ? ch : 0;
}

char32_t RealEditFilterChar(const std::string& text, std::size_t insertPos, char32_t ch) {
    return RealEditFilterChar(text, insertPos, ch, Locale().decimalSeparator);
}

} // namespace quorvel
