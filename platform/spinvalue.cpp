#include "platform/spinvalue.h"

#include "platform/numbers.h"

namespace quorvel {

int32_t SpinTextToValue(const std::string& text, SpinRange range) {
    const auto v = ParseInt32(text);
    return v ? *v : range.min;
}

int32_t SpinClamp(int32_t value, SpinRange range) {
    if (range.min == range.max) return value;
    if (value < range.min) return range.min;
    if (value > range.max) return range.max;
    return value;
}

} // namespace quorvel
