#pragma once
// Local date-time as days since 1899-12-30 with the time of day as fraction, and the clock the
// desk reads it from.
#include <cstdint>

namespace quorvel {

using TDateTime = double;

constexpr double kSecondsPerDay = 86400.0;

// Current local time as a TDateTime (millisecond resolution).
TDateTime NowLocal();

// Converts a broken-down local time to a TDateTime.
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec);

struct DateTimeParts {
    int year, month, day, hour, minute, second, msec;
};
// Values before 0001-01-01 or after 9999-12-31 23:59:59.999 give that end of the range; a value
// that is no number gives 1899-12-30 00:00:00.000.
DateTimeParts DecodeDateTime(TDateTime value);

class IClock {
public:
    virtual ~IClock() = default;
    virtual TDateTime Now() const = 0;
};

class SystemClock final : public IClock {
public:
    TDateTime Now() const override { return NowLocal(); }
};

// A clock that only moves when told to; used by tests and tools.
class ManualClock final : public IClock {
public:
    explicit ManualClock(TDateTime start = 45000.5) : m_now(start) {}
    TDateTime Now() const override { return m_now; }
    void Set(TDateTime t) { m_now = t; }
    void AdvanceSeconds(double s) { m_now += s / kSecondsPerDay; }

private:
    TDateTime m_now;
};

} // namespace quorvel
