#include <gtest/gtest.h>

#include "desk/core/ordergrid.h"
#include "tests/support/localescope.h"

using namespace quorvel;

TEST(OrderGrid, SumLabelsShowTheSumsWithTheLocalesSeparatorAndTheirColours) {
    test::LocaleScope comma(',');
    struct Case {
        Variant sum;
        const char* profit;
        const char* pips;
        const char* lots;
        unsigned profitColour;
    };
    const Case cases[] = {
        {Variant(), "P/L: 0,00", "P/L Pips: 0,00000", "Lots: 0,00", clRed}, // nothing to sum
        {Variant(0.0), "P/L: 0,00", "P/L Pips: 0,00000", "Lots: 0,00", clBlack},
        {Variant(-12.5), "P/L: -12,50", "P/L Pips: -12,50000", "Lots: -12,50", clRed},
        {Variant(1.2), "P/L: 1,20", "P/L Pips: 1,20000", "Lots: 1,20", clGreen},
        {Variant(0.000004), "P/L: 0,00", "P/L Pips: 0,00000", "Lots: 0,00", clGreen},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profit);
        EXPECT_EQ(ProfitSumText(c.sum).text, c.profit);
        EXPECT_EQ(ProfitSumText(c.sum).colour, c.profitColour);
        EXPECT_EQ(ProfitPipsSumText(c.sum).text, c.pips);
        EXPECT_EQ(ProfitPipsSumText(c.sum).colour, c.profitColour);
        EXPECT_EQ(LotsSumText(c.sum).text, c.lots);
        EXPECT_EQ(LotsSumText(c.sum).colour, clBlack);
    }
    test::LocaleScope dot('.');
    EXPECT_EQ(ProfitSumText(Variant(-12.5)).text, "P/L: -12.50");
}

TEST(OrderGrid, PairsOfRecordsAreBandedEverySecondTransaction) {
    std::vector<int> banded;
    for (int n = 0; n <= 10; ++n)
        if (OrderGridBanded(n)) banded.push_back(n);
    EXPECT_EQ(banded, (std::vector<int>{3, 4, 7, 8}));
}

TEST(OrderGrid, ProfitCellsAreRedOrGreenAndOrderNumbersBlue) {
    ClientDataSet ds("ds");
    ds.CreateDataSet({{"Gewinn", FieldType::Currency},
                      {"GewinnPips", FieldType::Currency},
                      {"Lots", FieldType::Float},
                      {"Ticket", FieldType::Integer},
                      {"Kurs", FieldType::Currency}});
    struct Case {
        const char* field;
        Variant value;
        std::optional<unsigned> colour;
    };
    const Case cases[] = {
        {"Gewinn", Variant(-12.5), clRed},       {"Gewinn", Variant(3.0), clGreen},
        {"Gewinn", Variant(0.0), std::nullopt},  {"Gewinn", Variant(), std::nullopt},
        {"GewinnPips", Variant(-0.0001), clRed}, {"GewinnPips", Variant(), std::nullopt},
        {"Lots", Variant(-1.0), std::nullopt},   {"Kurs", Variant(-1.0), std::nullopt},
        {"Ticket", Variant(), clBlue},           {"Ticket", Variant(int32_t{4711}), clBlue},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " " + c.value.AsString());
        ds.Append();
        ds.FieldByName(c.field).SetValue(c.value);
        ds.Post();
        EXPECT_EQ(OrderGridFontColour(ds.FieldByName(c.field)), c.colour);
    }
}
