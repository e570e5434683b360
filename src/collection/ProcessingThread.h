#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "beats/LogBeat.h"
#include "beats/WinLogBeat.h"
#include "collection/BatchSequencer.h"
#include "collection/EventLog.h"
#include "collection/ProcessingBatch.h"
#include "core/CustomThread.h"
#include "core/SignalledQueue.h"
#include "syslog/BaseSysLogMessage.h"
#include "syslog/SyslogMessageQueue.h"

namespace zor {

using TProcessingBatchQueue = TSignalledQueue<TProcessingBatch>;
using TLogBeatQueue = TSignalledQueue<TLogBeat>;

// Time the processing threads spent building the output of batches (parse
// and build, not the wait for their turn), summed over every thread.
// Relaxed atomics: any thread adds, any thread reads.
struct TProcessingCounters {
  std::atomic<uint64_t> BatchNanoseconds{0};
  std::atomic<uint64_t> Batches{0};
};

// One worker of the processor pool: drains every queued batch and turns each
// event into one syslog message per syslog receiver and one beat document per
// beat receiver of the batch's reader.
//
// Each event is parsed once per batch: the parse does not depend on the
// receiver, only the message type and the destination do. An event that
// cannot be parsed or built is logged and skipped, on both paths alike; the
// other events and batches of the drain go on.
//
// Ownership: the three queues are borrowed from the processor and must
// outlive the thread. Batches taken from the inbound queue are freed after
// use; messages and documents move to the outbound queues, one EnqueueBatch
// per receiver (also an empty one), each list in event order. A document is
// queued as its written text (TRenderedBeat): the text is written here, once
// per event for all beat receivers, rather than by the sender.
class TProcessingThread : public TCustomThread {
 public:
  TProcessingThread(int32_t AThreadIndex, TProcessingBatchQueue* AInboundQueue,
                    TSyslogMessageQueue* AOutboundSyslogQueue, TLogBeatQueue* AOutboundBeatQueue,
                    TBatchSequencer* ASequencer = nullptr, TProcessingCounters* ACounters = nullptr);
  ~TProcessingThread() override;

  [[nodiscard]] int32_t ThreadIndex() const { return FThreadIndex; }

  // Processes every batch queued now on the calling thread, as one wake-up of
  // the worker does. Returns at once when nothing is queued.
  void ProcessQueuedBatches();

 protected:
  bool Execute() override;

 private:
  // The messages and documents of one batch: one list per receiver.
  struct TBatchOutput {
    std::vector<TSyslogMessageQueue::TItemList> SyslogLists;
    std::vector<TLogBeatQueue::TItemList> BeatLists;
    [[nodiscard]] size_t ItemCount() const {
      size_t count = 0;
      for (const auto& list : SyslogLists) count += list.size();
      for (const auto& list : BeatLists) count += list.size();
      return count;
    }
  };
  [[nodiscard]] TBatchOutput ProcessBatch(TProcessingBatch& ABatch);
  void Deliver(TBatchOutput&& AOutput);

  const int32_t FThreadIndex;
  TProcessingBatchQueue* const FInboundQueue;
  TSyslogMessageQueue* const FOutboundSyslogQueue;
  TLogBeatQueue* const FOutboundBeatQueue;
  TBatchSequencer* const FSequencer;  // null: output in this thread's order
  TProcessingCounters* const FCounters;  // null: not counted
  // The record reused for every event this thread parses.
  TEventLog FEventLog;
  // The document and the text buffer reused for every event.
  TWinLogBeat FDocument;
  std::string FDocumentText;
};

}  // namespace zor
