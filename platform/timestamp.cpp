#include "platform/timestamp.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace quorvel {

namespace {
// Days from 1899-12-30 to 1970-01-01.
constexpr int64_t kUnixEpochDays = 25569;

// Days since 1970-01-01 for a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}
} // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
    const int64_t days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kUnixEpochDays;
    const double frac = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / 86400000.0;
    return static_cast<double>(days) + frac;
}

DateTimeParts DecodeDateTime(TDateTime value) {
    // Work in whole milliseconds so that rounding never shows 60 seconds. Values outside the
    // years 1 to 9999 take the nearest end of that range, and a value that is no number the
    // zero date, so that every part stays a date and a time of day.
    constexpr int64_t kFirstMs = (-693593LL) * 86400000;  // 0001-01-01 00:00:00.000
    constexpr int64_t kLastMs = 2958466LL * 86400000 - 1; // 9999-12-31 23:59:59.999
    const double totalMs = std::round(value * 86400000.0);
    int64_t ms = 0;
    if (totalMs <= static_cast<double>(kFirstMs))
        ms = kFirstMs;
    else if (totalMs >= static_cast<double>(kLastMs))
        ms = kLastMs;
    else if (totalMs == totalMs)
        ms = static_cast<int64_t>(totalMs);
    const int64_t days = ms >= 0 ? ms / 86400000 : -((-ms + 86400000 - 1) / 86400000);
    const int64_t dayMs = ms - days * 86400000;
    DateTimeParts p{};
    CivilFromDays(days - kUnixEpochDays, p.year, p.month, p.day);
    p.hour = static_cast<int>(dayMs / 3600000);
    p.minute = static_cast<int>(dayMs / 60000 % 60);
    p.second = static_cast<int>(dayMs / 1000 % 60);
    p.msec = static_cast<int>(dayMs % 1000);
    return p;
}

TDateTime NowLocal() {
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    // Readings within one millisecond give the same stamp, and the zone conversion runs once
    // a second: the engine reads the clock once per candidate EA of every waiting leg.
    thread_local long long lastMs = -1;
    thread_local TDateTime lastStamp = 0.0;
    if (ms == lastMs) return lastStamp;
    const std::time_t secs = static_cast<std::time_t>(ms / 1000);
    thread_local std::time_t lastSecs = -1;
    thread_local std::tm local{};
    if (secs != lastSecs) {
        localtime_r(&secs, &local);
        lastSecs = secs;
    }
    lastStamp = EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                               local.tm_min, local.tm_sec, static_cast<int>(ms % 1000));
    lastMs = ms;
    return lastStamp;
}

TDateTime MonotonicNow() {
    using std::chrono::steady_clock;
    struct Origin {
        steady_clock::time_point steady = steady_clock::now();
        TDateTime local = NowLocal();
    };
    static const Origin origin;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(steady_clock::now() - origin.steady).count();
    return origin.local + static_cast<double>(ms) / 86400000.0;
}

} // namespace quorvel
