#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "core/CustomThread.h"

namespace zor {

// Workers whose timed stop ran out of time. Such a worker may still be
// running, so it cannot be freed yet: its owner moves it here, and it is freed
// once its thread has ended (Reap), or, at the latest, by the destructor,
// which waits for every parked thread without limit.
//
// Owned and used by one thread (the one that stops the workers).
class TParkedThreads {
 public:
  TParkedThreads() = default;
  ~TParkedThreads();
  TParkedThreads(const TParkedThreads&) = delete;
  TParkedThreads& operator=(const TParkedThreads&) = delete;

  // Takes over a worker that was told to finish.
  void Park(std::unique_ptr<TCustomThread>&& AThread);
  // Frees every parked worker whose thread has ended; never waits. Returns
  // how many were freed.
  size_t Reap();
  [[nodiscard]] size_t Count() const { return FThreads.size(); }

 private:
  std::vector<std::unique_ptr<TCustomThread>> FThreads;
};

}  // namespace zor
