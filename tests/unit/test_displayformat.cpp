#include <gtest/gtest.h>

#include <limits>

#include "platform/ascii.h"
#include "platform/displayformat.h"
#include "platform/fixedtext.h"
#include "platform/numbers.h"
#include "tests/support/localescope.h"

using namespace quorvel;

using quorvel::test::LocaleScope;

TEST(DisplayFormat, DateTimePatternsGiveTheirFields) {
    const TDateTime t = EncodeDateTime(2024, 3, 7, 9, 5, 4, 12);
    struct Case {
        const char* pattern;
        char sep;
        const char* text;
    };
    const Case cases[] = {
        {"hh:nn:ss", ':', "09:05:04"},
        {"hh:nn:ss,zzz", '.', "09.05.04,012"},
        {"dd.mm. hh:nn:ss,zzz: ", ':', "07.03. 09:05:04,012: "},
        {"dd/mm/yyyy hh:nn:ss", ':', "07.03.2024 09:05:04"},
        {"d.m.yy h:n:s z", ':', "7.3.24 9:5:4 12"},
        {"HH:NN DD.MM.YYYY", ':', "09:05 07.03.2024"},
        {"'hh' \"at\" hh", ':', "hh at 09"},
        {"'open", ':', "open"},
        {"", ':', ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatDateTime(c.pattern, t, c.sep), c.text) << c.pattern;
        LocaleScope locale(',', c.sep);
        EXPECT_EQ(FormatDateTime(c.pattern, t), c.text) << c.pattern;
    }
}

TEST(DisplayFormat, DateTimeWritesOnlyWhatFitsTheBuffer) {
    const TDateTime t = EncodeDateTime(2024, 12, 31, 23, 59, 58, 999);
    char buf[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(FormatDateTime(buf, 5, "hh:nn:ss", t, ':'), 5u);
    EXPECT_EQ(std::string(buf, 6), "23:59x");

    LocaleScope locale(',', '-');
    FixedText text;
    text.Add("at ").AddDateTime("hh:nn:ss,zzz", t);
    EXPECT_EQ(text.View(), "at 23-59-58,999");
    for (int i = 0; i < 30; ++i) text.AddDateTime("dd.mm.yyyy", t);
    EXPECT_EQ(text.Size(), FixedText::kCapacity);
}

TEST(DisplayFormat, NumbersFollowThePatternsDecimalsAndTheLocale) {
    LocaleScope locale(',');
    EXPECT_EQ(FormatNumber("0.00000", 0.0002), "0,00020");
    EXPECT_EQ(FormatNumber("0.00", -12.5), "-12,50");
    EXPECT_EQ(FormatNumber("#.##", 2.375), "2,38");
    EXPECT_EQ(FormatNumber("0", 2.5), "2"); // half to even
    EXPECT_EQ(FormatGeneral(0.1 + 0.2), "0,3");
    EXPECT_EQ(FormatGeneral(-1.5e20), "-1,5E20");
    LocaleScope dot('.');
    EXPECT_EQ(FormatNumber("0.0", 1.25), "1.2");
}

TEST(DisplayFormat, GeneralTextOfARealHasOneRule) {
    constexpr bool kRounded = false; // the text holds the value rounded to 15 digits
    struct Case {
        double value;
        const char* text;  // with a decimal comma
        bool exact = true; // the text reads back as the value
    };
    const Case cases[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {1.0, "1"},
        {-12.5, "-12,5"},
        {0.0002, "0,0002"},
        {0.00002, "0,00002"}, // a spread of two points
        {0.00001, "0,00001"}, // the smallest fixed magnitude
        {-0.00009, "-0,00009"},
        {0.000009999999999999999, "0,00001", kRounded}, // rounds up into the fixed range
        {0.0000099999999999999, "9,9999999999999E-6"},  // 14 digits: stays below it
        {0.000001, "1E-6"},
        {-2.5e-7, "-2,5E-7"},
        {1.23456789012345e-10, "1,23456789012345E-10"},
        {5e-324, "5E-324"}, // the shortest text that reads back
        {1.08123, "1,08123"},
        {0.1 + 0.2, "0,3", kRounded},             // 17 digits rounded to 15
        {1.0 / 3, "0,333333333333333", kRounded}, // 15 digits at most
        {2.0 / 3, "0,666666666666667", kRounded}, // rounded, not cut
        {123456.789, "123456,789"},
        {100.0, "100"},
        {1e14, "100000000000000"},
        {999999999999999.0, "999999999999999"}, // the largest fixed magnitude
        {999999999999999.9, "1E15", kRounded},  // rounds out of the fixed range
        {1e15, "1E15"},
        {-1.5e20, "-1,5E20"},
        {123456789012345678.0, "1,23456789012346E17", kRounded},
        {1.7976931348623157e308, "1,79769313486232E308", kRounded},
        {std::numeric_limits<double>::quiet_NaN(), "NAN", kRounded},
        {std::numeric_limits<double>::infinity(), "INF", kRounded},
        {-std::numeric_limits<double>::infinity(), "-INF", kRounded},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatGeneral(c.value, ','), c.text) << c.value;
        std::string point = c.text;
        for (char& ch : point)
            if (ch == ',') ch = '.';
        EXPECT_EQ(FormatGeneral(c.value, '.'), point) << c.value;
        if (c.exact) {
            EXPECT_EQ(ParseDouble(c.text, ','), c.value) << c.text;
        }
    }
}

TEST(Ascii, CaseFoldTouchesOnlyAsciiLetters) {
    EXPECT_EQ(AsciiLower("OrderID_Ä9"), "orderid_Ä9");
    EXPECT_TRUE(AsciiSameText("DATAPACKET", "datapacket"));
    EXPECT_TRUE(AsciiSameText("", ""));
    EXPECT_FALSE(AsciiSameText("ROW", "ROWS"));
    EXPECT_FALSE(AsciiSameText("[", "{")); // 0x5B and 0x7B differ by the case bit only
    EXPECT_FALSE(AsciiSameText("\xC4", "\xE4"));
}
