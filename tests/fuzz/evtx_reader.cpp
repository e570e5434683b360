// Fuzz target: the EVTX reader and renderer over arbitrary file bytes.
// The input is written to a temporary file and read through TEvtxReader in
// both modes and both rendering profiles, with the seeks of file order;
// inputs shorter than a chunk are
// also given straight to the chunk walker and renderer as one chunk.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "ScratchFile.h"
#include "evtx/BinXmlRenderer.h"
#include "evtx/EvtxChunk.h"
#include "evtx/EvtxReader.h"
#include "evtx/ParallelEvtxReader.h"

namespace {

void ReadFile(const std::string& APath, bool AEveryRecord, zor::TEvtxRenderProfile AProfile) {
  zor::TEvtxReaderOptions options;
  options.EveryRecord = AEveryRecord;
  options.Profile = AProfile;
  size_t issues = 0;
  options.OnIssue = [&](const zor::TEvtxIssue& AIssue) { issues += AIssue.Message.size() > 0 ? 1 : 0; };
  try {
    zor::TEvtxReader reader(APath, std::move(options));
    zor::TEvtxRecord record;
    size_t bytes = 0;
    while (reader.Next(record)) bytes += record.Xml.size();
    reader.SeekAfter(2);
    while (reader.Next(record)) bytes += record.Xml.size();
    if (AEveryRecord) {
      // Finding places again, as a reader of a channel does after a change
      // or from a bookmark (whose offset is outside input too).
      const std::optional<zor::TEvtxPlace> last = reader.SeekEnd();
      if (last && reader.SeekAfterPlace(*last)) bytes += reader.Next(record) ? 1 : 0;
      (void)reader.SeekAfterPlace({4096 + 512, 1});
      while (reader.Next(record)) bytes += record.Xml.size();
      reader.SeekPastRecordId(last ? last->RecordId : 3);
      while (reader.Next(record)) bytes += record.Xml.size();
    }
    (void)bytes;
  } catch (const zor::EEvtxFileError&) {
  }
}

// What a whole read of a file gives: the records with their places and the
// issues in the order they come, and apart from that the records' lines
// alone and the issues alone.
struct TTranscript {
  std::string All;
  std::string Lines;
  std::string Issues;

  void Issue(const std::string& AText) {
    All += AText + "\n";
    Issues += AText + "\n";
  }
  void Record(const zor::TEvtxRecord& ARecord) {
    All += std::to_string(ARecord.RecordId) + " " + std::to_string(ARecord.FileOffset) + " ";
    const size_t begin = Lines.size();
    zor::AppendOneLine(Lines, ARecord.Xml);
    Lines += "\n";
    All.append(Lines, begin);
  }
};

// Reads the file whole with the plain reader and with its chunks decoded on
// two threads, record by record or in lines (whose issues come before the
// lines of their run); anything that differs aborts.
void CompareParallel(const std::string& APath, bool AOneLine) {
  TTranscript plain;
  TTranscript parallel;
  zor::TEvtxReaderOptions options;
  options.EveryRecord = true;
  options.OnIssue = [&](const zor::TEvtxIssue& AIssue) { plain.Issue(AIssue.Message); };
  try {
    zor::TEvtxReader reader(APath, options);
    zor::TEvtxRecord record;
    while (reader.Next(record)) plain.Record(record);
  } catch (const zor::EEvtxFileError& e) {
    plain.Issue(std::string("failed ") + e.what());
  }
  options.OnIssue = [&](const zor::TEvtxIssue& AIssue) { parallel.Issue(AIssue.Message); };
  try {
    zor::TParallelEvtxReader reader(APath, options, 2, AOneLine);
    zor::TEvtxRecord record;
    zor::TEvtxLines lines;
    if (AOneLine) {
      while (reader.NextLines(lines)) parallel.Lines.append(lines.Text);
    } else {
      while (reader.Next(record)) parallel.Record(record);
    }
  } catch (const zor::EEvtxFileError& e) {
    parallel.Issue(std::string("failed ") + e.what());
  }
  const bool same = AOneLine ? plain.Lines == parallel.Lines && plain.Issues == parallel.Issues
                             : plain.All == parallel.All;
  if (!same) std::abort();
}

void RenderChunk(const uint8_t* AData, size_t ASize) {
  zor::TEvtxChunk chunk;
  const size_t size = ASize < zor::TEvtxChunk::Size ? ASize : zor::TEvtxChunk::Size;
  std::memcpy(chunk.Buffer(), AData, size);
  std::vector<zor::TEvtxIssue> issues;
  chunk.Open(0, size, false, issues);
  zor::TBinXmlRenderer renderer;
  renderer.ResetChunk(chunk.Data(), zor::TEvtxChunk::Size, 0);
  zor::TOutBuffer out;
  zor::TEvtxRecordHeader record;
  while (chunk.NextRecord(record, issues)) {
    out.Clear();
    try {
      renderer.Render(record.BodyBegin(), record.BodyEnd(), out);
    } catch (const zor::EEvtxError&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const zor::test::TScratchFile scratch("evtx_reader_fuzz");
  const std::string& path = scratch.Path();
  if (size >= 8 && std::memcmp(data, "ElfChnk", 7) == 0) {
    RenderChunk(data, size);
    return 0;
  }
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  if (size != 0) std::fwrite(data, 1, size, file);  // the empty input may come without a pointer
  std::fclose(file);
  ReadFile(path, false, zor::TEvtxRenderProfile::erpCurrent);
  ReadFile(path, true, zor::TEvtxRenderProfile::erpLegacy);
  CompareParallel(path, (size & 1) != 0);
  return 0;
}
