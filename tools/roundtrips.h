#pragma once
// Round-trip times of the fleet's messages: a histogram that many threads add to at once, and
// the p50, p99 and maximum read from its counts.
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <vector>

namespace quorvel::fleet {

// Round trips of one message number: half-microsecond steps up to 2 ms, then 16 steps per
// doubling. Counts are added by every EA thread and read by the reporter.
class Histogram {
public:
    static constexpr int kLinear = 4096;
    static constexpr int kBuckets = kLinear + 256;

    void Add(uint64_t ns) {
        m_counts[static_cast<size_t>(Bucket(ns))].fetch_add(1, std::memory_order_relaxed);
        RaiseMax(m_max, ns);
        RaiseMax(m_secondMax, ns);
    }
    uint32_t Count(int b) const { return m_counts[static_cast<size_t>(b)].load(std::memory_order_relaxed); }
    std::vector<uint32_t> Counts() const {
        std::vector<uint32_t> out(kBuckets);
        for (int b = 0; b < kBuckets; ++b) out[static_cast<size_t>(b)] = Count(b);
        return out;
    }
    uint64_t Max() const { return m_max.load(std::memory_order_relaxed); }
    uint64_t TakeSecondMax() { return m_secondMax.exchange(0, std::memory_order_relaxed); }

    static int Bucket(uint64_t ns) {
        const uint64_t half = ns / 500;
        if (half < kLinear) return static_cast<int>(half);
        const double us = static_cast<double>(ns) / 1000.0;
        const int b = kLinear + static_cast<int>(std::log2(us / 2048.0) * 16.0);
        return std::min(b, kBuckets - 1);
    }
    static double Micros(int b) {
        if (b < kLinear) return (b + 0.5) * 0.5;
        return 2048.0 * std::exp2((b - kLinear + 0.5) / 16.0);
    }

private:
    static void RaiseMax(std::atomic<uint64_t>& m, uint64_t v) {
        uint64_t cur = m.load(std::memory_order_relaxed);
        while (v > cur && !m.compare_exchange_weak(cur, v, std::memory_order_relaxed)) {
        }
    }
    std::array<std::atomic<uint32_t>, kBuckets> m_counts{};
    std::atomic<uint64_t> m_max{0};
    std::atomic<uint64_t> m_secondMax{0};
};

struct Figures {
    uint64_t count = 0;
    double p50 = 0, p99 = 0, max = 0;
};

// p50 and p99 of counts[]; max given.
inline Figures FromCounts(const std::vector<uint32_t>& counts, uint64_t maxNs) {
    Figures f;
    for (uint32_t c : counts) f.count += c;
    if (f.count == 0) return f;
    auto pct = [&](double p) {
        const uint64_t rank =
            std::max<uint64_t>(1, static_cast<uint64_t>(std::ceil(p * static_cast<double>(f.count))));
        uint64_t seen = 0;
        for (size_t b = 0; b < counts.size(); ++b) {
            seen += counts[b];
            if (seen >= rank) return Histogram::Micros(static_cast<int>(b));
        }
        return Histogram::Micros(static_cast<int>(counts.size()) - 1);
    };
    // A bucket's middle can lie above the largest value seen: the exact maximum bounds both.
    f.max = static_cast<double>(maxNs) / 1000.0;
    f.p50 = std::min(pct(0.50), f.max);
    f.p99 = std::min(pct(0.99), f.max);
    return f;
}

} // namespace quorvel::fleet
