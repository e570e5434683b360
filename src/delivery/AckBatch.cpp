#include "delivery/AckBatch.h"

#include "delivery/AckWindow.h"

namespace zor {

void TAckBatch::Acknowledge() {
  // acq_rel: whatever the other holders did before their acknowledgement is
  // seen by the one that completes the batch.
  if (FOutstanding.fetch_sub(1, std::memory_order_acq_rel) == 1) FWindow->Complete(FSequence);
}

}  // namespace zor
