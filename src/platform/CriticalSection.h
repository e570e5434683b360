#pragma once

#include <mutex>

#include "platform/ThreadAnnotations.h"

namespace zor {

// A non-recursive mutual-exclusion lock, annotated for clang's thread-safety
// analysis (std::mutex of libstdc++ is not). Not copyable or movable.
class CAPABILITY("mutex") TCriticalSection {
 public:
  TCriticalSection() = default;
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;

  void Enter() ACQUIRE() { FMutex.lock(); }
  void Leave() RELEASE() { FMutex.unlock(); }

  // For std::condition_variable_any and std::unique_lock.
  void lock() ACQUIRE() { FMutex.lock(); }
  void unlock() RELEASE() { FMutex.unlock(); }

 private:
  std::mutex FMutex;
};

// Holds a TCriticalSection for the lifetime of the guard.
class SCOPED_CAPABILITY TCriticalSectionGuard {
 public:
  explicit TCriticalSectionGuard(TCriticalSection& ASection) ACQUIRE(ASection) : FSection(ASection) {
    FSection.Enter();
  }
  ~TCriticalSectionGuard() RELEASE() { FSection.Leave(); }
  TCriticalSectionGuard(const TCriticalSectionGuard&) = delete;
  TCriticalSectionGuard& operator=(const TCriticalSectionGuard&) = delete;

 private:
  TCriticalSection& FSection;
};

}  // namespace zor
