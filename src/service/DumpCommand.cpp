// The dump command: every record of an event log, rendered, one per line.
// The log is an .evtx or .xml file, or a channel of the event log root;
// --query keeps only the records an event query selects.
#include <pugixml.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "evtx/ChannelStore.h"
#include "evtx/EventQuery.h"
#include "evtx/EvtxReader.h"
#include "evtx/ParallelEvtxReader.h"
#include "evtx/XmlChannel.h"
#include "platform/Terminal.h"
#include "service/ProgramOptions.h"

namespace zor {

namespace {

// Decides per rendered record whether it is printed; empty: every record is.
using TRecordFilter = std::function<bool(std::string_view AXml)>;

// The progress line of a dump of a large file, for a person watching standard
// error at a terminal: "dump: N records, P% of the file", rewritten in place
// a few times a second and cleared at the end. Silent for a small file or
// when standard error is not a terminal (a pipe or file gets only the final
// count).
class TDumpProgress {
 public:
  static constexpr uint64_t MinFileBytes = 8 * 1024 * 1024;

  explicit TDumpProgress(const std::filesystem::path& AFile) {
    std::error_code error;
    FFileBytes = std::filesystem::file_size(AFile, error);
    FShown = !error && FFileBytes >= MinFileBytes && IsTerminal(2);
  }
  TDumpProgress(const TDumpProgress&) = delete;
  TDumpProgress& operator=(const TDumpProgress&) = delete;
  ~TDumpProgress() {
    // The final count then stands on a line of its own.
    if (FWritten) std::fputs("\r\033[K", stderr);
  }

  // After each record or run of records read: ARecords so far, the reading
  // at AOffset of the file. The first line comes at once, the next ones a quarter of a second
  // apart.
  void Note(uint64_t ARecords, uint64_t AOffset) {
    // The clock is looked at only every few thousand records.
    if (!FShown || ARecords < FNextLook) return;
    FNextLook = ARecords + 4096;
    const auto now = std::chrono::steady_clock::now();
    if (FWritten && now - FLast < std::chrono::milliseconds(250)) return;
    FLast = now;
    const unsigned percent = static_cast<unsigned>(std::min<uint64_t>(AOffset, FFileBytes) * 100 / FFileBytes);
    std::fprintf(stderr, "\rdump: %llu records, %u%% of the file", static_cast<unsigned long long>(ARecords), percent);
    std::fflush(stderr);
    FWritten = true;
  }

 private:
  uint64_t FFileBytes = 0;
  bool FShown = false;
  bool FWritten = false;
  uint64_t FNextLook = 4096;
  std::chrono::steady_clock::time_point FLast;
};

// Writes to standard output; false once a write has failed. A dump ends at
// its first failed write: a reader that went away (`dump FILE | head`) shows
// here as EPIPE when SIGPIPE is ignored; otherwise the signal ends the
// program quietly, as it ends any filter.
bool WriteOut(std::string_view AText) { return std::fwrite(AText.data(), 1, AText.size(), stdout) == AText.size(); }

bool WriteRecord(std::string& ALine, std::string_view AXml) {
  // Most records hold no line break: they go out as they are.
  if (!HasLineBreak(AXml)) return WriteOut(AXml) && std::fputc('\n', stdout) != EOF;
  ALine.clear();
  AppendOneLine(ALine, AXml);
  ALine.push_back('\n');
  return WriteOut(ALine);
}

// Writes every record of AReader that AFilter keeps to standard output;
// returns the number of records written.
template <typename TReader>
uint64_t DumpRecords(TReader& AReader, const TRecordFilter* AFilter, TDumpProgress& AProgress) {
  std::string line;
  uint64_t count = 0;
  uint64_t read = 0;
  TEvtxRecord record;
  while (AReader.Next(record)) {
    AProgress.Note(++read, record.FileOffset);
    if (AFilter && !(*AFilter)(record.Xml)) continue;
    if (!WriteRecord(line, record.Xml)) break;
    ++count;
  }
  return count;
}

// The same for the .evtx file APath, its chunks decoded on AThreads threads.
// Damaged chunks and records are reported on standard error and skipped.
uint64_t DumpEvtxFile(const std::string& APath, const TRecordFilter* AFilter, unsigned AThreads) {
  TDumpProgress progress(APath);
  if (AThreads == 0) {
    // Starting a thread and giving it fresh memory costs about what decoding
    // a few dozen chunks does: small files are read on this thread alone.
    constexpr uint64_t MinBytesPerThread = 2 * 1024 * 1024;
    std::error_code error;
    const uint64_t size = std::filesystem::file_size(APath, error);
    AThreads = static_cast<unsigned>(std::clamp<uint64_t>(error ? 1 : size / MinBytesPerThread, 1,
                                                          std::max(1u, std::thread::hardware_concurrency())));
  }
  TEvtxReaderOptions options;
  options.EveryRecord = true;
  options.OnIssue = [](const TEvtxIssue& AIssue) { std::fprintf(stderr, "%s\n", AIssue.Message.c_str()); };
  if (AThreads > 1 && AFilter) {
    // A query looks at each record as rendered.
    TParallelEvtxReader reader(APath, std::move(options), AThreads, false);
    return DumpRecords(reader, AFilter, progress);
  }
  if (AThreads > 1) {
    // The decoding threads write the lines; here they are only passed on,
    // many records at a time.
    TParallelEvtxReader reader(APath, std::move(options), AThreads, true);
    uint64_t count = 0;
    TEvtxLines lines;
    while (reader.NextLines(lines)) {
      if (!WriteOut(lines.Text)) break;
      count += lines.Count;
      progress.Note(count, lines.LastFileOffset);
    }
    return count;
  }
  TEvtxReader reader(APath, std::move(options));
  return DumpRecords(reader, AFilter, progress);
}

// The same for an XML channel file.
uint64_t DumpXmlFile(const std::filesystem::path& APath, const TRecordFilter& AFilter) {
  const std::unique_ptr<IRecordSource> source = OpenXmlSource(APath);
  TDumpProgress progress(APath);
  std::vector<TChannelRecord> records;
  std::string line;
  uint64_t count = 0;
  uint64_t read = 0;
  while (true) {
    records.clear();
    if (source->Read(1000, records) == 0) break;
    for (const TChannelRecord& record : records) {
      progress.Note(++read, record.Offset);
      if (AFilter && !AFilter(record.Xml)) continue;
      if (!WriteRecord(line, record.Xml)) return count;
      ++count;
    }
  }
  return count;
}

// A QueryList's paths name channels; a file answers to its channel name and
// to its own path.
TRecordFilter FilterOf(const std::string& AQuery, std::vector<std::string> AChannelNames) {
  std::shared_ptr<const TEventQuery> query = TEventQuery::Parse(AQuery);
  if (query->SelectsEverything() && query->Channels().empty()) return {};
  return [query, names = std::move(AChannelNames)](std::string_view AXml) {
    pugi::xml_document document;
    if (!document.load_buffer(AXml.data(), AXml.size(), TEventQuery::QueryParseOptions)) return false;
    for (const std::string& name : names)
      if (query->Matches(document.document_element(), name)) return true;
    return false;
  };
}

}  // namespace

int RunDump(const TProgramOptions& AOptions, const std::string& ASource, const std::string& AQuery, unsigned AThreads) {
  // Larger writes: a dump's output is often hundreds of megabytes. (Without a
  // buffer of its own, stdio would write in blocks of the file system's size.)
  // Not larger than this: every page of it is a page fault on a short run,
  // which costs more than the few more writes it saves, and the runs of
  // records from the decoding threads go past the buffer anyway.
  static char outputBuffer[32 * 1024];
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  uint64_t count = 0;
  try {
    std::filesystem::path file(ASource);
    TChannelStore::TChannelKind kind = TChannelStore::TChannelKind::ckEvtx;
    std::error_code error;
    if (std::filesystem::is_regular_file(file, error)) {
      const std::string extension = file.extension().string();
      if (SameChannelName(extension, ".xml")) kind = TChannelStore::TChannelKind::ckXml;
    } else {
      const TChannelStore store(EventLogRootOf(AOptions));
      const TChannelStore::TLocation location = store.Locate(ASource);
      if (!location.Exists) throw EChannelError("no file or channel " + ASource + " in " + store.Root().string());
      file = location.File;
      kind = location.Kind;
    }
    const TRecordFilter filter =
        FilterOf(AQuery, {TChannelStore::ChannelOf(file.filename().string()), std::filesystem::absolute(file).string(),
                          ASource});
    count = kind == TChannelStore::TChannelKind::ckXml ? DumpXmlFile(file, filter) : DumpEvtxFile(file.string(), filter ? &filter : nullptr, AThreads);
  } catch (const EQueryError& e) {
    std::fprintf(stderr, "dump: invalid query: %s\n", e.what());
    return 1;
  } catch (const EZorError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "dump: %s\n", e.what());
    return 1;
  }
  if (std::ferror(stdout) != 0 || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "dump: cannot write to standard output: %s\n", std::strerror(errno));
    return 1;
  }
  std::fprintf(stderr, "%llu records\n", static_cast<unsigned long long>(count));
  return 0;
}

}  // namespace zor
