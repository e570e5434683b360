#include "delivery/DestinationCounters.h"

#include <chrono>

namespace zor {

namespace {

// The most error types told apart; refusals of further types are counted
// under OtherErrorTypes, so a receiver inventing types cannot grow the map.
constexpr size_t MaxErrorTypes = 64;
constexpr const char* OtherErrorTypes = "other";

double UnixSecondsNow() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

void TDestinationCounters::NoteAttempt(const std::string& AFailure) {
  if (AFailure.empty()) {
    Connected.store(1, std::memory_order_relaxed);
    return;
  }
  Connected.store(0, std::memory_order_relaxed);
  const double now = UnixSecondsNow();
  TCriticalSectionGuard guard(FLock);
  FLastError = TDestinationError{AFailure, now};
}

void TDestinationCounters::NoteRejected(const std::string& AErrorType, uint64_t ACount) {
  TCriticalSectionGuard guard(FLock);
  const std::string& type = AErrorType.empty() ? std::string("unknown") : AErrorType;
  auto found = FRejected.find(type);
  if (found == FRejected.end() && FRejected.size() >= MaxErrorTypes) found = FRejected.try_emplace(OtherErrorTypes, 0).first;
  if (found == FRejected.end()) found = FRejected.emplace(type, 0).first;
  found->second += ACount;
}

TDestinationError TDestinationCounters::LastError() const {
  TCriticalSectionGuard guard(FLock);
  return FLastError;
}

std::map<std::string, uint64_t> TDestinationCounters::Rejected() const {
  TCriticalSectionGuard guard(FLock);
  return FRejected;
}

}  // namespace zor
