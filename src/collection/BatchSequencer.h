#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "collection/ProcessingBatch.h"
#include "core/SignalledQueue.h"

namespace zor {

// Keeps the output of several processing threads in the order the batches
// were queued. Each thread takes the queued batches together with
// consecutive tickets (Take), builds their messages side by side with the
// other threads, and hands each batch's output on only when its turn has
// come (WaitForTurn ... Done). So every receiver gets a reader's events in
// record order, however many threads there are.
//
// Every ticket taken must be passed to Done exactly once, also when its
// batch failed; a ticket never done stops every later one.
//
// Threads: every method may be called from any thread.
class TBatchSequencer {
 public:
  // Takes every batch queued in AQueue; AFirstTicket is the ticket of the
  // first, the others follow on.
  [[nodiscard]] TSignalledQueue<TProcessingBatch>::TItemList Take(TSignalledQueue<TProcessingBatch>& AQueue,
                                                                  uint64_t& AFirstTicket);
  // Waits until every ticket before ATicket is done.
  void WaitForTurn(uint64_t ATicket);
  void Done(uint64_t ATicket);

 private:
  std::mutex FTakeLock;
  uint64_t FNextTicket = 0;  // guarded by FTakeLock

  std::mutex FTurnLock;
  std::condition_variable FTurnChanged;
  uint64_t FTurn = 0;  // guarded by FTurnLock: the ticket whose output goes next
};

}  // namespace zor
