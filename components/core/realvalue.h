#pragma once
// Value semantics of the real-number edit box, shared by the widget, the desk core and the
// test doubles.
#include <string>

namespace quorvel {

// The box's text converted to its value (0 when it does not convert).
double RealEditTextToValue(const std::string& text);
// The text the box shows for a value at the given precision.
std::string RealEditValueToText(double value, int precision);

} // namespace quorvel
