// The fleet's round-trip figures: buckets close to the value, percentiles by rank, the exact
// maximum, and counts that threads add at the same time.
#include <gtest/gtest.h>

#include <thread>

#include "tools/roundtrips.h"

namespace quorvel::fleet {
namespace {

TEST(RoundTrips, ABucketStandsCloseToItsValues) {
    // Half a microsecond up to 2 ms, then within 1/16 of a doubling (4.4 %).
    const double cases[] = {0.0, 0.4, 0.5, 12.3, 199.9, 200.0, 2047.9, 2048.0, 2500.0, 150000.0, 4.0e6};
    int last = -1;
    for (double us : cases) {
        const int b = Histogram::Bucket(static_cast<uint64_t>(us * 1000.0));
        EXPECT_GE(b, last) << us;
        last = b;
        const double back = Histogram::Micros(b);
        if (us < 2048.0) {
            EXPECT_NEAR(back, us, 0.5) << us;
        } else {
            EXPECT_NEAR(back / us, 1.0, 0.045) << us;
        }
    }
    EXPECT_EQ(Histogram::Bucket(UINT64_MAX / 2), Histogram::kBuckets - 1);
}

TEST(RoundTrips, PercentilesByRankAndTheExactMaximum) {
    Histogram h;
    EXPECT_EQ(FromCounts(h.Counts(), h.Max()).count, 0u);
    for (int us = 1; us <= 100; ++us) h.Add(static_cast<uint64_t>(us) * 1000);
    Figures f = FromCounts(h.Counts(), h.Max());
    EXPECT_EQ(f.count, 100u);
    EXPECT_NEAR(f.p50, 50.0, 0.5);
    EXPECT_NEAR(f.p99, 99.0, 0.5);
    EXPECT_DOUBLE_EQ(f.max, 100.0);
    // One slow answer moves the maximum, not the median; p99 stays below the maximum.
    h.Add(7'654'321);
    f = FromCounts(h.Counts(), h.Max());
    EXPECT_NEAR(f.p50, 51.0, 0.5);
    EXPECT_NEAR(f.p99, 100.0, 0.5);
    EXPECT_DOUBLE_EQ(f.max, 7654.321);
    // The per-second maximum is taken once and starts again.
    EXPECT_EQ(h.TakeSecondMax(), 7'654'321u);
    EXPECT_EQ(h.TakeSecondMax(), 0u);
    EXPECT_EQ(h.Max(), 7'654'321u);
    // A single value far beyond the buckets' middle: both percentiles are that value.
    Histogram one;
    one.Add(3'000'100);
    f = FromCounts(one.Counts(), one.Max());
    EXPECT_LE(f.p99, f.max);
    EXPECT_NEAR(f.p50, 3000.1, 3000.1 * 0.045);
}

TEST(RoundTrips, ThreadsAddingAtOnceLoseNoCount) {
    Histogram h;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&h, t] {
            for (int i = 0; i < 20000; ++i) h.Add(static_cast<uint64_t>(1000 + (i % 7) * 250 + t));
        });
    for (auto& t : threads) t.join();
    const Figures f = FromCounts(h.Counts(), h.Max());
    EXPECT_EQ(f.count, 80000u);
    EXPECT_EQ(h.Max(), 1000u + 6 * 250 + 3);
}

} // namespace
} // namespace quorvel::fleet
