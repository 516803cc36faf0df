#include "components/core/realvalue.h"

#include "platform/numbers.h"

namespace quorvel {

double RealEditTextToValue(const std::string& text) {
    const auto v = ParseDouble(text, Locale().decimalSeparator);
    return v ? *v : 0.0;
}

std::string RealEditValueToText(double value, int precision) {
    return FormatFixed(value, precision, Locale().decimalSeparator);
}

} // namespace quorvel
