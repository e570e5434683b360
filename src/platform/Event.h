#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

#include "platform/CriticalSection.h"

namespace zor {

// No time limit for a wait.
constexpr uint32_t INFINITE = 0xFFFFFFFFu;

// Results of WaitForAny other than an index.
constexpr uint32_t WAIT_OBJECT_0 = 0;
constexpr uint32_t WAIT_TIMEOUT = 258;
// The most events one WaitForAny accepts.
constexpr size_t MAXIMUM_WAIT_OBJECTS = 64;

// A manual-reset event: once Set it stays signalled, and releases every
// waiter, until Reset. Created not signalled.
//
// Backed by an eventfd so that WaitForAny can poll several events at once. The
// eventfd counter is non-zero exactly while FSignalled is true; both change
// together under FCriticalSection, so a Set racing a Reset can never leave the
// descriptor readable while the event reads as reset. Set on an event that is
// already signalled costs no system call.
//
// Any thread may call any method. The event must outlive every wait on it.
class TEvent {
 public:
  // Throws EPlatformError when the descriptor cannot be created.
  TEvent();
  ~TEvent();
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void Set() EXCLUDES(FCriticalSection);
  void Reset() EXCLUDES(FCriticalSection);
  [[nodiscard]] bool IsSet() EXCLUDES(FCriticalSection);

  // Waits until the event is signalled or AMilliseconds pass (INFINITE: no
  // limit). True when signalled.
  [[nodiscard]] bool WaitFor(uint32_t AMilliseconds);

  // The descriptor, readable while the event is signalled. For polling only.
  int Handle() const { return FFd; }

 private:
  const int FFd;
  TCriticalSection FCriticalSection;
  bool FSignalled GUARDED_BY(FCriticalSection) = false;
};

// Waits until any of AEvents is signalled or AMilliseconds pass (INFINITE: no
// limit). Returns the index of the lowest signalled event, or WAIT_TIMEOUT. It
// never returns without either. At most MAXIMUM_WAIT_OBJECTS events; more, an
// empty list or a null event throw EPlatformError. The events must outlive the
// call.
[[nodiscard]] uint32_t WaitForAny(std::span<TEvent* const> AEvents, uint32_t AMilliseconds);
[[nodiscard]] inline uint32_t WaitForAny(std::initializer_list<TEvent*> AEvents, uint32_t AMilliseconds) {
  return WaitForAny(std::span<TEvent* const>(AEvents.begin(), AEvents.size()), AMilliseconds);
}

}  // namespace zor
