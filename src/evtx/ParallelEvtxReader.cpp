#include "evtx/ParallelEvtxReader.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string_view>
#include <utility>

#include "core/CustomThread.h"
#include "core/SignalledQueue.h"
#include "evtx/BinXmlRenderer.h"
#include "evtx/EvtxChunk.h"
#include "evtx/OutBuffer.h"

namespace zor {

namespace {

// Chunks a decoding thread may hold beyond the one Next is in: enough to keep
// it busy while Next works through the chunks of the other threads.
constexpr size_t AheadPerThread = 4;

}  // namespace

// One chunk's records, rendered one after the other into Text.
struct TDecodedChunk {
  struct TEntry {
    uint64_t RecordId;
    uint64_t WrittenTime;
    uint64_t FileOffset;
    size_t Begin;         // the record's XML is Text[Begin, End)
    size_t End;
    size_t IssuesBefore;  // issues met before this record, reported before it is delivered
  };
  uint64_t FileOffset = 0;
  std::vector<TEntry> Records;
  std::vector<TEvtxIssue> Issues;
  TOutBuffer Text;
  std::exception_ptr Failure;  // the file could not be read; Next throws it

  void Clear(uint64_t AFileOffset) {
    FileOffset = AFileOffset;
    Records.clear();
    Issues.clear();
    Text.Clear();
    Failure = nullptr;
  }
};

// Decodes the chunks queued to it, in queue order, and queues them back done.
// Owns its chunk buffer and renderer; borrows the file, which outlives it.
class TChunkDecodeThread : public TCustomThread {
 public:
  TChunkDecodeThread(const TReadOnlyFile& AFile, const TEvtxReaderOptions& AOptions, bool AOneLine)
      : FFile(AFile),
        FVerifyChecksums(AOptions.VerifyChecksums),
        FOneLine(AOneLine),
        FFloor(AOptions.StartAfterRecordId),
        FRenderer(AOptions.Profile) {}
  ~TChunkDecodeThread() override { (void)ThreadStop(true, INFINITE); }

  TSignalledQueue<TDecodedChunk> Jobs;
  TSignalledQueue<TDecodedChunk> Done;

 protected:
  bool Execute() override {
    for (;;) {
      const uint32_t signalled = WaitForAny({FShouldFinishEvent.get(), Jobs.QueueEvent()}, INFINITE);
      if (signalled == 0) break;
      if (signalled != 1) continue;
      for (std::unique_ptr<TDecodedChunk>& job : Jobs.DequeueAll()) {
        // Whatever goes wrong goes back with the chunk, to the thread that reads it.
        try {
          Decode(*job);
        } catch (const std::exception&) {
          job->Failure = std::current_exception();
        }
        Done.Enqueue(std::move(job));
      }
    }
    return true;
  }

 private:
  // What TEvtxReader::Next does for one chunk in file order.
  void Decode(TDecodedChunk& AJob) {
    const size_t got = FFile.ReadAt(FChunk.Buffer(), TEvtxChunk::Size, AJob.FileOffset);
    FChunk.Open(AJob.FileOffset, got, FVerifyChecksums, AJob.Issues);
    FRenderer.ResetChunk(FChunk.Data(), TEvtxChunk::Size, AJob.FileOffset);
    TEvtxRecordHeader record;
    while (FChunk.NextRecord(record, AJob.Issues)) {
      if (record.RecordId <= FFloor) continue;
      const size_t begin = AJob.Text.Size();
      try {
        FRenderer.Render(record.BodyBegin(), record.BodyEnd(), AJob.Text);
      } catch (const EEvtxError& e) {
        AJob.Text.Truncate(begin);
        AJob.Issues.push_back(SkippedRecordIssue(AJob.FileOffset + record.Offset, record.RecordId, e));
        continue;
      }
      if (FOneLine) WriteOnOneLine(AJob.Text, begin);
      AJob.Records.push_back({record.RecordId, record.WrittenTime, AJob.FileOffset + record.Offset, begin,
                              AJob.Text.Size(), AJob.Issues.size()});
    }
  }

  // Rewrites the record at AText[ABegin, end) with its line breaks as references.
  void WriteOnOneLine(TOutBuffer& AText, size_t ABegin) {
    const std::string_view xml = AText.View().substr(ABegin);
    if (!std::memchr(xml.data(), '\n', xml.size()) && !std::memchr(xml.data(), '\r', xml.size())) return;
    FLine.clear();
    AppendOneLine(FLine, xml);
    AText.Truncate(ABegin);
    AText.Append(FLine);
  }

  const TReadOnlyFile& FFile;
  const bool FVerifyChecksums;
  const bool FOneLine;
  const uint64_t FFloor;
  TEvtxChunk FChunk;
  TBinXmlRenderer FRenderer;
  std::string FLine;
};

TParallelEvtxReader::TParallelEvtxReader(const std::string& APath, TEvtxReaderOptions AOptions, unsigned AThreads,
                                         bool AOneLine)
    : FOptions(std::move(AOptions)) {
  FOptions.EveryRecord = true;
  {
    // The plain reader finds the chunks and reports the file's own faults.
    TEvtxReaderOptions planning = FOptions;
    planning.OnIssue = [this](const TEvtxIssue& AIssue) { Report(AIssue); };
    const TEvtxReader reader(APath, std::move(planning));
    FPlan = reader.PendingChunks();
  }
  FFile.Open(APath);
  const size_t threads = std::clamp<size_t>(AThreads, 1, std::max<size_t>(1, FPlan.size()));
  for (size_t i = 0; i < threads; ++i) {
    FThreads.push_back(std::make_unique<TChunkDecodeThread>(FFile, FOptions, AOneLine));
    if (!FThreads.back()->ThreadStart(false, 0)) throw EEvtxFileError("cannot start a thread to read " + APath);
  }
  Assign();
}

TParallelEvtxReader::~TParallelEvtxReader() {
  // Every thread ends before the file and the chunks it works on go.
  for (std::unique_ptr<TChunkDecodeThread>& thread : FThreads) (void)thread->ThreadStop(true, INFINITE);
}

void TParallelEvtxReader::Report(const TEvtxIssue& AIssue) {
  ++FIssueCount;
  if (FOptions.OnIssue) FOptions.OnIssue(AIssue);
}

void TParallelEvtxReader::ReportUpTo(size_t ACount) {
  for (; FIssuesReported < ACount; ++FIssuesReported) Report(FCurrent->Issues[FIssuesReported]);
}

void TParallelEvtxReader::Assign() {
  const size_t limit = std::min(FPlan.size(), FTaken + AheadPerThread * FThreads.size());
  for (; FAssigned < limit; ++FAssigned) {
    std::unique_ptr<TDecodedChunk> job;
    if (FSpare.empty()) {
      job = std::make_unique<TDecodedChunk>();
    } else {
      job = std::move(FSpare.back());
      FSpare.pop_back();
    }
    job->Clear(FPlan[FAssigned]);
    FThreads[FAssigned % FThreads.size()]->Jobs.Enqueue(std::move(job));
  }
}

std::unique_ptr<TDecodedChunk> TParallelEvtxReader::Take() {
  // A thread hands its chunks back in the order it got them.
  TSignalledQueue<TDecodedChunk>& done = FThreads[FTaken % FThreads.size()]->Done;
  for (;;) {
    if (done.QueueEvent()->WaitFor(INFINITE) && done.Count() > 0) return done.Dequeue();
  }
}

bool TParallelEvtxReader::Next(TEvtxRecord& ARecord) {
  for (;;) {
    if (FCurrent) {
      if (FRecord < FCurrent->Records.size()) {
        const TDecodedChunk::TEntry& entry = FCurrent->Records[FRecord++];
        ReportUpTo(entry.IssuesBefore);
        ARecord.RecordId = entry.RecordId;
        ARecord.WrittenTime = entry.WrittenTime;
        ARecord.FileOffset = entry.FileOffset;
        ARecord.Xml = FCurrent->Text.View().substr(entry.Begin, entry.End - entry.Begin);
        return true;
      }
      ReportUpTo(FCurrent->Issues.size());
      FSpare.push_back(std::move(FCurrent));
    }
    if (FTaken == FPlan.size()) return false;
    FCurrent = Take();
    ++FTaken;
    FRecord = 0;
    FIssuesReported = 0;
    Assign();
    if (FCurrent->Failure) {
      const std::exception_ptr failure = FCurrent->Failure;
      FSpare.push_back(std::move(FCurrent));
      std::rethrow_exception(failure);
    }
  }
}

}  // namespace zor
