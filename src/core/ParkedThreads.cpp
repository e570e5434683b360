#include "core/ParkedThreads.h"

#include <algorithm>
#include <utility>

namespace zor {

TParkedThreads::~TParkedThreads() {
  for (auto& thread : FThreads) (void)thread->ThreadStop(true, INFINITE);
}

void TParkedThreads::Park(std::unique_ptr<TCustomThread>&& AThread) {
  if (AThread) FThreads.push_back(std::move(AThread));
}

size_t TParkedThreads::Reap() {
  // A stop with no time to wait answers at once whether the thread has ended,
  // and releases it when it has.
  const auto ended = std::remove_if(FThreads.begin(), FThreads.end(), [](const auto& AThread) {
    return AThread->ThreadStop(true, 0);
  });
  const size_t count = static_cast<size_t>(FThreads.end() - ended);
  FThreads.erase(ended, FThreads.end());
  return count;
}

}  // namespace zor
