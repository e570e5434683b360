#include "evtx/ParallelEvtxReader.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "core/CustomThread.h"
#include "core/SignalledQueue.h"
#include "evtx/BinXmlRenderer.h"
#include "evtx/EvtxChunk.h"
#include "evtx/OutBuffer.h"

namespace zor {

namespace {

// Chunks go to the decoding threads in runs of consecutive chunks of the
// plan: one hand-over (a wake-up each way) per run rather than per chunk.
constexpr size_t ChunksPerRun = 4;
// Runs a decoding thread may hold beyond the one Next is in: enough to keep
// it busy while Next works through the runs of the other threads.
constexpr size_t AheadPerThread = 2;

}  // namespace

// The records of a run of chunks, rendered one after the other into Text.
struct TDecodedRun {
  struct TEntry {
    uint64_t RecordId;
    uint64_t WrittenTime;
    uint64_t FileOffset;
    size_t Begin;         // the record's XML is Text[Begin, End)
    size_t End;
    size_t IssuesBefore;  // issues met before this record, reported before it is delivered
  };
  std::vector<uint64_t> Chunks;  // file offsets of the run's chunks, in reading order
  std::vector<TEntry> Records;
  std::vector<TEvtxIssue> Issues;
  TOutBuffer Text;
  // A chunk could not be read: Next throws this after the records of the
  // chunks before it. Nothing of that chunk is kept.
  std::exception_ptr Failure;

  void Clear(const uint64_t* AChunks, size_t ACount) {
    Chunks.assign(AChunks, AChunks + ACount);
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

  TSignalledQueue<TDecodedRun> Jobs;
  TSignalledQueue<TDecodedRun> Done;

 protected:
  bool Execute() override {
    for (;;) {
      const uint32_t signalled = WaitForAny({FShouldFinishEvent.get(), Jobs.QueueEvent()}, INFINITE);
      if (signalled == 0) break;
      if (signalled != 1) continue;
      for (std::unique_ptr<TDecodedRun>& job : Jobs.DequeueAll()) {
        for (const uint64_t chunk : job->Chunks) {
          const size_t records = job->Records.size();
          const size_t issues = job->Issues.size();
          const size_t text = job->Text.Size();
          // Whatever goes wrong goes back with the run, to the thread that reads it.
          try {
            Decode(*job, chunk);
          } catch (const std::exception&) {
            job->Records.resize(records);
            job->Issues.resize(issues);
            job->Text.Truncate(text);
            job->Failure = std::current_exception();
            break;
          }
        }
        Done.Enqueue(std::move(job));
      }
    }
    return true;
  }

 private:
  // What TEvtxReader::Next does for one chunk in file order.
  void Decode(TDecodedRun& AJob, uint64_t AChunk) {
    const size_t got = FFile.ReadAt(FChunk.Buffer(), TEvtxChunk::Size, AChunk);
    FChunk.Open(AChunk, got, FVerifyChecksums, AJob.Issues);
    FRenderer.ResetChunk(FChunk.Data(), TEvtxChunk::Size, AChunk);
    TEvtxRecordHeader record;
    while (FChunk.NextRecord(record, AJob.Issues)) {
      if (record.RecordId <= FFloor) continue;
      const size_t begin = AJob.Text.Size();
      try {
        FRenderer.Render(record.BodyBegin(), record.BodyEnd(), AJob.Text);
      } catch (const EEvtxError& e) {
        AJob.Text.Truncate(begin);
        AJob.Issues.push_back(SkippedRecordIssue(AChunk + record.Offset, record.RecordId, e));
        continue;
      }
      if (FOneLine) WriteOnOneLine(AJob.Text, begin);
      AJob.Records.push_back({record.RecordId, record.WrittenTime, AChunk + record.Offset, begin,
                              AJob.Text.Size(), AJob.Issues.size()});
      if (FOneLine) AJob.Text.Push('\n');
    }
  }

  // Rewrites the record at AText[ABegin, end) with its line breaks as references.
  void WriteOnOneLine(TOutBuffer& AText, size_t ABegin) {
    const std::string_view xml = AText.View().substr(ABegin);
    if (!HasLineBreak(xml)) return;
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
    : FOptions(std::move(AOptions)), FOneLine(AOneLine) {
  FOptions.EveryRecord = true;
  {
    // The plain reader finds the chunks and reports the file's own faults.
    TEvtxReaderOptions planning = FOptions;
    planning.OnIssue = [this](const TEvtxIssue& AIssue) { Report(AIssue); };
    const TEvtxReader reader(APath, std::move(planning));
    FPlan = reader.PendingChunks();
  }
  FFile.Open(APath);
  FRuns = (FPlan.size() + ChunksPerRun - 1) / ChunksPerRun;
  const size_t threads = std::clamp<size_t>(AThreads, 1, std::max<size_t>(1, FRuns));
  for (size_t i = 0; i < threads; ++i) {
    FThreads.push_back(std::make_unique<TChunkDecodeThread>(FFile, FOptions, FOneLine));
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
  const size_t limit = std::min(FRuns, FTaken + AheadPerThread * FThreads.size());
  for (; FAssigned < limit; ++FAssigned) {
    std::unique_ptr<TDecodedRun> job;
    if (FSpare.empty()) {
      job = std::make_unique<TDecodedRun>();
    } else {
      job = std::move(FSpare.back());
      FSpare.pop_back();
    }
    const size_t first = FAssigned * ChunksPerRun;
    job->Clear(FPlan.data() + first, std::min(ChunksPerRun, FPlan.size() - first));
    FThreads[FAssigned % FThreads.size()]->Jobs.Enqueue(std::move(job));
  }
}

std::unique_ptr<TDecodedRun> TParallelEvtxReader::Take() {
  // A thread hands its runs back in the order it got them.
  TSignalledQueue<TDecodedRun>& done = FThreads[FTaken % FThreads.size()]->Done;
  for (;;) {
    if (done.QueueEvent()->WaitFor(INFINITE) && done.Count() > 0) return done.Dequeue();
  }
}

bool TParallelEvtxReader::Advance() {
  if (FCurrent) {
    ReportUpTo(FCurrent->Issues.size());
    const std::exception_ptr failure = FCurrent->Failure;
    FSpare.push_back(std::move(FCurrent));
    if (failure) std::rethrow_exception(failure);
  }
  if (FTaken == FRuns) return false;
  FCurrent = Take();
  ++FTaken;
  FRecord = 0;
  FIssuesReported = 0;
  Assign();
  return true;
}

bool TParallelEvtxReader::Next(TEvtxRecord& ARecord) {
  while (!FCurrent || FRecord == FCurrent->Records.size())
    if (!Advance()) return false;
  const TDecodedRun::TEntry& entry = FCurrent->Records[FRecord++];
  ReportUpTo(entry.IssuesBefore);
  ARecord.RecordId = entry.RecordId;
  ARecord.WrittenTime = entry.WrittenTime;
  ARecord.FileOffset = entry.FileOffset;
  ARecord.Xml = FCurrent->Text.View().substr(entry.Begin, entry.End - entry.Begin);
  return true;
}

bool TParallelEvtxReader::NextLines(TEvtxLines& ALines) {
  if (!FOneLine) throw std::logic_error("NextLines needs a reader that writes records on one line");
  while (!FCurrent || FRecord == FCurrent->Records.size())
    if (!Advance()) return false;
  const TDecodedRun::TEntry& first = FCurrent->Records[FRecord];
  const TDecodedRun::TEntry& last = FCurrent->Records.back();
  ReportUpTo(last.IssuesBefore);
  ALines.Text = FCurrent->Text.View().substr(first.Begin, last.End + 1 - first.Begin);
  ALines.Count = FCurrent->Records.size() - FRecord;
  ALines.LastFileOffset = last.FileOffset;
  FRecord = FCurrent->Records.size();
  return true;
}

}  // namespace zor
