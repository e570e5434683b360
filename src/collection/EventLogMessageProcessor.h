#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "collection/ProcessingThread.h"
#include "core/LockableObject.h"

namespace zor {

// The processor pool: an inbound queue of batches that subscribers fill,
// "processingThreads" processing threads that drain it, and the outbound
// syslog and beat queues that the sender registries (and the trainers, for
// syslog) consume.
//
// Created once per process by the event log manager and kept across
// reconfigurations. Ownership: the processor owns its queues and threads;
// queued items belong to their queue. The destructor stops every thread and
// waits for it before any queue goes; items still queued then are freed.
//
// Threads: the queue accessors may be called from any thread; ThreadCount
// takes the object's lock.
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
  [[nodiscard]] int32_t ThreadCount() const;

 private:
  const std::unique_ptr<TProcessingBatchQueue> FMessageQueue;
  const std::unique_ptr<TSyslogMessageQueue> FOutboundSyslogQueue;
  const std::unique_ptr<TLogBeatQueue> FOutboundBeatQueue;
  std::vector<std::unique_ptr<TProcessingThread>> FThreads GUARDED_BY(FCriticalSection);
};

}  // namespace zor
