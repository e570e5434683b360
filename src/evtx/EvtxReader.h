#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "evtx/EvtxError.h"
#include "evtx/ReadOnlyFile.h"

namespace zor {

// Which Windows generation's value formats the renderer imitates.
//  erpCurrent: 7 fraction digits in times, lower-case GUIDs (Windows 10 / Server 2016+).
//  erpLegacy:  9 fraction digits ending in "00", upper-case GUIDs (Vista ... 2012 R2).
enum class TEvtxRenderProfile : uint8_t { erpCurrent = 0, erpLegacy = 1 };

enum class TEvtxIssueKind : uint8_t {
  eikFileHeader = 0,    // file header checksum mismatch; reading goes on
  eikChunkSkipped = 1,  // bad chunk signature or unreadable chunk: none of its records are read
  eikChecksum = 2,      // chunk header or records checksum mismatch; records are still walked
  eikRecordsCut = 3,    // a damaged record header ended the walk of a chunk early
  eikRecordSkipped = 4, // one record could not be rendered; the next one is read
};

// One fault met while reading. Offsets are file offsets.
struct TEvtxIssue {
  TEvtxIssueKind Kind = TEvtxIssueKind::eikRecordSkipped;
  uint64_t FileOffset = 0;
  uint64_t RecordId = 0;  // 0 when not known
  std::string Message;
};

// One delivered record. Xml points into the reader's own buffer and stays valid
// until the next call of Next, SeekAfter or Refresh, or until the reader goes.
struct TEvtxRecord {
  uint64_t RecordId = 0;     // record number of the record header: grows through the file, used for
                             // positions and bookmarks. The XML's EventRecordID is the value the
                             // event was logged with; the two differ in exported (filtered) logs.
  uint64_t WrittenTime = 0;  // FILETIME (100 ns ticks since 1601-01-01 UTC) the record was written
  uint64_t FileOffset = 0;   // where the record starts in the file
  std::string_view Xml;      // exactly what EvtRender(EvtRenderEventXml) gives, UTF-8;
                             // line breaks inside values are kept as they are
};

// Where a record is: the file offset of its header and its record number.
// Enough to find the record again after the file grew or was replaced by a
// copy that holds it at the same place.
struct TEvtxPlace {
  uint64_t FileOffset = 0;
  uint64_t RecordId = 0;
};

// What the file header says. Header fields may lag behind the chunks when
// Dirty is set; the reader never relies on them for finding records.
struct TEvtxFileInfo {
  uint64_t FirstChunk = 0;
  uint64_t LastChunk = 0;
  uint64_t NextRecordId = 0;
  uint16_t MajorVersion = 0;
  uint16_t MinorVersion = 0;
  uint16_t ChunkCount = 0;  // chunks in use according to the header
  uint32_t Flags = 0;       // 0x1 dirty, 0x2 full, 0x4 no checksums
  uint64_t FileSize = 0;
  uint64_t ChunkSlots = 0;  // 64 KiB slots present in the file (used or not)
  uint64_t LowestRecordId = 0;   // over all readable chunks (0 if none)
  uint64_t HighestRecordId = 0;  // over all readable chunks (0 if none)
  bool Dirty() const { return (Flags & 0x1) != 0; }
};

struct TEvtxReaderOptions {
  TEvtxRenderProfile Profile = TEvtxRenderProfile::erpCurrent;
  // Check the chunk header and records checksums (skipped anyway for files
  // and chunks flagged as having none). A mismatch is an eikChecksum issue; the
  // records are still walked one by one with the record validity test.
  bool VerifyChecksums = true;
  // Deliver only records whose EventRecordID is greater than this.
  uint64_t StartAfterRecordId = 0;
  // false: identifiers only grow; a record whose id is not above the last
  // delivered one is passed over. true (file order): every valid record of
  // every chunk, chunk by chunk in order of their first id, also where a
  // recovered file or one with several generations of records holds
  // identifiers out of order. File order is what readers of a channel follow,
  // with the Seek*Place operations below.
  bool EveryRecord = false;
  // Called for every issue, on the thread calling Next/Refresh. May be empty.
  std::function<void(const TEvtxIssue&)> OnIssue;
};

// Reads one .evtx file record by record, in EventRecordID order (a wrapped,
// circular log comes out oldest first), each record rendered to event XML.
//
// Memory stays bounded whatever the file size: the file is read one 64 KiB
// chunk at a time with pread; template and name caches live per chunk.
// Damage stays local: a bad chunk or record is reported through OnIssue and
// skipped, and reading goes on. Every EventRecordID is delivered at most once
// and in increasing order.
//
// Following a growing file: call Refresh() when the file may have changed; it
// re-opens the path (so a replaced file is picked up), reads the file header and
// the chunk headers again, and the next Next() goes on with the records whose
// identifier is greater than the last one delivered. A file whose
// HighestRecordId is below LastRecordId() was cleared or replaced by an older
// one: SeekAfter(0) reads it again from its oldest record.
//
// Not thread-safe: one thread uses a reader at a time. Starts no threads and
// logs nothing.
class TEvtxReader {
 public:
  // Opens APath. Throws EEvtxFileError when the file is missing, unreadable or
  // not an EVTX file (bad file signature, shorter than the file header).
  explicit TEvtxReader(const std::string& APath, TEvtxReaderOptions AOptions = {});
  ~TEvtxReader();
  TEvtxReader(const TEvtxReader&) = delete;
  TEvtxReader& operator=(const TEvtxReader&) = delete;

  // Fills ARecord with the next record and returns true, or returns false when
  // no more records can be read now (call Refresh to look for new ones).
  // Throws EEvtxFileError only when the file can no longer be read at all.
  [[nodiscard]] bool Next(TEvtxRecord& ARecord);

  // The next Next() delivers the first record whose id is greater than
  // ARecordId. Whole chunks below it are skipped by their header record ids.
  void SeekAfter(uint64_t ARecordId);

  // Looks at the file again (see the class comment). Throws EEvtxFileError
  // when the path no longer names a readable EVTX file; the reader then keeps
  // its position and may be refreshed again later. In file order
  // (EveryRecord) the position goes back before the first record: call
  // SeekAfterPlace to go on where reading stopped.
  void Refresh();

  // File order (EveryRecord): the file offsets of the chunks that the
  // following Next calls read, in the order they read them. Lets another
  // reader decode those chunks elsewhere (TParallelEvtxReader).
  std::vector<uint64_t> PendingChunks() const;

  // File order (EveryRecord). None of these render records.
  //
  // Puts the position right after the record at APlace.FileOffset and returns
  // true when the file holds a record with APlace.RecordId there; otherwise
  // returns false with the position before the first record.
  [[nodiscard]] bool SeekAfterPlace(const TEvtxPlace& APlace);
  // Puts the position right after the first record whose id is ARecordId;
  // without one, right before the first record with a greater id; without
  // one either, after the last record.
  void SeekPastRecordId(uint64_t ARecordId);
  // Puts the position after the last record and returns that record's place,
  // or nothing (position before the first record) when the file holds none.
  [[nodiscard]] std::optional<TEvtxPlace> SeekEnd();

  // EventRecordID of the last delivered record, or the start position (the
  // StartAfterRecordId option or SeekAfter's argument) if none was delivered since.
  uint64_t LastRecordId() const { return FLastRecordId; }
  const TEvtxFileInfo& FileInfo() const { return FInfo; }
  const std::string& Path() const { return FPath; }
  uint64_t IssueCount() const { return FIssueCount; }

 private:
  struct TSlot {
    uint64_t Index = 0;
    uint64_t FirstRecordId = 0;
    uint64_t LastRecordId = 0;
    bool Trusted = false;  // header checksum matched (or checksums are off)
  };
  struct TState;

  void Open();
  void ScanSlots();
  bool LoadNextChunk();
  // Whether the chunk FOrder[AOrderIndex] holds no record above AFloor.
  bool PassesOver(size_t AOrderIndex, uint64_t AFloor) const;
  void LoadChunkAt(size_t AOrderIndex);
  void Rewind();
  void Report(const TEvtxIssue& AIssue, bool AOncePerFile);
  void ReportAll(bool AOncePerFile);

  std::string FPath;
  TEvtxReaderOptions FOptions;
  TReadOnlyFile FFile;
  TEvtxFileInfo FInfo;
  std::vector<TSlot> FOrder;  // readable chunk slots, ordered by first record id
  size_t FNextSlot = 0;       // next entry of FOrder to load
  bool FChunkOpen = false;
  uint64_t FLastRecordId = 0;
  uint64_t FFloor = 0;  // with EveryRecord: records at or below this id are passed over
  uint64_t FIssueCount = 0;
  std::unique_ptr<TState> FState;  // chunk buffer, renderer, output text
};

// Appends AXml to AOut with every CR written as "&#13;" and every LF as
// "&#10;", so that one record fits on one line of a text file.
void AppendOneLine(std::string& AOut, std::string_view AXml);

// Whether AXml holds a CR or an LF (false for an empty view, whose pointer
// may be null).
bool HasLineBreak(std::string_view AXml);

}  // namespace zor
