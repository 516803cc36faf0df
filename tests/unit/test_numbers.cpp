#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <vector>

#include "platform/displayformat.h"
#include "platform/numbers.h"
#include "platform/timestamp.h"
#include "tests/support/localescope.h"

using namespace quorvel;
using quorvel::test::LocaleScope;

TEST(Numbers, RoundingGoesHalfToEven) {
    struct Case {
        double in;
        int32_t out;
    };
    for (const Case c : {Case{0.5, 0}, Case{1.5, 2}, Case{2.5, 2}, Case{-0.5, 0}, Case{-1.5, -2},
                         Case{2.4999, 2}, Case{2.5001, 3}, Case{123456.5, 123456}, Case{123457.5, 123458}})
        EXPECT_EQ(RoundToLink(c.in), c.out) << c.in;
    EXPECT_EQ(RoundToLink(4294967296.0 + 7), 7); // the low 32 bits
    EXPECT_EQ(RoundToLink(2147483648.0), INT32_MIN);
}

TEST(Numbers, PointsShowWithFiveDecimalsAndTheLocaleSeparator) {
    {
        LocaleScope comma(',');
        EXPECT_EQ(FormatPoints(12), "0,00012");
        EXPECT_EQ(FormatPoints(-18), "-0,00018");
        EXPECT_EQ(FormatPoints(123456), "1,23456");
        EXPECT_EQ(FormatPoints(-10000), "-0,10000");
    }
    LocaleScope point('.');
    EXPECT_EQ(FormatPoints(12), "0.00012");
}

TEST(Numbers, ParsingIsStrict) {
    EXPECT_EQ(ParseInt32(" 42 "), 42);
    EXPECT_EQ(ParseInt32("-7"), -7);
    EXPECT_FALSE(ParseInt32("4.2"));
    EXPECT_FALSE(ParseInt32("2147483648"));
    EXPECT_FALSE(ParseInt32(""));
    EXPECT_EQ(ParseDouble("-0,00018", ','), -0.00018);
    EXPECT_FALSE(ParseDouble("-0.00018", ','));
    EXPECT_EQ(ParseDouble("-0.00018", '.'), -0.00018);
    EXPECT_FALSE(ParseDouble("1,0", '.'));
}

TEST(TimeStamps, EncodeAndDecodeAgree) {
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0, 0), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(1900, 1, 1, 12, 0, 0, 0), 2.5);
    const double t = EncodeDateTime(2026, 12, 10, 23, 59, 59, 999);
    const DateTimeParts p = DecodeDateTime(t);
    EXPECT_EQ(p.year, 2026);
    EXPECT_EQ(p.month, 12);
    EXPECT_EQ(p.day, 10);
    EXPECT_EQ(p.hour, 23);
    EXPECT_EQ(p.minute, 59);
    EXPECT_EQ(p.second, 59);
    EXPECT_EQ(p.msec, 999);
}

// Every value decodes to a date of the years 1 to 9999 and a time of day; the ends of that range
// hold whatever lies beyond them, and a value that is no number is the zero date.
TEST(TimeStamps, DecodingIsDefinedForEveryValue) {
    struct Case {
        double value;
        DateTimeParts parts;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const DateTimeParts first{1, 1, 1, 0, 0, 0, 0}, last{9999, 12, 31, 23, 59, 59, 999},
        zero{1899, 12, 30, 0, 0, 0, 0};
    const Case cases[] = {
        {nan, zero},
        {-nan, zero},
        {inf, last},
        {-inf, first},
        {1e300, last},
        {-1e300, first},
        {9.3e18, last},
        {-9.3e18, first},
        {EncodeDateTime(9999, 12, 31, 23, 59, 59, 999), last},
        {EncodeDateTime(9999, 12, 31, 23, 59, 59, 999) + 1.0, last},
        {EncodeDateTime(1, 1, 1, 0, 0, 0, 0), first},
        {EncodeDateTime(1, 1, 1, 0, 0, 0, 0) - 0.5, first},
        {EncodeDateTime(1, 1, 1, 0, 0, 0, 1), {1, 1, 1, 0, 0, 0, 1}},
        {-0.25, {1899, 12, 29, 18, 0, 0, 0}},
        {0.0, zero},
    };
    for (const Case& c : cases) {
        const DateTimeParts p = DecodeDateTime(c.value);
        const auto t = [](const DateTimeParts& d) {
            return std::vector<int>{d.year, d.month, d.day, d.hour, d.minute, d.second, d.msec};
        };
        EXPECT_EQ(t(p), t(c.parts)) << c.value;
    }
}

// The clock reuses its zone conversion within a second and its stamp within a millisecond:
// every reading still lies between independent conversions taken just before and after it.
TEST(TimeStamps, TheLocalClockNeverLagsBehindTheSystemTime) {
    auto local = [] {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
        const std::time_t secs = static_cast<std::time_t>(ms / 1000);
        std::tm tm{};
        localtime_r(&secs, &tm);
        return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                              static_cast<int>(ms % 1000));
    };
    // Until the readings have crossed a second boundary (at most a little over a second).
    const TDateTime start = local();
    const double nextSecond = std::floor(start * 86400.0 + 1.0) / 86400.0;
    TDateTime last = 0.0;
    for (long i = 0; last < nextSecond + 0.002 / 86400.0 && i < 50000000; ++i) {
        const TDateTime before = local();
        const TDateTime now = NowLocal();
        const TDateTime after = local();
        ASSERT_LE(before, now) << i;
        ASSERT_LE(now, after) << i;
        ASSERT_LE(last, now) << i;
        last = now;
    }
    EXPECT_GT(last, nextSecond);
}
