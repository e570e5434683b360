#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace zor::test {

// A steady clock that moves only when told, for components that take their
// time source as a function. It also counts how often it was read: a worker
// that reads the clock each time it wakes lets a test see that it has handled
// a wake-up. Any thread may read it.
class TFakeClock {
 public:
  using TTimePoint = std::chrono::steady_clock::time_point;

  std::function<TTimePoint()> Function() {
    return [this] {
      ++FReads;
      return FNow.load();
    };
  }
  void Advance(std::chrono::milliseconds ABy) { FNow = FNow.load() + ABy; }
  TTimePoint Now() const { return FNow.load(); }
  uint64_t Reads() const { return FReads.load(); }

 private:
  std::atomic<TTimePoint> FNow{TTimePoint{} + std::chrono::hours(1)};
  std::atomic<uint64_t> FReads{0};
};

}  // namespace zor::test
