#pragma once

#include <string>

#include "delivery/DeliveryOutcome.h"

namespace zor {

// The delivery listener that acknowledges items to their batches: an item
// sent, or dropped for good, is taken; one to be retried is not. TItem has
// Receipt() (a TDeliveryReceipt). Stateless: any thread, any number of
// senders.
template <class TItem>
class TReceiptListener : public IDeliveryListener<TItem> {
 public:
  void ItemSettled(const std::string& ADestination, const TItem& AItem, TDeliveryOutcome AOutcome) override {
    (void)ADestination;
    if (AOutcome != TDeliveryOutcome::doRetry) AItem.Receipt().Taken();
  }
};

}  // namespace zor
