#pragma once

// Builders of synthetic EVTX bytes for tests, fuzz seeds and tools: a chunk
// written token by token (binary XML with inline names and templates), a file
// header, and the checksums that make them valid.

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "evtx/Crc32.h"

namespace zor::test {

constexpr size_t EvtxChunkSize = 65536;
constexpr size_t EvtxFileHeaderSize = 4096;

inline void PutU16(uint8_t* AAt, uint16_t AValue) { std::memcpy(AAt, &AValue, 2); }
inline void PutU32(uint8_t* AAt, uint32_t AValue) { std::memcpy(AAt, &AValue, 4); }
inline void PutU64(uint8_t* AAt, uint64_t AValue) { std::memcpy(AAt, &AValue, 8); }
inline uint32_t GetU32(const uint8_t* AAt) {
  uint32_t v;
  std::memcpy(&v, AAt, 4);
  return v;
}
inline uint64_t GetU64(const uint8_t* AAt) {
  uint64_t v;
  std::memcpy(&v, AAt, 8);
  return v;
}

// Recomputes a chunk's records checksum (over [0x200, free space)) and its
// header checksum (over [0, 0x78) and [0x80, 0x200)).
inline void FixChunkChecksums(uint8_t* AChunk) {
  uint32_t freeSpace = GetU32(AChunk + 0x30);
  if (freeSpace < 0x200 || freeSpace > EvtxChunkSize) freeSpace = 0x200;
  PutU32(AChunk + 0x34, Crc32(AChunk + 0x200, freeSpace - 0x200));
  PutU32(AChunk + 0x7C, Crc32(AChunk + 0x80, 0x180, Crc32(AChunk, 0x78)));
}

inline void FixFileHeaderChecksum(uint8_t* AHeader) { PutU32(AHeader + 0x7C, Crc32(AHeader, 0x78)); }

// A file header (4096 bytes) for AChunkCount chunks whose next record id is ANextRecordId.
inline std::vector<uint8_t> MakeFileHeader(uint16_t AChunkCount, uint64_t ANextRecordId, uint32_t AFlags = 0) {
  std::vector<uint8_t> h(EvtxFileHeaderSize, 0);
  std::memcpy(h.data(), "ElfFile", 8);
  PutU64(h.data() + 0x10, AChunkCount ? AChunkCount - 1u : 0u);
  PutU64(h.data() + 0x18, ANextRecordId);
  PutU32(h.data() + 0x20, 128);
  PutU16(h.data() + 0x24, 1);
  PutU16(h.data() + 0x26, 3);
  PutU16(h.data() + 0x28, 4096);
  PutU16(h.data() + 0x2A, AChunkCount);
  PutU32(h.data() + 0x78, AFlags);
  FixFileHeaderChecksum(h.data());
  return h;
}

// Writes one chunk sequentially. Positions are chunk-relative, so names and
// template definitions can be written inline exactly where they are used.
class TChunkBuilder {
 public:
  TChunkBuilder() : FBytes(EvtxChunkSize, 0) {
    std::memcpy(FBytes.data(), "ElfChnk", 8);
    PutU32(FBytes.data() + 0x28, 128);
    PutU32(FBytes.data() + 0x78, 1);
  }

  size_t Pos() const { return FPos; }
  uint8_t* At(size_t APos) { return FBytes.data() + APos; }
  const std::vector<uint8_t>& Bytes() const { return FBytes; }

  void U8(uint8_t AValue) { FBytes.at(FPos++) = AValue; }
  void U16(uint16_t AValue) {
    PutU16(Room(2), AValue);
    FPos += 2;
  }
  void U32(uint32_t AValue) {
    PutU32(Room(4), AValue);
    FPos += 4;
  }
  void U64(uint64_t AValue) {
    PutU64(Room(8), AValue);
    FPos += 8;
  }
  void Raw(const std::vector<uint8_t>& ABytes) {
    if (!ABytes.empty()) std::memcpy(Room(ABytes.size()), ABytes.data(), ABytes.size());
    FPos += ABytes.size();
  }
  // ASCII or UTF-16 code units as UTF-16LE, without terminator.
  void Utf16(const std::u16string& AText) {
    for (char16_t c : AText) U16(static_cast<uint16_t>(c));
  }

  // A name reference with the name inline (first use in the chunk).
  void InlineName(const std::u16string& AName) {
    U32(static_cast<uint32_t>(FPos + 4));
    U32(0);
    U16(0);  // hash: not checked by readers
    U16(static_cast<uint16_t>(AName.size()));
    Utf16(AName);
    U16(0);
  }

  // Binary XML pieces.
  void Fragment() { Raw({0x0F, 1, 1, 0}); }
  // Open element; in a template definition it carries a dependency id.
  void Open(const std::u16string& AName, bool AAttributes, bool AInTemplate, uint16_t ADependency = 0xFFFF) {
    U8(AAttributes ? 0x41 : 0x01);
    if (AInTemplate) U16(ADependency);
    U32(0);  // element data size: not needed by the reader
    InlineName(AName);
  }
  size_t BeginAttributes() {
    const size_t at = FPos;
    U32(0);
    return at;
  }
  void EndAttributes(size_t AAt) { PutU32(At(AAt), static_cast<uint32_t>(FPos - AAt - 4)); }
  void Attribute(const std::u16string& AName, bool ALast) {
    U8(ALast ? 0x06 : 0x46);
    InlineName(AName);
  }
  void Text(const std::u16string& AText) {
    U8(0x05);
    U8(0x01);
    U16(static_cast<uint16_t>(AText.size()));
    Utf16(AText);
  }
  void Substitution(uint16_t AIndex, uint8_t AType, bool AOptional) {
    U8(AOptional ? 0x0E : 0x0D);
    U16(AIndex);
    U8(AType);
  }
  void CloseStart() { U8(0x02); }
  void CloseEmpty() { U8(0x03); }
  void End() { U8(0x04); }
  void EndOfStream() { U8(0x00); }

  // Template instance with its definition inline. ABody writes the definition's
  // binary XML (fragment header, one element, end of stream) through this builder.
  template <typename TBody>
  size_t InstanceWithDefinition(TBody&& ABody) {
    U8(0x0C);
    U8(0x01);
    U32(0x11223344);
    const size_t definition = FPos + 4;
    U32(static_cast<uint32_t>(definition));
    U32(0);
    for (int i = 0; i < 16; ++i) U8(static_cast<uint8_t>(0x44 - i));
    const size_t sizeAt = FPos;
    U32(0);
    ABody();
    PutU32(At(sizeAt), static_cast<uint32_t>(FPos - sizeAt - 4));
    return definition;
  }
  // Template instance pointing back at a definition written earlier.
  void InstanceOf(size_t ADefinition) {
    U8(0x0C);
    U8(0x01);
    U32(0x11223344);
    U32(static_cast<uint32_t>(ADefinition));
  }
  // The values of an instance: (type, bytes) in index order.
  void Values(const std::vector<std::pair<uint8_t, std::vector<uint8_t>>>& AValues) {
    U32(static_cast<uint32_t>(AValues.size()));
    for (const auto& [type, bytes] : AValues) {
      U16(static_cast<uint16_t>(bytes.size()));
      U8(type);
      U8(0);
    }
    for (const auto& value : AValues) Raw(value.second);
  }

  // Record framing around a body written between the two calls.
  size_t BeginRecord(uint64_t ARecordId, uint64_t AWrittenTime = 0x01D1D944575796F8ull) {
    const size_t at = FPos;
    U32(0x00002A2A);
    U32(0);
    U64(ARecordId);
    U64(AWrittenTime);
    if (FFirstId == 0) FFirstId = ARecordId;
    FLastId = ARecordId;
    FLastRecord = at;
    return at;
  }
  void EndRecord(size_t AAt) {
    while ((FPos + 4 - AAt) % 8) U8(0);
    const auto size = static_cast<uint32_t>(FPos + 4 - AAt);
    U32(size);
    PutU32(At(AAt + 4), size);
  }

  // Fills in the header (record ranges, offsets) and both checksums.
  std::vector<uint8_t> Finish() {
    PutU64(At(0x08), FFirstId);
    PutU64(At(0x10), FLastId);
    PutU64(At(0x18), FFirstId);
    PutU64(At(0x20), FLastId);
    PutU32(At(0x2C), static_cast<uint32_t>(FLastRecord));
    PutU32(At(0x30), static_cast<uint32_t>(FPos));
    FixChunkChecksums(FBytes.data());
    return FBytes;
  }

  // Starts writing records after the chunk header.
  void StartRecords() { FPos = 0x200; }

 private:
  uint8_t* Room(size_t ACount) {
    if (FPos + ACount > FBytes.size()) throw std::out_of_range("chunk builder: chunk full");
    return FBytes.data() + FPos;
  }

  std::vector<uint8_t> FBytes;
  size_t FPos = 0x200;
  uint64_t FFirstId = 0;
  uint64_t FLastId = 0;
  size_t FLastRecord = 0x200;
};

}  // namespace zor::test
