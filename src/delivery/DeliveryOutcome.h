#pragma once

#include <cstdint>
#include <string>

namespace zor {

// What became of one item in one delivery attempt.
enum class TDeliveryOutcome : uint8_t {
  // The receiver took it whole; the sender is done with it.
  doSent = 0,
  // Not taken this time; it goes back to the head of the sender's queue and
  // is tried again after the back-off.
  doRetry = 1,
  // Given up for good: refused by the receiver, impossible to send, pushed
  // out of a full queue, or still queued when the sender was freed.
  doDropped = 2,
};

// What became of the items handed to one sender, counted since it was
// created. Readable from any thread (a snapshot).
struct TDeliveryCounts {
  // Taken by the receiver.
  uint64_t Sent = 0;
  // Put back at the head of the queue after a failed attempt (counted once per
  // attempt they were part of).
  uint64_t Retried = 0;
  // Given up (TDeliveryOutcome::doDropped).
  uint64_t Dropped = 0;
  // Attempts that ended with items kept for a retry.
  uint64_t FailedAttempts = 0;
};

// Told the outcome of every item a sender settles, one call per item, in the
// order the sender settles them. ADestination is the sender's "host:port".
//
// Threads: called on the sender's thread for sent, retried and dropped items;
// on a producer's thread for items a full queue pushes out; on the owner's
// thread for items dropped when the sender is freed. Never under the sender's
// queue lock, so the listener may take its own locks. The listener is borrowed
// and must outlive the sender.
template <class TItem>
class IDeliveryListener {
 public:
  virtual ~IDeliveryListener() = default;
  virtual void ItemSettled(const std::string& ADestination, const TItem& AItem, TDeliveryOutcome AOutcome) = 0;
};

}  // namespace zor
