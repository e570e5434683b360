#pragma once

#include <pthread.h>
#include <signal.h>

namespace zor::test {

// Whether ASignal is blocked in the calling thread.
inline bool SignalBlocked(int ASignal) {
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  return sigismember(&mask, ASignal) == 1;
}

}  // namespace zor::test
