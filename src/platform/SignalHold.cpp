#include "platform/SignalHold.h"

#include "platform/PlatformError.h"

namespace zor {

TSignalHold::TSignalHold(std::initializer_list<int> ASignals) : FSignals{}, FPrevious{} {
  sigemptyset(&FSignals);
  for (int signal : ASignals) sigaddset(&FSignals, signal);
  if (const int error = pthread_sigmask(SIG_BLOCK, &FSignals, &FPrevious); error != 0)
    throw EPlatformError::FromErrno("pthread_sigmask", error);
}

void TSignalHold::Release() {
  if (!FHeld) return;
  FHeld = false;
  pthread_sigmask(SIG_SETMASK, &FPrevious, nullptr);
}

}  // namespace zor
