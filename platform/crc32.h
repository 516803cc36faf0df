#pragma once
// CRC-32 (the polynomial of zlib and PNG), over any number of pieces.
#include <cstdint>
#include <string_view>

namespace quorvel {

// The CRC of `data` continued from `crc` (0 to start): Crc32(b, Crc32(a)) == Crc32(a + b).
uint32_t Crc32(std::string_view data, uint32_t crc = 0);

} // namespace quorvel
