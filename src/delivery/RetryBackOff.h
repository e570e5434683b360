#pragma once

#include <algorithm>
#include <cstdint>

namespace zor {

// The wait between delivery attempts to a receiver that does not take
// messages: AInitialMilliseconds after the first failure, doubling after each
// further one, never above AMaxMilliseconds. Reset after a success. Used by
// one thread; no lock.
class TRetryBackOff {
 public:
  explicit TRetryBackOff(uint32_t AInitialMilliseconds = 1000, uint32_t AMaxMilliseconds = 60000)
      : FInitial(std::max<uint32_t>(AInitialMilliseconds, 1)),
        FMax(std::max(AMaxMilliseconds, FInitial)),
        FNext(FInitial) {}

  // The wait before the next attempt; each call doubles the one after it.
  uint32_t NextBackOffMs() {
    const uint32_t result = FNext;
    FNext = FNext > FMax / 2 ? FMax : FNext * 2;
    return result;
  }

  // Back to the initial wait (after a success).
  void Reset() { FNext = FInitial; }

 private:
  const uint32_t FInitial;
  const uint32_t FMax;
  uint32_t FNext;
};

}  // namespace zor
