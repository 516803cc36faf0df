// The fuzz targets without libFuzzer: every seed of the corpus, then inputs mutated from the
// seeds by a generator with a fixed seed, so a run is the same on every machine. A target
// that finds a fault aborts, and the test fails with the target's message.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "fuzz/targets.h"

namespace quorvel::fuzz {

// The target's name in test output.
void PrintTo(const NamedTarget& t, std::ostream* os) {
    *os << t.name;
}

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

std::vector<Bytes> Seeds(const std::string& target) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(fs::path(QUORVEL_FUZZ_CORPUS) / target))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::vector<Bytes> seeds;
    for (const fs::path& p : files) {
        std::ifstream in(p, std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return seeds;
}

// One input from the seeds: a few of the mutations libFuzzer also makes.
Bytes Mutate(const std::vector<Bytes>& seeds, std::mt19937& rng) {
    auto pick = [&](size_t n) {
        return n == 0 ? size_t{0} : std::uniform_int_distribution<size_t>(0, n - 1)(rng);
    };
    Bytes b = seeds[pick(seeds.size())];
    static const uint8_t kInteresting[] = {0x00, 0x01, 0x7F, 0x80, 0xFF, '"', '<', '>', '=',  '[',
                                           ']',  '\r', '\n', '&',  ';',  '-', '9', 'e', 0xEF, 0xFE};
    const int count = 1 + static_cast<int>(pick(8));
    for (int i = 0; i < count; ++i) {
        switch (pick(8)) {
        case 0: // flip a bit
            if (!b.empty()) b[pick(b.size())] ^= static_cast<uint8_t>(1u << pick(8));
            break;
        case 1: // an interesting byte
            if (!b.empty()) b[pick(b.size())] = kInteresting[pick(std::size(kInteresting))];
            break;
        case 2: { // insert random bytes
            const size_t at = pick(b.size() + 1), n = 1 + pick(8);
            Bytes add(n);
            for (auto& x : add) x = static_cast<uint8_t>(rng());
            b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), add.begin(), add.end());
            break;
        }
        case 3: { // erase a range
            if (b.empty()) break;
            const size_t at = pick(b.size()), n = 1 + pick(std::min<size_t>(b.size() - at, 32));
            b.erase(b.begin() + static_cast<std::ptrdiff_t>(at),
                    b.begin() + static_cast<std::ptrdiff_t>(at + n));
            break;
        }
        case 4: { // repeat a range
            if (b.empty()) break;
            const size_t at = pick(b.size()), n = 1 + pick(std::min<size_t>(b.size() - at, 64));
            const Bytes piece(b.begin() + static_cast<std::ptrdiff_t>(at),
                              b.begin() + static_cast<std::ptrdiff_t>(at + n));
            b.insert(b.begin() + static_cast<std::ptrdiff_t>(pick(b.size() + 1)), piece.begin(), piece.end());
            break;
        }
        case 5: { // splice with another seed
            const Bytes& other = seeds[pick(seeds.size())];
            const size_t cut = pick(b.size() + 1), from = pick(other.size() + 1);
            b.resize(cut);
            b.insert(b.end(), other.begin() + static_cast<std::ptrdiff_t>(from), other.end());
            break;
        }
        case 6: { // an extreme eight-byte value: a double or a 64-bit integer
            static const uint64_t kWide[] = {
                0x7FF8000000000000ull, 0x7FF0000000000000ull, 0xFFF0000000000000ull, 0x7FFFFFFFFFFFFFFFull,
                0x8000000000000000ull, 0xFFFFFFFFFFFFFFFFull, 0x41E0000000000000ull, 0x0000000080000000ull};
            if (b.size() < 8) break;
            const size_t at = pick(b.size() - 7);
            const uint64_t v = kWide[pick(std::size(kWide))];
            for (int k = 0; k < 8; ++k) b[at + static_cast<size_t>(k)] = static_cast<uint8_t>(v >> (8 * k));
            break;
        }
        default: // cut short
            b.resize(pick(b.size() + 1));
            break;
        }
    }
    return b;
}

class FuzzFallback : public ::testing::TestWithParam<NamedTarget> {
protected:
    // The targets' saves flush to disk: their scratch files go to memory where that can be.
    static void SetUpTestSuite() {
        if (access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
    }
};

TEST_P(FuzzFallback, SeedsAndSeededMutationsHoldEveryCheck) {
    const NamedTarget target = GetParam();
    const std::vector<Bytes> seeds = Seeds(target.name);
    ASSERT_FALSE(seeds.empty()) << "no seeds for " << target.name;
    for (const Bytes& s : seeds) EXPECT_EQ(target.fn(s.data(), s.size()), 0);
    std::mt19937 rng(20240611u);
    constexpr int kInputs = 5000;
    for (int i = 0; i < kInputs; ++i) {
        const Bytes b = Mutate(seeds, rng);
        ASSERT_EQ(target.fn(b.data(), b.size()), 0) << target.name << " input " << i;
    }
    // The empty input, and one byte.
    const uint8_t one = 0xFF;
    EXPECT_EQ(target.fn(&one, 0), 0);
    EXPECT_EQ(target.fn(&one, 1), 0);
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzFallback, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<NamedTarget>& target) {
                             return std::string(target.param.name);
                         });

} // namespace
} // namespace quorvel::fuzz
