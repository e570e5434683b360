#include "platform/ThreadId.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace zor {

uint32_t GetCurrentThreadId() {
  // Cached per thread: the id of a thread never changes.
  thread_local const uint32_t id = static_cast<uint32_t>(::syscall(SYS_gettid));
  return id;
}

uint32_t GetCurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

}  // namespace zor
