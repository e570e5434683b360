#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "collection/BookmarkKeeper.h"
#include "collection/ProcessingThread.h"
#include "core/LockableObject.h"
#include "platform/Event.h"

namespace zor {

// The processor pool: an inbound queue of batches that subscribers fill,
// "processingThreads" processing threads that drain it, and the outbound
// syslog and beat queues that the sender registries (and the trainers, for
// syslog) consume. The threads build messages side by side but hand them on
// in the order the batches were queued (TBatchSequencer), so each receiver
// gets a reader's events in record order.
//
// Created once per process by the event log manager and kept across
// reconfigurations. Ownership: the processor owns its queues and threads;
// queued items belong to their queue. The destructor stops every thread and
// waits for it before any queue goes; items still queued then are freed.
//
// Back-pressure: a subscriber calls WaitForRoom before it hands in a batch,
// and waits while too much is in hand: MaxQueuedBatches batches not yet taken
// by a processing thread (two for each thread, and two), or MaxSyslogBacklog
// items not yet sent (as the probe that the pipeline sets counts them: syslog
// messages, or the documents of the beat output; without a probe, they are
// not counted). So a slow or unreachable receiver holds the readers back
// instead of filling memory or losing messages.
//
// A reader also waits while MaxReaderBatches of its own batches are not yet
// taken by every receiver (its acknowledgement window): one for each
// processing thread, so that a busy reader keeps them all at work, and one
// more on its way to the receivers. No receiver runs further ahead of the
// reader's acknowledged position than that, however far behind another
// receiver is. Those batches may always hold the flush count
// (SetFlushCount), so that senders which gather that many items before they
// send are not starved. And a reader waits while MaxUnsavedBatches batches'
// worth of its records were taken by every receiver but their position is not
// yet saved (a slow disk). So what a kill sends again stays within the
// batches on their way and those two, however long a save takes.
//
// Positions: the processor also keeps every reader's acknowledged position
// (TBookmarkKeeper, its thread started with the processor), so that a reader
// started again after a reconfiguration continues where it read.
//
// Threads: the queue accessors may be called from any thread; ThreadCount,
// SetSyslogBacklogProbe and WaitForRoom take the object's lock.
class TEventLogMessageProcessor : public TLockableObject {
 public:
  // Creates the queues and AProcessingThreadCount threads (indexes 0, 1, ...),
  // each started without waiting. A count of 0 or less starts none: batches
  // then stay in the inbound queue.
  explicit TEventLogMessageProcessor(int32_t AProcessingThreadCount);
  ~TEventLogMessageProcessor() override;

  [[nodiscard]] TProcessingBatchQueue& SignalledMessageQueue() { return *FMessageQueue; }
  [[nodiscard]] TSyslogMessageQueue& OutboundSyslogQueue() { return *FOutboundSyslogQueue; }
  [[nodiscard]] TLogBeatQueue& OutboundBeatQueue() { return *FOutboundBeatQueue; }
  [[nodiscard]] TBookmarkKeeper& Bookmarks() { return FBookmarks; }
  [[nodiscard]] int32_t ThreadCount() const;
  // What the processing threads counted; lives as long as the processor.
  [[nodiscard]] const TProcessingCounters& Counters() const { return FCounters; }

  static constexpr size_t MaxSyslogBacklog = 20000;
  // Batches' worth of a reader's records taken by every receiver but not yet
  // saved, at which the reader waits for the save (the keeper starts one
  // after the first).
  static constexpr size_t MaxUnsavedBatches = 2;

  // The number of syslog messages made and not yet sent; null for none.
  using TBacklogProbe = std::function<size_t()>;
  void SetSyslogBacklogProbe(TBacklogProbe AProbe);
  // The number of items senders gather before they send (0: they send at
  // once); a reader may keep at least that many records on their way.
  void SetFlushCount(size_t ACount);
  // Returns true at once while there is room, for the reader of AWindow
  // (null: any reader), else once there is; false when AAbort was set first.
  [[nodiscard]] bool WaitForRoom(TEvent& AAbort, const TAckWindow* AWindow = nullptr);

 private:
  [[nodiscard]] bool HasRoom(const TAckWindow* AWindow);

  // Batches in the inbound queue, of every reader together.
  const size_t FMaxQueuedBatches;
  // Batches of one reader not yet taken by every receiver.
  const size_t FMaxReaderBatches;
  const std::unique_ptr<TProcessingBatchQueue> FMessageQueue;
  const std::unique_ptr<TSyslogMessageQueue> FOutboundSyslogQueue;
  const std::unique_ptr<TLogBeatQueue> FOutboundBeatQueue;
  // Keeps the threads' output in queue order; outlives the threads.
  TBatchSequencer FSequencer;
  TProcessingCounters FCounters;
  // Its destructor runs once the threads have stopped (see the destructor),
  // so its last save sees every item they handed on and was settled.
  TBookmarkKeeper FBookmarks;
  std::vector<std::unique_ptr<TProcessingThread>> FThreads GUARDED_BY(FCriticalSection);
  TBacklogProbe FSyslogBacklogProbe GUARDED_BY(FCriticalSection);
  size_t FFlushCount GUARDED_BY(FCriticalSection) = 0;
};

}  // namespace zor
