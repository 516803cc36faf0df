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

// A reading of a clock that never steps, in days: it starts at the local time of its first
// reading and from then on only runs forward, at the rate of real time, whatever is done to
// the local time (a change to or from summer time, a correction). Pauses and windows are
// measured on it; what is stored and shown keeps the local time.
TDateTime MonotonicNow();

class IClock {
public:
    virtual ~IClock() = default;
    // The local time.
    virtual TDateTime Now() const = 0;
    // The monotonic reading (see MonotonicNow); only differences of two readings mean anything.
    virtual TDateTime Monotonic() const = 0;
};

class SystemClock final : public IClock {
public:
    TDateTime Now() const override { return NowLocal(); }
    TDateTime Monotonic() const override { return MonotonicNow(); }
};

// A clock that only moves when told to; used by tests and tools. Both readings start at
// `start`; time that passes moves both, a step of the local time moves only the local time.
class ManualClock final : public IClock {
public:
    explicit ManualClock(TDateTime start = 45000.5) : m_now(start) {}
    TDateTime Now() const override { return m_now; }
    TDateTime Monotonic() const override { return m_now + m_stepped; }
    // Time passes (or runs back) until the local time reads t.
    void Set(TDateTime t) { m_now = t; }
    void AdvanceSeconds(double s) { m_now += s / kSecondsPerDay; }
    // The local time is set forward (or back, for a negative s) by s seconds, while no time
    // passes: the monotonic reading stays where it is.
    void StepSeconds(double s) {
        m_now += s / kSecondsPerDay;
        m_stepped -= s / kSecondsPerDay;
    }

private:
    TDateTime m_now;
    TDateTime m_stepped = 0.0; // the monotonic reading minus the local time
};

} // namespace quorvel
