#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include "evtx/EvtxReader.h"

namespace zor {

// The 512-byte header of a 64 KiB chunk.
struct TEvtxChunkHeader {
  bool Unused = false;      // the slot is all zero where a signature should be: not yet used
  bool SignatureOk = false;  // "ElfChnk\0"
  bool Trusted = false;      // signature ok and header checksum matched (or checksums are off)
  uint64_t FirstRecordNumber = 0;
  uint64_t LastRecordNumber = 0;
  uint64_t FirstRecordId = 0;
  uint64_t LastRecordId = 0;
  uint32_t LastRecordOffset = 0;
  uint32_t FreeSpaceOffset = 0;
  uint32_t RecordsChecksum = 0;
  uint32_t Flags = 0;
  uint32_t HeaderChecksum = 0;
  uint32_t ComputedHeaderChecksum = 0;
  bool NoChecksums() const { return (Flags & 0x4) != 0; }

  // Reads the header from the first 512 bytes at AData. AVerify false (or the
  // chunk's no-checksum flag) makes a header with a good signature trusted
  // without comparing its checksum.
  static TEvtxChunkHeader Parse(const uint8_t* AData, bool AVerify);
};

// Where one record sits in its chunk (chunk-relative offsets).
struct TEvtxRecordHeader {
  uint32_t Offset = 0;
  uint32_t Size = 0;
  uint64_t RecordId = 0;
  uint64_t WrittenTime = 0;
  size_t BodyBegin() const { return size_t{Offset} + 24; }
  size_t BodyEnd() const { return size_t{Offset} + Size - 4; }
};

// One chunk's bytes, its checks and the walk over its records. Owns its 64 KiB
// buffer, reused for every chunk it is given. Not thread-safe.
class TEvtxChunk {
 public:
  static constexpr size_t Size = 65536;
  static constexpr size_t HeaderSize = 512;

  TEvtxChunk();
  TEvtxChunk(const TEvtxChunk&) = delete;
  TEvtxChunk& operator=(const TEvtxChunk&) = delete;

  // The buffer to fill with the chunk's bytes before Open.
  uint8_t* Buffer() { return FData.get(); }
  const uint8_t* Data() const { return FData.get(); }

  // Checks the chunk now in the buffer, of which AValid bytes were read (the
  // rest is zeroed here); AFileOffset is where it starts in the file. Faults
  // are appended to AIssues: a bad signature leaves no records to walk;
  // checksum mismatches and truncation leave the records to be walked one by
  // one with the record validity test.
  void Open(uint64_t AFileOffset, size_t AValid, bool AVerifyChecksums, std::vector<TEvtxIssue>& AIssues);

  // The next record in file order, or false at the end of the records. A
  // damaged record header ends the walk with an eikRecordsCut issue.
  bool NextRecord(TEvtxRecordHeader& ARecord, std::vector<TEvtxIssue>& AIssues);

  const TEvtxChunkHeader& Header() const { return FHeader; }
  uint64_t FileOffset() const { return FFileOffset; }

 private:
  std::unique_ptr<uint8_t[]> FData;
  TEvtxChunkHeader FHeader;
  uint64_t FFileOffset = 0;
  size_t FNext = 0;   // chunk offset of the next record
  size_t FLimit = 0;  // records end here
};

// The issue of a record that could not be rendered (AError) and is skipped.
TEvtxIssue SkippedRecordIssue(uint64_t AFileOffset, uint64_t ARecordId, const std::exception& AError);

}  // namespace zor
