// CRC-32 of chunk headers and records: the known check value, and the same
// result as a bit-at-a-time reference whatever the length, alignment and
// split, so the folded path for long ranges and the table path for the rest agree.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "evtx/Crc32.h"

namespace zor {
namespace {

uint32_t BitwiseCrc32(const uint8_t* AData, size_t ASize) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < ASize; ++i) {
    c ^= AData[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

TEST(Crc32Test, CheckValue) {
  const uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc32(text, sizeof text), 0xCBF43926u);
}

TEST(Crc32Test, AnyLengthAlignmentAndSplitGivesTheReferenceValue) {
  std::mt19937 random(12345);
  std::vector<uint8_t> bytes(65536 + 64);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  for (size_t size : {0, 1, 15, 16, 63, 64, 65, 79, 80, 127, 128, 129, 200, 511, 4096, 65024, 65536}) {
    for (size_t offset : {0, 1, 7, 8, 15}) {
      SCOPED_TRACE(std::to_string(size) + " bytes at offset " + std::to_string(offset));
      const uint8_t* data = bytes.data() + offset;
      const uint32_t expected = BitwiseCrc32(data, size);
      EXPECT_EQ(Crc32(data, size), expected);
      const size_t split = size / 3;
      EXPECT_EQ(Crc32(data + split, size - split, Crc32(data, split)), expected);
    }
  }
}

}  // namespace
}  // namespace zor
