#include "evtx/EvtxReader.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "evtx/BinXmlRenderer.h"
#include "evtx/ByteCursor.h"
#include "evtx/Crc32.h"
#include "evtx/EvtxChunk.h"

namespace zor {

namespace {

constexpr size_t FileHeaderSize = 4096;
constexpr size_t FileHeaderUsed = 128;
constexpr char FileSignature[8] = {'E', 'l', 'f', 'F', 'i', 'l', 'e', '\0'};

}  // namespace

struct TEvtxReader::TState {
  explicit TState(TEvtxRenderProfile AProfile) : Renderer(AProfile) {}
  TEvtxChunk Chunk;
  TBinXmlRenderer Renderer;
  TOutBuffer Out;
  std::vector<TEvtxIssue> Issues;
  // A record a seek stopped before: the next Next delivers it first.
  std::optional<TEvtxRecordHeader> Held;
  // Chunk-level faults already reported, so that Refresh does not repeat them.
  std::unordered_set<std::string> Reported;
};

TEvtxReader::TEvtxReader(const std::string& APath, TEvtxReaderOptions AOptions)
    : FPath(APath), FOptions(std::move(AOptions)), FState(std::make_unique<TState>(FOptions.Profile)) {
  FLastRecordId = FOptions.StartAfterRecordId;
  FFloor = FLastRecordId;
  Open();
  ScanSlots();
}

TEvtxReader::~TEvtxReader() = default;

void TEvtxReader::Report(const TEvtxIssue& AIssue, bool AOncePerFile) {
  if (AOncePerFile && !FState->Reported.insert(std::to_string(static_cast<int>(AIssue.Kind)) + AIssue.Message).second)
    return;
  ++FIssueCount;
  if (FOptions.OnIssue) FOptions.OnIssue(AIssue);
}

void TEvtxReader::ReportAll(bool AOncePerFile) {
  for (const TEvtxIssue& issue : FState->Issues) Report(issue, AOncePerFile);
  FState->Issues.clear();
}

void TEvtxReader::Rewind() {
  FNextSlot = 0;
  FChunkOpen = false;
  FState->Held.reset();
}

void TEvtxReader::Open() {
  FOrder.clear();
  Rewind();
  FFile.Open(FPath);
  uint8_t header[FileHeaderUsed] = {};
  const size_t got = FFile.ReadAt(header, FileHeaderUsed, 0);
  if (got < FileHeaderUsed || std::memcmp(header, FileSignature, 8) != 0)
    throw EEvtxFileError(FPath + " is not an EVTX file (no ElfFile signature)");
  TEvtxFileInfo info;
  info.FirstChunk = LoadU64(header + 0x08);
  info.LastChunk = LoadU64(header + 0x10);
  info.NextRecordId = LoadU64(header + 0x18);
  info.MinorVersion = LoadU16(header + 0x24);
  info.MajorVersion = LoadU16(header + 0x26);
  info.ChunkCount = LoadU16(header + 0x2A);
  info.Flags = LoadU32(header + 0x78);
  info.FileSize = FFile.Size();
  info.ChunkSlots = info.FileSize > FileHeaderSize ? (info.FileSize - FileHeaderSize + TEvtxChunk::Size - 1) / TEvtxChunk::Size : 0;
  FInfo = info;
  if (FOptions.VerifyChecksums && (info.Flags & 0x4) == 0) {
    const uint32_t stored = LoadU32(header + 0x7C);
    const uint32_t computed = Crc32(header, 0x78);
    if (stored != computed) {
      char text[96];
      std::snprintf(text, sizeof text, ": expected 0x%08x, found 0x%08x", stored, computed);
      Report({TEvtxIssueKind::eikFileHeader, 0x7C, 0, "file header checksum of " + FPath + text}, true);
    }
  }
}

void TEvtxReader::ScanSlots() {
  // The header's chunk count lags behind in dirty files: probe every slot.
  uint8_t header[TEvtxChunk::HeaderSize];
  uint64_t lowest = 0;
  uint64_t highest = 0;
  for (uint64_t i = 0; i < FInfo.ChunkSlots; ++i) {
    const uint64_t offset = FileHeaderSize + i * TEvtxChunk::Size;
    const size_t got = FFile.ReadAt(header, sizeof header, offset);
    if (got < sizeof header) std::memset(header + got, 0, sizeof header - got);
    const TEvtxChunkHeader h = TEvtxChunkHeader::Parse(header, FOptions.VerifyChecksums);
    if (h.Unused) continue;
    if (!h.SignatureOk) {
      std::string found(reinterpret_cast<const char*>(header), 8);
      for (char& c : found) if (c < 0x20 || c > 0x7E) c = '.';
      Report({TEvtxIssueKind::eikChunkSkipped, offset, 0,
              "chunk signature at offset " + std::to_string(offset) + ": expected ElfChnk, found " + found +
                  "; chunk skipped"},
             true);
      continue;
    }
    FOrder.push_back(TSlot{i, h.FirstRecordId, h.LastRecordId, h.Trusted});
    if (lowest == 0 || h.FirstRecordId < lowest) lowest = h.FirstRecordId;
    highest = std::max(highest, h.LastRecordId);
  }
  // Record identifiers grow across chunks; a wrapped log's slots come out oldest first.
  std::stable_sort(FOrder.begin(), FOrder.end(),
                   [](const TSlot& a, const TSlot& b) { return a.FirstRecordId < b.FirstRecordId; });
  FInfo.LowestRecordId = lowest;
  FInfo.HighestRecordId = highest;
}

bool TEvtxReader::PassesOver(size_t AOrderIndex, uint64_t AFloor) const {
  // Chunks whose records all lie at or below the position.
  const TSlot& slot = FOrder[AOrderIndex];
  if (slot.Trusted && slot.LastRecordId <= AFloor) return true;
  if (AOrderIndex + 1 == FOrder.size()) return false;
  const TSlot& next = FOrder[AOrderIndex + 1];
  return next.Trusted && next.FirstRecordId > slot.FirstRecordId && next.FirstRecordId <= AFloor + 1;
}

std::vector<uint64_t> TEvtxReader::PendingChunks() const {
  std::vector<uint64_t> offsets;
  for (size_t i = FNextSlot; i < FOrder.size(); ++i)
    if (!PassesOver(i, FFloor)) offsets.push_back(FileHeaderSize + FOrder[i].Index * TEvtxChunk::Size);
  return offsets;
}

bool TEvtxReader::LoadNextChunk() {
  const uint64_t floor = FOptions.EveryRecord ? FFloor : FLastRecordId;
  for (; FNextSlot < FOrder.size(); ++FNextSlot) {
    if (PassesOver(FNextSlot, floor)) continue;
    LoadChunkAt(FNextSlot);
    return true;
  }
  return false;
}

void TEvtxReader::LoadChunkAt(size_t AOrderIndex) {
  const uint64_t offset = FileHeaderSize + FOrder[AOrderIndex].Index * TEvtxChunk::Size;
  const size_t got = FFile.ReadAt(FState->Chunk.Buffer(), TEvtxChunk::Size, offset);
  FState->Chunk.Open(offset, got, FOptions.VerifyChecksums, FState->Issues);
  ReportAll(true);
  FState->Renderer.ResetChunk(FState->Chunk.Data(), TEvtxChunk::Size, offset);
  FState->Held.reset();
  FNextSlot = AOrderIndex + 1;
  FChunkOpen = true;
}

bool TEvtxReader::Next(TEvtxRecord& ARecord) {
  TState& s = *FState;
  for (;;) {
    if (!FChunkOpen && !LoadNextChunk()) return false;
    TEvtxRecordHeader record;
    bool got = true;
    if (s.Held) {
      record = *s.Held;
      s.Held.reset();
    } else {
      got = s.Chunk.NextRecord(record, s.Issues);
      if (!s.Issues.empty()) ReportAll(true);
    }
    if (!got) {
      FChunkOpen = false;
      continue;
    }
    if (record.RecordId <= (FOptions.EveryRecord ? FFloor : FLastRecordId)) continue;
    FLastRecordId = record.RecordId;
    s.Out.Clear();
    try {
      s.Renderer.Render(record.BodyBegin(), record.BodyEnd(), s.Out);
    } catch (const EEvtxError& e) {
      Report(SkippedRecordIssue(s.Chunk.FileOffset() + record.Offset, record.RecordId, e), false);
      continue;
    }
    ARecord.RecordId = record.RecordId;
    ARecord.WrittenTime = record.WrittenTime;
    ARecord.FileOffset = s.Chunk.FileOffset() + record.Offset;
    ARecord.Xml = s.Out.View();
    return true;
  }
}

void TEvtxReader::SeekAfter(uint64_t ARecordId) {
  FLastRecordId = ARecordId;
  FFloor = ARecordId;
  Rewind();
}

void TEvtxReader::Refresh() {
  Open();
  ScanSlots();
}

bool TEvtxReader::SeekAfterPlace(const TEvtxPlace& APlace) {
  Rewind();
  if (APlace.FileOffset < FileHeaderSize) return false;
  const uint64_t slot = (APlace.FileOffset - FileHeaderSize) / TEvtxChunk::Size;
  const auto it = std::find_if(FOrder.begin(), FOrder.end(), [&](const TSlot& ASlot) { return ASlot.Index == slot; });
  if (it == FOrder.end()) return false;
  LoadChunkAt(static_cast<size_t>(it - FOrder.begin()));
  TEvtxRecordHeader record;
  bool found = false;
  while (FState->Chunk.NextRecord(record, FState->Issues)) {
    const uint64_t at = FState->Chunk.FileOffset() + record.Offset;
    if (at < APlace.FileOffset) continue;
    found = at == APlace.FileOffset && record.RecordId == APlace.RecordId;
    break;
  }
  ReportAll(true);
  if (!found) {
    Rewind();
    return false;
  }
  FLastRecordId = APlace.RecordId;
  return true;
}

void TEvtxReader::SeekPastRecordId(uint64_t ARecordId) {
  Rewind();
  TEvtxRecordHeader record;
  while (FChunkOpen || LoadNextChunk()) {
    const bool got = FState->Chunk.NextRecord(record, FState->Issues);
    ReportAll(true);
    if (!got) {
      FChunkOpen = false;
      continue;
    }
    if (record.RecordId == ARecordId) {
      FLastRecordId = ARecordId;
      return;
    }
    if (record.RecordId > ARecordId) {
      FState->Held = record;
      return;
    }
  }
}

std::optional<TEvtxPlace> TEvtxReader::SeekEnd() {
  Rewind();
  // The last chunk in file order that holds a record holds the last record.
  for (size_t i = FOrder.size(); i-- > 0;) {
    LoadChunkAt(i);
    std::optional<TEvtxPlace> last;
    TEvtxRecordHeader record;
    while (FState->Chunk.NextRecord(record, FState->Issues))
      last = TEvtxPlace{FState->Chunk.FileOffset() + record.Offset, record.RecordId};
    ReportAll(true);
    if (last) {
      FChunkOpen = false;
      FLastRecordId = last->RecordId;
      return last;
    }
  }
  Rewind();
  return std::nullopt;
}

bool HasLineBreak(std::string_view AXml) {
  if (AXml.empty()) return false;
  return std::memchr(AXml.data(), '\n', AXml.size()) != nullptr ||
         std::memchr(AXml.data(), '\r', AXml.size()) != nullptr;
}

void AppendOneLine(std::string& AOut, std::string_view AXml) {
  // An empty view may carry no pointer at all, and memchr must not see one.
  if (AXml.empty()) return;
  // Line breaks are rare: find them with memchr, which scans many bytes a step.
  const char* from = AXml.data();
  const char* const end = from + AXml.size();
  const char* lf = static_cast<const char*>(std::memchr(from, '\n', AXml.size()));
  const char* cr = static_cast<const char*>(std::memchr(from, '\r', AXml.size()));
  while (lf || cr) {
    const char* at = !cr || (lf && lf < cr) ? lf : cr;
    AOut.append(from, static_cast<size_t>(at - from));
    AOut.append(*at == '\r' ? "&#13;" : "&#10;");
    from = at + 1;
    if (at == lf) lf = static_cast<const char*>(std::memchr(from, '\n', static_cast<size_t>(end - from)));
    if (at == cr) cr = static_cast<const char*>(std::memchr(from, '\r', static_cast<size_t>(end - from)));
  }
  AOut.append(from, static_cast<size_t>(end - from));
}

}  // namespace zor
