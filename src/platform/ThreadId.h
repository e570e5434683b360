#pragma once

#include <cstdint>

namespace zor {

// The operating system's 32-bit identifier of the calling thread (the kernel
// thread id on Linux). Never 0 for a running thread, so 0 can mean "none".
[[nodiscard]] uint32_t GetCurrentThreadId();
// The operating system's identifier of this process.
[[nodiscard]] uint32_t GetCurrentProcessId();

}  // namespace zor
