#include "platform/BrokenPipeSignal.h"

#include <pthread.h>
#include <signal.h>

#include "platform/PlatformError.h"

namespace zor {

void BlockBrokenPipeSignal() {
  thread_local bool blocked = false;
  if (blocked) return;
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  if (const int error = pthread_sigmask(SIG_BLOCK, &pipe, nullptr); error != 0)
    throw EPlatformError::FromErrno("pthread_sigmask", error);
  blocked = true;
}

}  // namespace zor
