#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "evtx/EvtxError.h"

namespace zor {

// Little-endian reader over a borrowed byte range. Every read names what it
// reads and is checked against the end of the range; a short read throws
// EEvtxError with the file offset, the name and how many bytes were needed
// and left. Positions are relative to ABase (for chunk data: chunk-relative);
// AFileOffset is the file offset of ABase, used only in messages.
class TByteCursor {
 public:
  TByteCursor(const uint8_t* ABase, size_t APos, size_t AEnd, uint64_t AFileOffset)
      : FBase(ABase), FPos(APos), FEnd(AEnd), FFileOffset(AFileOffset) {}

  size_t Pos() const { return FPos; }
  size_t End() const { return FEnd; }
  size_t Remaining() const { return FEnd - FPos; }
  bool AtEnd() const { return FPos >= FEnd; }
  uint64_t FileOffset() const { return FFileOffset + FPos; }

  uint8_t Peek(const char* AWhat) const {
    Need(1, AWhat);
    return FBase[FPos];
  }
  uint8_t U8(const char* AWhat) {
    Need(1, AWhat);
    return FBase[FPos++];
  }
  uint16_t U16(const char* AWhat) {
    Need(2, AWhat);
    uint16_t v;
    std::memcpy(&v, FBase + FPos, 2);
    FPos += 2;
    return v;
  }
  uint32_t U32(const char* AWhat) {
    Need(4, AWhat);
    uint32_t v;
    std::memcpy(&v, FBase + FPos, 4);
    FPos += 4;
    return v;
  }
  uint64_t U64(const char* AWhat) {
    Need(8, AWhat);
    uint64_t v;
    std::memcpy(&v, FBase + FPos, 8);
    FPos += 8;
    return v;
  }
  // Returns a pointer to the next ACount bytes and moves past them.
  const uint8_t* Take(size_t ACount, const char* AWhat) {
    Need(ACount, AWhat);
    const uint8_t* p = FBase + FPos;
    FPos += ACount;
    return p;
  }
  void SetPos(size_t APos, const char* AWhat) {
    if (APos > FEnd) Short(APos - FPos, AWhat);
    FPos = APos;
  }
  void Skip(size_t ACount, const char* AWhat) {
    Need(ACount, AWhat);
    FPos += ACount;
  }

  void Need(size_t ACount, const char* AWhat) const {
    if (ACount > FEnd - FPos) Short(ACount, AWhat);
  }

 private:
  [[noreturn]] void Short(size_t ACount, const char* AWhat) const {
    throw EEvtxError(FFileOffset + FPos, std::string("reading ") + AWhat, std::to_string(ACount) + " bytes",
                     std::to_string(FEnd - FPos) + " left");
  }

  const uint8_t* FBase;
  size_t FPos;
  size_t FEnd;
  uint64_t FFileOffset;
};

inline uint16_t LoadU16(const uint8_t* AData) {
  uint16_t v;
  std::memcpy(&v, AData, 2);
  return v;
}
inline uint32_t LoadU32(const uint8_t* AData) {
  uint32_t v;
  std::memcpy(&v, AData, 4);
  return v;
}
inline uint64_t LoadU64(const uint8_t* AData) {
  uint64_t v;
  std::memcpy(&v, AData, 8);
  return v;
}

}  // namespace zor
