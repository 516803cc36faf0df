// Helpers shared by the opening and the closing: the price trend between two EAs and the
// delay of a waiting leg.
#include <gtest/gtest.h>

#include "deskharness.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

struct EngineHelpers : DeskHarness {
    void SetUp() override {
        Create(1, 4);
        controls.text[Ctl::rePRIDynamic] = "0,0010";
    }
};

TEST_F(EngineHelpers, TrendFollowsTheMidPriceFromTheOlderToTheNewerQuote) {
    const TDateTime t0 = EncodeDateTime(2026, 12, 10, 10, 0, 0, 100);
    const TDateTime t1 = EncodeDateTime(2026, 12, 10, 10, 0, 0, 300);
    struct Case {
        int64_t bid1, ask1;
        TDateTime time1;
        int64_t bid2, ask2;
        TDateTime time2;
        const char* pri;
        int trend;
    };
    const Case cases[] = {
        // EA 2 newer and 0.00030 higher, tolerance 0.000012: rising
        {120000, 120010, t0, 120030, 120040, t1, "0,0010", 1},
        // the same move the other way: falling
        {120030, 120040, t0, 120000, 120010, t1, "0,0010", -1},
        // EA 1 newer: the move is read from EA 2 to EA 1
        {120000, 120010, t1, 120030, 120040, t0, "0,0010", -1},
        // equal times: the second EA counts as newer
        {120000, 120010, t0, 120030, 120040, t0, "0,0010", 1},
        // a move within the tolerance is neutral
        {120000, 120010, t0, 120001, 120011, t1, "0,0010", 0},
        // PRIDynamic 0: any move counts, none is neutral
        {120000, 120010, t0, 120001, 120011, t1, "0,0000", 1},
        {120000, 120010, t0, 120000, 120010, t1, "0,0000", 0},
        // the mid price did not move although both prices did: neutral, to the last point
        {119990, 120000, t0, 119992, 119998, t1, "0,0000", 0},
        {119991, 120001, t0, 119993, 119999, t1, "0,0000", 0},
        {119992, 120002, t0, 119997, 119997, t1, "0,0000", 0},
        // one point of the mid price is a move
        {119990, 120000, t0, 119992, 120000, t1, "0,0000", 1},
        // quotes further apart than the timeout (4 s): neutral
        {120000, 120010, t0, 120030, 120040, t0 + 4.5 / 86400, "0,0010", 0},
    };
    for (const Case& c : cases) {
        SetQuote(1, c.bid1, c.ask1, c.time1);
        SetQuote(2, c.bid2, c.ask2, c.time2);
        controls.text[Ctl::rePRIDynamic] = c.pri;
        EXPECT_EQ(desk->Engine().GetTrend(1, 2), c.trend) << c.bid1 << " " << c.bid2 << " " << c.pri;
    }
    // An ID outside the quote arrays has no trend.
    EXPECT_EQ(desk->Engine().GetTrend(0, 2), 0);
    EXPECT_EQ(desk->Engine().GetTrend(1, 201), 0);
}

TEST_F(EngineHelpers, DelayIsNowPlusTheDelMilliseconds) {
    controls.text[Ctl::seDelayPos2] = "250";
    EXPECT_DOUBLE_EQ(desk->Engine().GetDelayPos2Time(), clock.Now() + 250.0 / 86400000.0);
    EXPECT_TRUE(desk->Engine().IsValidEAID(10));
    EXPECT_FALSE(desk->Engine().IsValidEAID(11)); // one table
    EXPECT_FALSE(desk->Engine().IsValidEAID(0));
}

} // namespace
