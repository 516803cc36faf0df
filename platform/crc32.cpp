#include "platform/crc32.h"

#include <array>

namespace quorvel {

namespace {

// Eight tables: eight bytes are taken at a time.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
    Tables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (size_t s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFFu];
    return t;
}

constexpr Tables kTables = MakeTables();

} // namespace

uint32_t Crc32(std::string_view data, uint32_t crc) {
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    size_t n = data.size();
    uint32_t c = ~crc;
    while (n >= 8) {
        const uint32_t lo =
            c ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
        c = kTables[7][lo & 0xFFu] ^ kTables[6][(lo >> 8) & 0xFFu] ^ kTables[5][(lo >> 16) & 0xFFu] ^
            kTables[4][lo >> 24] ^ kTables[3][p[4]] ^ kTables[2][p[5]] ^ kTables[1][p[6]] ^ kTables[0][p[7]];
        p += 8;
        n -= 8;
    }
    while (n--) c = kTables[0][(c ^ *p++) & 0xFFu] ^ (c >> 8);
    return ~c;
}

} // namespace quorvel
