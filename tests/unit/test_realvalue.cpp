#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "components/core/realvalue.h"
#include "platform/numbers.h"
#include "tests/support/localescope.h"

using namespace quorvel;
using quorvel::test::LocaleScope;

namespace {

struct ConvertCase {
    const char* text;
    std::optional<long double> value;
};

void ExpectConversions(char separator, std::initializer_list<ConvertCase> cases) {
    for (const ConvertCase& c : cases) {
        const auto v = RealEditConvert(c.text, separator);
        EXPECT_EQ(v.has_value(), c.value.has_value()) << '"' << c.text << '"';
        if (v && c.value) {
            EXPECT_EQ(*v, *c.value) << '"' << c.text << '"';
        }
    }
}

} // namespace

TEST(RealEditConversion, AcceptsExactlyTheNumberSyntaxOfACommaLocale) {
    ExpectConversions(',', {
                               {"", std::nullopt},
                               {"   ", std::nullopt},
                               {"1", 1.0L},
                               {"  1,5  ", 1.5L},
                               {"+1", 1.0L},
                               {"-0,00040", -0.0004L},
                               {"-", std::nullopt},
                               {"+", std::nullopt},
                               {",", 0.0L},
                               {"-,", 0.0L},
                               {"1,", 1.0L},
                               {",5", 0.5L},
                               {"1e", 1.0L},
                               {"1e+", 1.0L},
                               {"1E-2", 0.01L},
                               {"1,5e2", 150.0L},
                               {",e5", 0.0L},
                               {"e5", std::nullopt},
                               {"1.5", std::nullopt},     // the point is no separator here
                               {"1.000,5", std::nullopt}, // no thousands separators
                               {"1 5", std::nullopt},
                               {"1,5 0", std::nullopt},
                               {"1,5,0", std::nullopt},
                               {"--1", std::nullopt},
                               {"1-", std::nullopt},
                               {"1e5e", std::nullopt},
                               {"0x10", std::nullopt},
                               {"inf", std::nullopt},
                               {"nan", std::nullopt},
                               {"1e310", 1e310L},   // beyond a double, within the extended range
                               {"-1e999", -1e999L}, //
                               {"1,1e4932", 1.1e4932L},
                               {"1,2e4932", std::nullopt}, // beyond the extended range
                               {"1e4933", std::nullopt},   //
                               {"1e-999", 1e-999L},        // too small for a double
                               {"1e-4999", 0.0L},          // too small even for extended: zero
                               {"-1e-4999", 0.0L},         //
                               {"0,0e99999", 0.0L},
                           });
}

TEST(RealEditConversion, FollowsAPointLocale) {
    ExpectConversions('.', {{"1.5", 1.5L}, {"1,5", std::nullopt}, {".", 0.0L}, {"-0.00018", -0.00018L}});
}

TEST(RealEditConversion, ValueOfTextThatDoesNotConvertIsZero) {
    LocaleScope comma(',');
    EXPECT_EQ(RealEditTextToValue(""), 0.0);
    EXPECT_EQ(RealEditTextToValue("abc"), 0.0);
    EXPECT_EQ(RealEditTextToValue("-"), 0.0);
    EXPECT_EQ(RealEditTextToValue("2,25"), 2.25);
    EXPECT_EQ(RealEditTextToExtended("abc"), 0.0L);
    EXPECT_EQ(RealEditTextToExtended("0,1"), 0.1L);
}

TEST(RealEditConversion, CallersThatKeepDoublesGetTheNearestDouble) {
    struct Case {
        const char* text;
        double value;
    };
    for (const Case& c : {
             Case{"0,1", 0.1},
             Case{"-0,00040", -0.0004},
             Case{"1e308", 1e308},
             Case{"1e310", std::numeric_limits<double>::max()}, // beyond a double: the largest of its sign
             Case{"-1e999", -std::numeric_limits<double>::max()},
             Case{"1e-999", 0.0},
             Case{"x", 0.0},
         })
        EXPECT_EQ(RealEditTextToValue(c.text, ','), c.value) << c.text;
}

TEST(RealEditFormatting, FixedDecimalsWithTheSeparatorAndNoGrouping) {
    struct Case {
        long double value;
        int precision;
        char separator;
        const char* text;
    };
    for (const Case& c : {
             Case{1234567.5, 2, ',', "1234567,50"},
             Case{-0.0004, 5, ',', "-0,00040"},
             Case{0.1, 1, ',', "0,1"},
             Case{0.0, 5, ',', "0,00000"},
             Case{1.25, 5, ',', "1,25000"},
             Case{0.003, 4, ',', "0,0030"},
             Case{1.0, 2, ',', "1,00"},
             Case{-0.000001, 5, ',', "0,00000"}, // rounds to zero: no "-0,00000"
             Case{-0.0, 2, ',', "0,00"},
             Case{0.125, 2, '.', "0.12"},
             Case{1234567.5, 2, '.', "1234567.50"},
             Case{7.0, 0, ',', "7"},
             Case{7.0, -1, ',', "7"},
             Case{1e20L, 2, ',', "100000000000000000000,00"},
             Case{0.1L, 20, ',', "0,10000000000000000000"}, // a double would show 0,10000000000000000555
             Case{-1.25e-28L, 30, ',', "-0,000000000000000000000000000125"},
         })
        EXPECT_EQ(RealEditValueToText(c.value, c.precision, c.separator), c.text)
            << c.value << " at " << c.precision;
    // The largest values come out with all their digits and read back as the same value.
    for (long double v : {1e310L, -1.1e4932L, std::numeric_limits<long double>::max()}) {
        const std::string text = RealEditValueToText(v, 2, ',');
        EXPECT_EQ(RealEditConvert(text, ','), v) << text.substr(0, 30);
        EXPECT_EQ(text.substr(text.size() - 3), ",00");
    }
    EXPECT_EQ(RealEditValueToText(1e310L, 2, ',').size(), 311u + 3u);
    EXPECT_EQ(RealEditFormatStr(5), "%.5f");
    EXPECT_EQ(RealEditFormatStr(1), "%.1f");
}

TEST(RealEditFilter, PassesACharacterExactlyWhenTheCandidateConverts) {
    struct Case {
        const char* text;
        size_t pos;
        char32_t typed;
        char32_t passed; // 0: dropped
    };
    for (const Case& c : {
             Case{"1", 1, U'.', U','},   // a typed point becomes the separator
             Case{"1", 1, U',', U','},   //
             Case{"", 0, U',', U','},    // ",0"
             Case{"", 0, U'-', U'-'},    // "-0"
             Case{"1", 0, U'-', U'-'},   // a sign in front
             Case{"1,5", 0, U'+', U'+'}, //
             Case{"1", 1, U'-', 0},      // a sign elsewhere
             Case{"1", 1, U'e', U'e'},   // "1e0"
             Case{"1,", 2, U'E', U'E'},  //
             Case{"1e", 2, U'-', U'-'},  // a sign right after the exponent letter
             Case{"1e", 2, U'5', U'5'},  //
             Case{"1e5", 3, U'e', 0},    // a second exponent
             Case{"", 0, U'e', 0},       // an exponent without digits before it
             Case{"1,5", 3, U',', 0},    // a second comma
             Case{"1,5", 3, U'.', 0},    // a second comma, typed as a point
             Case{"1,5", 3, U'x', 0},    // a letter
             Case{"1,5", 3, U'E', U'E'},
             Case{"1,5", 0, U' ', U' '}, // a blank in front
             Case{"1,5", 3, U' ', 0},    // a blank after it
             Case{"1,5", 1, U' ', 0},    //
             Case{"1,5", 3, 8, 8},       // backspace and Enter pass untested
             Case{"", 0, 8, 8},
             Case{"x", 1, 13, 13},
             Case{"1", 1, 3, 0}, // copy, paste, cut, undo
             Case{"1", 1, 22, 0},
             Case{"1", 1, 24, 0},
             Case{"1", 1, 26, 0},
             Case{"1", 1, 9, 0},
             Case{"1", 1, 0, 0},
             Case{"1", 1, U'ä', 0},
             Case{"1,00", 0, U'7', U'7'},  // all selected: tested as 71,000
             Case{"1,00", 0, U',', 0},     // tested as ,1,000
             Case{"12", 1, U'5', U'5'},    // in the middle
             Case{"1e30", 4, U'8', U'8'},  // 1e3080 is beyond a double, not beyond extended
             Case{"1e3", 3, U'1', U'1'},   // 1e310: "1e3", then "10" gives "1e310"
             Case{"1e31", 4, U'0', U'0'},  //
             Case{"-1e3", 4, U'9', U'9'},  //
             Case{"1e-3", 4, U'9', U'9'},  //
             Case{"1e49", 4, U'3', U'3'},  // 1e4930: near the top of the extended range
             Case{"1e49", 4, U'4', 0},     // 1e4940 is beyond it
             Case{"1e493", 5, U'1', 0},    // 1e49310
             Case{"1e-49", 5, U'9', U'9'}, // 1e-4990 is too small even for extended: zero, a number
         })
        EXPECT_EQ(RealEditFilterChar(c.text, c.pos, c.typed, ','), c.passed)
            << '"' << c.text << "\" at " << c.pos << " typed " << static_cast<uint32_t>(c.typed);
}

TEST(RealEditFilter, ATypedPointBecomesTheLocaleSeparator) {
    // On a point locale the point is the separator and stays one; a comma is no separator there.
    EXPECT_EQ(RealEditFilterChar("1", 1, U'.', '.'), U'.');
    EXPECT_EQ(RealEditFilterChar("1", 1, U',', '.'), 0u);
    EXPECT_EQ(RealEditFilterChar("1.5", 3, U'.', '.'), 0u);
    // The locale in force is used when none is given.
    {
        LocaleScope point('.');
        EXPECT_EQ(RealEditFilterChar("1", 1, U'.'), U'.');
    }
    LocaleScope comma(',');
    EXPECT_EQ(RealEditFilterChar("1", 1, U'.'), U',');
}
