#pragma once

#include <cstdint>

namespace zor {

// What the operating system says about this process at one moment. Figures
// it cannot tell are -1.
struct TProcessFigures {
  // Resident memory in bytes.
  int64_t ResidentBytes = -1;
  int64_t Threads = -1;
  int64_t OpenFiles = -1;
  // CPU time spent in user and system mode, in seconds.
  double CpuSeconds = -1;

  // Reads them now (Linux: /proc/self). Any thread; never throws.
  [[nodiscard]] static TProcessFigures Read();
  // Bytes of the heap in use: blocks handed out by the allocator, those
  // mapped on their own included. Any thread; never throws.
  [[nodiscard]] static uint64_t HeapBytesInUse();
};

}  // namespace zor
