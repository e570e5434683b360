#include "evtx/EvtxChunk.h"

#include <cstdio>
#include <cstring>

#include "evtx/ByteCursor.h"
#include "evtx/Crc32.h"

namespace zor {

namespace {

constexpr char ChunkSignature[8] = {'E', 'l', 'f', 'C', 'h', 'n', 'k', '\0'};
constexpr uint32_t RecordSignature = 0x00002A2A;
constexpr size_t RecordHeaderSize = 24;
constexpr size_t MinRecordSize = RecordHeaderSize + 4;

std::string Hex32(uint32_t AValue) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", AValue);
  return buf;
}

}  // namespace

TEvtxChunkHeader TEvtxChunkHeader::Parse(const uint8_t* AData, bool AVerify) {
  TEvtxChunkHeader h;
  static constexpr uint8_t Zero[8] = {};
  h.Unused = std::memcmp(AData, Zero, 8) == 0;
  h.SignatureOk = std::memcmp(AData, ChunkSignature, 8) == 0;
  h.FirstRecordNumber = LoadU64(AData + 0x08);
  h.LastRecordNumber = LoadU64(AData + 0x10);
  h.FirstRecordId = LoadU64(AData + 0x18);
  h.LastRecordId = LoadU64(AData + 0x20);
  h.LastRecordOffset = LoadU32(AData + 0x2C);
  h.FreeSpaceOffset = LoadU32(AData + 0x30);
  h.RecordsChecksum = LoadU32(AData + 0x34);
  h.Flags = LoadU32(AData + 0x78);
  h.HeaderChecksum = LoadU32(AData + 0x7C);
  // The header checksum skips the flags and itself: bytes [0, 0x78) then [0x80, 0x200).
  h.ComputedHeaderChecksum = Crc32(AData + 0x80, 0x180, Crc32(AData, 0x78));
  h.Trusted = h.SignatureOk && (!AVerify || h.NoChecksums() || h.ComputedHeaderChecksum == h.HeaderChecksum);
  return h;
}

TEvtxChunk::TEvtxChunk() : FData(std::make_unique<uint8_t[]>(Size)) {}

void TEvtxChunk::Open(uint64_t AFileOffset, size_t AValid, bool AVerifyChecksums, std::vector<TEvtxIssue>& AIssues) {
  FFileOffset = AFileOffset;
  if (AValid < Size) std::memset(FData.get() + AValid, 0, Size - AValid);
  FHeader = TEvtxChunkHeader::Parse(FData.get(), AVerifyChecksums);
  FNext = HeaderSize;
  FLimit = HeaderSize;
  if (!FHeader.SignatureOk) {
    if (!FHeader.Unused) {
      std::string found(reinterpret_cast<const char*>(FData.get()), 8);
      for (char& c : found) if (c < 0x20 || c > 0x7E) c = '.';
      AIssues.push_back({TEvtxIssueKind::eikChunkSkipped, AFileOffset, 0,
                         "chunk signature at offset " + std::to_string(AFileOffset) + ": expected ElfChnk, found " + found});
    }
    return;
  }
  const bool verify = AVerifyChecksums && !FHeader.NoChecksums();
  if (verify && !FHeader.Trusted) {
    AIssues.push_back({TEvtxIssueKind::eikChecksum, AFileOffset, FHeader.FirstRecordId,
                       "chunk header checksum at offset " + std::to_string(AFileOffset) + ": expected " +
                           Hex32(FHeader.HeaderChecksum) + ", found " + Hex32(FHeader.ComputedHeaderChecksum)});
  }
  const size_t freeSpace = FHeader.FreeSpaceOffset;
  const bool freeSpaceValid = freeSpace >= HeaderSize && freeSpace <= Size;
  // Trust the free-space offset only from a header that checks out; otherwise
  // walk until the records stop.
  FLimit = FHeader.Trusted && freeSpaceValid ? freeSpace : Size;
  if (verify && freeSpaceValid) {
    const uint32_t crc = Crc32(FData.get() + HeaderSize, freeSpace - HeaderSize);
    if (crc != FHeader.RecordsChecksum) {
      AIssues.push_back({TEvtxIssueKind::eikChecksum, AFileOffset, FHeader.FirstRecordId,
                         "chunk records checksum at offset " + std::to_string(AFileOffset) + ": expected " +
                             Hex32(FHeader.RecordsChecksum) + ", found " + Hex32(crc)});
    }
  }
  if (AValid < Size) {
    AIssues.push_back({TEvtxIssueKind::eikRecordsCut, AFileOffset, FHeader.FirstRecordId,
                       "chunk at offset " + std::to_string(AFileOffset) + " is truncated: expected " +
                           std::to_string(Size) + " bytes, found " + std::to_string(AValid)});
    if (FLimit > AValid) FLimit = AValid < HeaderSize ? HeaderSize : AValid;
  }
}

bool TEvtxChunk::NextRecord(TEvtxRecordHeader& ARecord, std::vector<TEvtxIssue>& AIssues) {
  if (FNext >= FLimit || FLimit - FNext < RecordHeaderSize) return false;
  const uint8_t* p = FData.get() + FNext;
  const uint32_t signature = LoadU32(p);
  auto cut = [&](const std::string& AWhat, const std::string& AExpected, const std::string& AFound) {
    AIssues.push_back({TEvtxIssueKind::eikRecordsCut, FFileOffset + FNext, 0,
                       AWhat + " at offset " + std::to_string(FFileOffset + FNext) + ": expected " + AExpected +
                           ", found " + AFound + "; rest of the chunk skipped"});
    FNext = FLimit;
    return false;
  };
  if (signature == 0) {
    // Zeroed space after the last record.
    FNext = FLimit;
    return false;
  }
  if (signature != RecordSignature) return cut("record signature", Hex32(RecordSignature), Hex32(signature));
  const uint32_t size = LoadU32(p + 4);
  if (size < MinRecordSize || size > FLimit - FNext)
    return cut("record size", "28 to " + std::to_string(FLimit - FNext), std::to_string(size));
  const uint32_t copy = LoadU32(p + size - 4);
  if (copy != size) return cut("record size copy", std::to_string(size), std::to_string(copy));
  ARecord.Offset = static_cast<uint32_t>(FNext);
  ARecord.Size = size;
  ARecord.RecordId = LoadU64(p + 8);
  ARecord.WrittenTime = LoadU64(p + 16);
  FNext += size;
  return true;
}

TEvtxIssue SkippedRecordIssue(uint64_t AFileOffset, uint64_t ARecordId, const std::exception& AError) {
  return {TEvtxIssueKind::eikRecordSkipped, AFileOffset, ARecordId,
          "record " + std::to_string(ARecordId) + " skipped: " + AError.what()};
}

}  // namespace zor
