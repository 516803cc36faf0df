#include <gtest/gtest.h>

#include <optional>

#include "components/core/realvalue.h"
#include "localescope.h"
#include "platform/numbers.h"

using namespace quorvel;
using quorvel::test::LocaleScope;

namespace {

struct ConvertCase {
    const char* text;
    std::optional<double> value;
};

void ExpectConversions(char separator, std::initializer_list<ConvertCase> cases) {
    for (const ConvertCase& c : cases) {
        const auto v = RealEditConvert(c.text, separator);
        EXPECT_EQ(v.has_value(), c.value.has_value()) << '"' << c.text << '"';
        if (v && c.value) {
            EXPECT_DOUBLE_EQ(*v, *c.value) << '"' << c.text << '"';
        }
    }
}

} // namespace

TEST(RealEditConversion, AcceptsExactlyTheNumberSyntaxOfACommaLocale) {
    ExpectConversions(',', {
                               {"", std::nullopt},
                               {"   ", std::nullopt},
                               {"1", 1.0},
                               {"  1,5  ", 1.5},
                               {"+1", 1.0},
                               {"-0,00040", -0.0004},
                               {"-", std::nullopt},
                               {"+", std::nullopt},
                               {",", 0.0},
                               {"-,", 0.0},
                               {"1,", 1.0},
                               {",5", 0.5},
                               {"1e", 1.0},
                               {"1e+", 1.0},
                               {"1E-2", 0.01},
                               {"1,5e2", 150.0},
                               {",e5", 0.0},
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
                               {"1e999", std::nullopt}, // beyond a double
                               {"1e-999", 0.0},         // too small: zero
                               {"0,0e99999", 0.0},
                           });
}

TEST(RealEditConversion, FollowsAPointLocale) {
    ExpectConversions('.', {{"1.5", 1.5}, {"1,5", std::nullopt}, {".", 0.0}, {"-0.00018", -0.00018}});
}

TEST(RealEditConversion, ValueOfTextThatDoesNotConvertIsZero) {
    LocaleScope comma(',');
    EXPECT_EQ(RealEditTextToValue(""), 0.0);
    EXPECT_EQ(RealEditTextToValue("abc"), 0.0);
    EXPECT_EQ(RealEditTextToValue("-"), 0.0);
    EXPECT_EQ(RealEditTextToValue("2,25"), 2.25);
}

TEST(RealEditFormatting, FixedDecimalsWithTheSeparatorAndNoGrouping) {
    struct Case {
        double value;
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
         })
        EXPECT_EQ(RealEditValueToText(c.value, c.precision, c.separator), c.text)
            << c.value << " at " << c.precision;
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
             Case{"1,5", 3, U'E', U'E'},  Case{"1,5", 0, U' ', U' '}, // a blank in front
             Case{"1,5", 3, U' ', 0},                                 // a blank after it
             Case{"1,5", 1, U' ', 0},                                 //
             Case{"1,5", 3, 8, 8},                                    // backspace and Enter pass untested
             Case{"", 0, 8, 8},           Case{"x", 1, 13, 13},
             Case{"1", 1, 3, 0}, // copy, paste, cut, undo
             Case{"1", 1, 22, 0},         Case{"1", 1, 24, 0},
             Case{"1", 1, 26, 0},         Case{"1", 1, 9, 0},
             Case{"1", 1, 0, 0},          Case{"1", 1, U'ä', 0},
             Case{"1,00", 0, U'7', U'7'}, // all selected: tested as 71,000
             Case{"1,00", 0, U',', 0},    // tested as ,1,000
             Case{"12", 1, U'5', U'5'},   // in the middle
             Case{"1e30", 4, U'8', 0},    // 1e3080 is beyond a double
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
