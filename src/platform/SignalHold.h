#pragma once

#include <signal.h>

#include <initializer_list>

namespace zor {

// Holds signals back from the start of a program: the signals named are
// blocked in the creating thread (and so in every thread created after it),
// so one that comes meanwhile stays pending instead of taking its default
// action; a TSignalWatcher made later reads it.
//
// Create it first thing in main, before any other thread starts. Release
// gives back the mask found at construction, and a pending signal then takes
// its default action. The destructor releases nothing: a program that keeps
// the signals held to its end drops what is still pending (a second stop
// while it stops), which is what a service wants.
class TSignalHold {
 public:
  // Throws EPlatformError when the signals cannot be blocked.
  explicit TSignalHold(std::initializer_list<int> ASignals);
  TSignalHold(const TSignalHold&) = delete;
  TSignalHold& operator=(const TSignalHold&) = delete;

  // Restores the mask found at construction; once only, later calls do nothing.
  void Release();

  // The signals held.
  [[nodiscard]] const sigset_t& Signals() const { return FSignals; }

 private:
  sigset_t FSignals;
  sigset_t FPrevious;
  bool FHeld = true;
};

}  // namespace zor
