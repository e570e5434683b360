#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/CustomThread.h"
#include "delivery/DeliveryOutcome.h"
#include "delivery/DestinationCounters.h"
#include "delivery/RetryBackOff.h"
#include "platform/Event.h"

namespace zor {

// When a sender flushes. Both thresholds non-zero: when QueueCountThreshold
// items are queued, and at the latest QueueSecondsThreshold seconds after the
// previous flush. Otherwise every hand-over flushes at once.
struct TFlushThresholds {
  uint32_t QueueCountThreshold = 0;
  uint32_t QueueSecondsThreshold = 0;
};

// Settings of the delivery core that the service leaves at their defaults and
// tests change.
struct TDeliveryTuning {
  using TClock = std::function<std::chrono::steady_clock::time_point()>;
  // Time source of the flush thresholds and the retry back-off (null: the
  // steady clock).
  TClock Clock;
  uint32_t RetryInitialMilliseconds = 1000;
  uint32_t RetryMaxMilliseconds = 60000;
  // The most items a sender keeps; beyond it the oldest are dropped.
  size_t MaxQueuedItems = 100000;
  // Where the sender counts (null: counters of its own). Shared with the
  // metrics registry, which keeps them beyond the sender.
  std::shared_ptr<TDestinationCounters> Counters;
};

// The thread of a sender: waits for items, decides when to flush (count and
// time thresholds on the injected clock), and holds flushes back while a
// retry back-off runs. What a flush does, and the queue itself, belong to the
// subclasses (TSenderWorker, then the transport).
//
// Threads: Execute, Flush, the back-off and WorkDone run on the sender thread
// only. SignalWork and Counts may be called from any thread.
class TSenderThread : public TCustomThread {
 public:
  // ADestination is "host:port", for log lines; AItemName the plural noun
  // of the items in log lines ("messages", "documents").
  TSenderThread(std::string ADestination, std::string AItemName, TFlushThresholds AThresholds,
                TDeliveryTuning ATuning);

  const std::string& Destination() const { return FDestination; }
  TDeliveryCounts Counts() const;
  // The counters of Counts() and the gauges beside them; never null.
  [[nodiscard]] const std::shared_ptr<TDestinationCounters>& CountersObject() const { return FCounters; }
  // Items waiting in the sender (queued, and any the transport holds).
  [[nodiscard]] virtual size_t QueuedCount() const = 0;

 protected:
  bool Execute() override;

  // One flush: on the sender thread, when the thresholds say so, or when the
  // back-off wait has run out. Exceptions are caught and logged by the loop.
  virtual void Flush() = 0;
  // An event the transport sets when work it started elsewhere is done
  // (null: none), and what the sender thread does then.
  virtual TEvent* WorkDoneEvent() { return nullptr; }
  virtual void WorkDone() {}

  // Wakes the sender thread to look at its queue.
  void SignalWork() { FWorkEvent.Set(); }
  std::chrono::steady_clock::time_point Now() const;
  // True while a back-off wait runs: flushes leave the queue alone.
  [[nodiscard]] bool BackingOff() const;
  // After a failed attempt: schedules the next one and returns its delay.
  uint32_t StartBackOff();
  // After a successful attempt (or when nothing is left to retry).
  void EndBackOff();
  // The end of an attempt for the connection gauge and the last error:
  // AFailure non-empty is a failure; an empty one counts as reaching the
  // receiver only when items were sent since the last call.
  void NoteAttempt(const std::string& AFailure);

  const std::string& ItemName() const { return FItemName; }
  const TDeliveryTuning& Tuning() const { return FTuning; }

  // Never null; the four below are its fields.
  const std::shared_ptr<TDestinationCounters> FCounters;
  std::atomic<uint64_t>& FSent;
  std::atomic<uint64_t>& FRetried;
  std::atomic<uint64_t>& FDropped;
  std::atomic<uint64_t>& FFailedAttempts;

 private:
  uint32_t ElapsedMilliseconds(std::chrono::steady_clock::time_point ASince) const;
  void SafeFlush();

  const std::string FDestination;
  const std::string FItemName;
  const TFlushThresholds FThresholds;
  const TDeliveryTuning FTuning;
  TEvent FWorkEvent;
  // The sender thread's own.
  TRetryBackOff FBackOff;
  std::optional<std::chrono::steady_clock::time_point> FRetryAt;
  uint64_t FSentNoted = 0;
};

}  // namespace zor
