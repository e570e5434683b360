#include "evtx/Crc32.h"

#include <array>
#include <cstring>

#include "platform/Crc32Folding.h"

namespace zor {

namespace {

// Slicing-by-8 tables: checksumming a chunk's records is on the read path of
// every chunk, so it processes eight bytes per step.
struct TCrcTables {
  std::array<std::array<uint32_t, 256>, 8> T{};
  constexpr TCrcTables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
      T[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i) {
      for (size_t s = 1; s < 8; ++s) T[s][i] = (T[s - 1][i] >> 8) ^ T[0][T[s - 1][i] & 0xFF];
    }
  }
};

constexpr TCrcTables Tables;

}  // namespace

uint32_t Crc32(const uint8_t* AData, size_t ASize, uint32_t ACrc) {
  const auto& t = Tables.T;
  uint32_t c = ~ACrc;
  // Whole chunks' records: with the processor's folding where it has it.
  static const bool folding = HasCrc32Folding();
  if (folding && ASize >= 64) {
    const size_t folded = ASize & ~size_t{15};
    c = Crc32Fold(AData, folded, c);
    AData += folded;
    ASize -= folded;
  }
  while (ASize >= 8) {
    uint32_t lo;
    uint32_t hi;
    std::memcpy(&lo, AData, 4);
    std::memcpy(&hi, AData + 4, 4);
    lo ^= c;
    c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][hi & 0xFF] ^
        t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    AData += 8;
    ASize -= 8;
  }
  while (ASize--) c = t[0][(c ^ *AData++) & 0xFF] ^ (c >> 8);
  return ~c;
}

}  // namespace zor
