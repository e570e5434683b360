#include "delivery/SenderThread.h"

#include <algorithm>
#include <climits>
#include <utility>
#include <vector>

#include "support/Log.h"

namespace zor {

namespace {

using TClockPoint = std::chrono::steady_clock::time_point;

// A millisecond count as a finite wait time (INFINITE is reserved).
uint32_t ToWait(int64_t AMilliseconds) {
  if (AMilliseconds <= 0) return 0;
  return AMilliseconds >= static_cast<int64_t>(INFINITE) ? INFINITE - 1 : static_cast<uint32_t>(AMilliseconds);
}

}  // namespace

TSenderThread::TSenderThread(std::string ADestination, std::string AItemName, TFlushThresholds AThresholds,
                             TDeliveryTuning ATuning)
    : FCounters(ATuning.Counters ? ATuning.Counters : std::make_shared<TDestinationCounters>()),
      FSent(FCounters->Sent),
      FRetried(FCounters->Retried),
      FDropped(FCounters->Dropped),
      FFailedAttempts(FCounters->FailedAttempts),
      FDestination(std::move(ADestination)),
      FItemName(std::move(AItemName)),
      FThresholds(AThresholds),
      FTuning(std::move(ATuning)),
      FBackOff(FTuning.RetryInitialMilliseconds, FTuning.RetryMaxMilliseconds) {}

TDeliveryCounts TSenderThread::Counts() const {
  return TDeliveryCounts{FSent.load(), FRetried.load(), FDropped.load(), FFailedAttempts.load()};
}

TClockPoint TSenderThread::Now() const { return FTuning.Clock ? FTuning.Clock() : std::chrono::steady_clock::now(); }

uint32_t TSenderThread::ElapsedMilliseconds(TClockPoint ASince) const {
  return ToWait(std::chrono::duration_cast<std::chrono::milliseconds>(Now() - ASince).count());
}

bool TSenderThread::BackingOff() const { return FRetryAt && Now() < *FRetryAt; }

uint32_t TSenderThread::StartBackOff() {
  const uint32_t delay = FBackOff.NextBackOffMs();
  FRetryAt = Now() + std::chrono::milliseconds(delay);
  return delay;
}

void TSenderThread::EndBackOff() {
  FBackOff.Reset();
  FRetryAt.reset();
}

void TSenderThread::NoteAttempt(const std::string& AFailure) {
  const uint64_t sent = FSent.load(std::memory_order_relaxed);
  if (AFailure.empty() && sent == FSentNoted) return;
  FSentNoted = sent;
  FCounters->NoteAttempt(AFailure);
}

bool TSenderThread::Execute() {
  // Both thresholds set: flush when the count is reached at a work event, or
  // when the period ends. Otherwise every work event flushes at once.
  const bool timed = FThresholds.QueueCountThreshold != 0 && FThresholds.QueueSecondsThreshold != 0;
  const uint32_t period = timed ? ToWait(int64_t{FThresholds.QueueSecondsThreshold} * 1000) : INFINITE;
  std::vector<TEvent*> events{FShouldFinishEvent.get(), &FWorkEvent};
  if (TEvent* done = WorkDoneEvent()) events.push_back(done);
  // The period runs from the last flush, not from the last wake-up: a trickle
  // of items below the count threshold must not postpone the flush forever.
  TClockPoint periodStart = Now();
  for (;;) {
    LogDebug("Back to wait");
    uint32_t timeout = timed ? ToWait(int64_t{period} - ElapsedMilliseconds(periodStart)) : INFINITE;
    bool retryTimer = false;
    if (FRetryAt) {
      const uint32_t untilRetry =
          ToWait(std::chrono::duration_cast<std::chrono::milliseconds>(*FRetryAt - Now()).count());
      if (untilRetry < timeout) {
        timeout = untilRetry;
        retryTimer = true;
      }
    }
    const uint32_t result = WaitForAny(events, timeout);
    if (result == WAIT_OBJECT_0) break;
    if (result == WAIT_TIMEOUT) {
      SafeFlush();
      if (!retryTimer) periodStart = Now();
      continue;
    }
    if (result == WAIT_OBJECT_0 + 2) {
      events[2]->Reset();
      try {
        WorkDone();
      } catch (const std::exception& e) {
        LogError("[Senders] %s: %s", FDestination.c_str(), e.what());
      }
      continue;
    }
    if (result != WAIT_OBJECT_0 + 1) continue;

    LogDebug("Preparing to flush messages");
    FWorkEvent.Reset();
    if (!timed) {
      SafeFlush();
      continue;
    }
    int64_t newWait = 0;
    if (QueuedCount() < FThresholds.QueueCountThreshold) newWait = int64_t{period} - ElapsedMilliseconds(periodStart);
    LogDebug("New Wait Time = %d msec", static_cast<int>(std::clamp<int64_t>(newWait, INT_MIN, INT_MAX)));
    if (newWait > 0) continue;
    SafeFlush();
    periodStart = Now();
  }
  return true;
}

void TSenderThread::SafeFlush() {
  try {
    Flush();
  } catch (const std::exception& e) {
    LogError("Unknown Exception Flushing Messages");
    LogDebug("[Senders] %s: %s", FDestination.c_str(), e.what());
  }
}

}  // namespace zor
