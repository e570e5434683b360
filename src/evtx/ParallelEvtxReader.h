#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "evtx/EvtxReader.h"
#include "evtx/ReadOnlyFile.h"

namespace zor {

class TChunkDecodeThread;
struct TDecodedRun;

// Records written on one line each, one after the other.
struct TEvtxLines {
  std::string_view Text;        // each record's XML followed by a line feed
  uint64_t Count = 0;           // how many records
  uint64_t LastFileOffset = 0;  // where the last of them starts in the file
};

// Reads a whole .evtx file in file order, as TEvtxReader with the EveryRecord
// option does, with its chunks decoded ahead on several threads. It delivers
// the same records in the same order, and reports the same issues in the same
// order, as that reader would; only the work is spread.
//
// In file order every chunk is read on its own (its records, its template and
// name caches), so the chunks go out in runs of a few consecutive ones, run k
// to decoding thread k mod N, and Next takes the decoded runs back in file
// order. At most a few runs per thread are decoded ahead of the one Next is
// in, so memory stays bounded whatever the file size.
//
// Threads: the decoding threads run from the constructor to the destructor.
// One thread calls Next; OnIssue is called on that thread. A decoded chunk is
// touched by one thread at a time: it moves to a decoding thread and back
// through that thread's queues.
class TParallelEvtxReader {
 public:
  // Opens APath as TEvtxReader does (EveryRecord is implied; throws
  // EEvtxFileError likewise) and starts AThreads decoding threads (at least 1).
  // AOneLine: each record's XML comes with its line breaks written as
  // references, as AppendOneLine writes them (done on the decoding threads).
  TParallelEvtxReader(const std::string& APath, TEvtxReaderOptions AOptions, unsigned AThreads, bool AOneLine = false);
  ~TParallelEvtxReader();
  TParallelEvtxReader(const TParallelEvtxReader&) = delete;
  TParallelEvtxReader& operator=(const TParallelEvtxReader&) = delete;

  // Fills ARecord with the next record and returns true, or returns false at
  // the end of the file. ARecord.Xml stays valid until the next call. Throws
  // EEvtxFileError when the file can no longer be read.
  [[nodiscard]] bool Next(TEvtxRecord& ARecord);
  // For a reader made with AOneLine (throws std::logic_error otherwise), in
  // place of Next: the records Next would give next, as many as are decoded
  // together, in one piece of text, each record followed by a line feed.
  // Reports the issues met before the last of them. Returns false at the end
  // of the file. ALines.Text stays valid until the next call of either.
  [[nodiscard]] bool NextLines(TEvtxLines& ALines);

  uint64_t IssueCount() const { return FIssueCount; }

 private:
  void Report(const TEvtxIssue& AIssue);
  void ReportUpTo(size_t ACount);
  // Leaves the run Next is in (reporting its last issues, throwing its
  // failure) for the next one; false when there is none.
  bool Advance();
  // Hands out runs to the decoding threads until enough are in flight.
  void Assign();
  std::unique_ptr<TDecodedRun> Take();

  TEvtxReaderOptions FOptions;
  const bool FOneLine;
  uint64_t FIssueCount = 0;
  TReadOnlyFile FFile;  // shared by the decoding threads (positioned reads only)
  std::vector<uint64_t> FPlan;  // file offsets of the chunks, in reading order
  size_t FRuns = 0;             // runs of chunks FPlan makes
  size_t FAssigned = 0;         // runs handed out so far
  size_t FTaken = 0;            // runs taken back so far
  std::unique_ptr<TDecodedRun> FCurrent;  // the run Next is in
  size_t FRecord = 0;                       // next record of FCurrent
  size_t FIssuesReported = 0;               // issues of FCurrent reported so far
  std::vector<std::unique_ptr<TDecodedRun>> FSpare;  // decoded runs to reuse
  std::vector<std::unique_ptr<TChunkDecodeThread>> FThreads;
};

}  // namespace zor
