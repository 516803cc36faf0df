#pragma once
// The value of a spin edit as its text gives it: the text read as an integer, the lower limit
// for text that is not one; a value written is clamped into the range unless the lower limit
// equals the upper. Shared by the spin edit widget and the controls the desk core reads.
#include <cstdint>
#include <string>

namespace quorvel {

// Range of a spin edit: reading text that is not an integer gives `min`; writing clamps into
// [min, max] when min differs from max.
struct SpinRange {
    int32_t min = 0;
    int32_t max = 0;
};

int32_t SpinTextToValue(const std::string& text, SpinRange range);
int32_t SpinClamp(int32_t value, SpinRange range);

} // namespace quorvel
