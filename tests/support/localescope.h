#pragma once
// Sets the decimal and time separators for the life of the scope and puts back the ones
// that were in force before.
#include "platform/numbers.h"

namespace quorvel::test {

class LocaleScope {
public:
    explicit LocaleScope(char decimalSeparator, char timeSeparator = ':') : m_saved(Locale()) {
        SetLocale({decimalSeparator, timeSeparator});
    }
    ~LocaleScope() { SetLocale(m_saved); }
    LocaleScope(const LocaleScope&) = delete;
    LocaleScope& operator=(const LocaleScope&) = delete;

private:
    LocaleFormat m_saved;
};

} // namespace quorvel::test
