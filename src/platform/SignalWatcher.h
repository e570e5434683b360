#pragma once

#include <signal.h>

#include <initializer_list>

#include "platform/Event.h"
#include "platform/SignalHold.h"

namespace zor {

// Turns process signals into ordinary reads: the signals named are blocked in
// the creating thread (and so in every thread created after it) and read
// through a signalfd. No work happens in a signal handler.
//
// Create it on the main thread before any other thread starts, or a thread
// created earlier may still take the signals the default way. Wait is called
// by one thread at a time. Destroying it gives back the mask it found, so
// signals a TSignalHold blocked before stay blocked.
class TSignalWatcher {
 public:
  // Throws EPlatformError when the signals cannot be blocked or read.
  explicit TSignalWatcher(std::initializer_list<int> ASignals);
  ~TSignalWatcher();
  TSignalWatcher(const TSignalWatcher&) = delete;
  TSignalWatcher& operator=(const TSignalWatcher&) = delete;

  // Waits until one of the signals arrives (returns its number) or AWakeUp is
  // signalled (returns 0), whichever comes first; a pending signal wins.
  [[nodiscard]] int Wait(TEvent& AWakeUp);

 private:
  TSignalHold FHold;  // gives back the mask found at construction
  int FFd;
};

}  // namespace zor
