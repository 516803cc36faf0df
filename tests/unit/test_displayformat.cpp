#include <gtest/gtest.h>

#include "localescope.h"
#include "platform/ascii.h"
#include "platform/displayformat.h"
#include "platform/fixedtext.h"
#include "platform/numbers.h"

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
    EXPECT_EQ(FormatGeneral(-1.5e20), "-1,5e+20");
    LocaleScope dot('.');
    EXPECT_EQ(FormatNumber("0.0", 1.25), "1.2");
}

TEST(Ascii, CaseFoldTouchesOnlyAsciiLetters) {
    EXPECT_EQ(AsciiLower("OrderID_Ä9"), "orderid_Ä9");
    EXPECT_TRUE(AsciiSameText("DATAPACKET", "datapacket"));
    EXPECT_TRUE(AsciiSameText("", ""));
    EXPECT_FALSE(AsciiSameText("ROW", "ROWS"));
    EXPECT_FALSE(AsciiSameText("[", "{")); // 0x5B and 0x7B differ by the case bit only
    EXPECT_FALSE(AsciiSameText("\xC4", "\xE4"));
}
