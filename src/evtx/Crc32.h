#pragma once

#include <cstddef>
#include <cstdint>

namespace zor {

// The ordinary (zlib, IEEE 802.3) CRC-32 of a byte range, continuing from
// ACrc (0 for a fresh checksum), as zlib's crc32(ACrc, AData, ASize).
uint32_t Crc32(const uint8_t* AData, size_t ASize, uint32_t ACrc = 0);

}  // namespace zor
