#include "collection/BatchSequencer.h"

namespace zor {

TSignalledQueue<TProcessingBatch>::TItemList TBatchSequencer::Take(TSignalledQueue<TProcessingBatch>& AQueue,
                                                                   uint64_t& AFirstTicket) {
  // Taking and numbering under one lock: two threads that drain one after
  // the other get their tickets in the same order.
  std::lock_guard<std::mutex> guard(FTakeLock);
  TSignalledQueue<TProcessingBatch>::TItemList batches = AQueue.DequeueAll();
  AFirstTicket = FNextTicket;
  FNextTicket += batches.size();
  return batches;
}

void TBatchSequencer::WaitForTurn(uint64_t ATicket) {
  std::unique_lock<std::mutex> lock(FTurnLock);
  FTurnChanged.wait(lock, [&] { return FTurn == ATicket; });
}

void TBatchSequencer::Done(uint64_t ATicket) {
  {
    std::lock_guard<std::mutex> guard(FTurnLock);
    FTurn = ATicket + 1;
  }
  FTurnChanged.notify_all();
}

}  // namespace zor
