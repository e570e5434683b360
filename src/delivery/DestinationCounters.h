#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "platform/CriticalSection.h"
#include "platform/ThreadAnnotations.h"

namespace zor {

// The last failure a sender met: its text and when (seconds since the Unix
// epoch; 0 with an empty text when none).
struct TDestinationError {
  std::string Text;
  double Time = 0;
};

// What one destination's senders did, counted since the process started (a
// sender of the next start-up with the same destination and transport goes
// on counting in the same object). Kept by the sender where the work happens;
// read by the metrics exposition.
//
// Threads: the counters and gauges are relaxed atomics, written by the sender
// thread (and by producers for items a full queue pushes out) and read from
// any thread. The error text and the refusals per error type change only on
// failures and take FLock.
class TDestinationCounters {
 public:
  TDestinationCounters() = default;
  TDestinationCounters(const TDestinationCounters&) = delete;
  TDestinationCounters& operator=(const TDestinationCounters&) = delete;

  // Items the receiver took (syslog: messages; beat: documents indexed).
  std::atomic<uint64_t> Sent{0};
  // Items put back for another attempt, once per attempt they were part of.
  std::atomic<uint64_t> Retried{0};
  // Items given up.
  std::atomic<uint64_t> Dropped{0};
  // Attempts that failed (items kept for a retry, or a template question
  // without an answer).
  std::atomic<uint64_t> FailedAttempts{0};
  // Bytes the receiver's socket took (syslog).
  std::atomic<uint64_t> Bytes{0};
  // 1 when the last attempt reached the receiver, 0 after a failed one or
  // before the first.
  std::atomic<int> Connected{0};
  // The HTTP status of the last answer (beat; 0 before the first answer,
  // -1 when the last request got no answer).
  std::atomic<int> LastStatus{0};

  // The end of one attempt: AFailure empty means it reached the receiver;
  // otherwise the failure is kept with the time now.
  void NoteAttempt(const std::string& AFailure) EXCLUDES(FLock);
  // ACount items refused for good with error type AErrorType.
  void NoteRejected(const std::string& AErrorType, uint64_t ACount = 1) EXCLUDES(FLock);

  [[nodiscard]] TDestinationError LastError() const EXCLUDES(FLock);
  [[nodiscard]] std::map<std::string, uint64_t> Rejected() const EXCLUDES(FLock);

 private:
  mutable TCriticalSection FLock;
  TDestinationError FLastError GUARDED_BY(FLock);
  std::map<std::string, uint64_t> FRejected GUARDED_BY(FLock);
};

}  // namespace zor
