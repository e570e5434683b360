#pragma once

#include <memory>
#include <utility>

#include "delivery/AckBatch.h"

namespace zor {

// What an outgoing item carries so that its batch learns when the receiver
// has taken it: the batch it came from, or nothing (items not made from a
// reader's records, such as training messages). Taken acknowledges once;
// later calls do nothing, and an item freed without it (still queued when
// the process stops) is never acknowledged, so its record is read again.
//
// Threads: used by whichever thread holds the item.
class TDeliveryReceipt {
 public:
  void Attach(std::shared_ptr<TAckBatch> ABatch) { FBatch = std::move(ABatch); }
  // The receiver took the item, or it was given up for good. Const because
  // the delivery core tells its listeners of items it holds as const.
  void Taken() const {
    if (!FBatch) return;
    const std::shared_ptr<TAckBatch> batch = std::move(FBatch);
    batch->Acknowledge();
  }

 private:
  mutable std::shared_ptr<TAckBatch> FBatch;
};

}  // namespace zor
