#include <gtest/gtest.h>

#include "localescope.h"
#include "platform/numbers.h"
#include "platform/timestamp.h"

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
