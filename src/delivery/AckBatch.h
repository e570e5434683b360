#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace zor {

class TAckWindow;

// One batch of a reader's records on its way to the receivers: a count of
// the items not yet taken. It starts at one, the hold of whoever builds the
// batch's items; the builder adds the items it made (Expect) before any of
// them can be taken, hands them on, then releases its hold with one
// Acknowledge. When the count reaches zero the batch is complete in its
// window (TAckWindow).
//
// Ownership: shared by the items that carry it (TDeliveryReceipt) and by its
// builder; it keeps its window alive. Threads: Expect and Acknowledge may be
// called from any thread; Acknowledge exactly once per item and once for the
// hold.
class TAckBatch {
 public:
  TAckBatch(std::shared_ptr<TAckWindow> AWindow, uint64_t ASequence)
      : FWindow(std::move(AWindow)), FSequence(ASequence) {}
  TAckBatch(const TAckBatch&) = delete;
  TAckBatch& operator=(const TAckBatch&) = delete;

  // ACount more items must be acknowledged. Only while the hold is kept.
  void Expect(size_t ACount) { FOutstanding.fetch_add(ACount, std::memory_order_relaxed); }
  // One item taken (or the hold released).
  void Acknowledge();

 private:
  const std::shared_ptr<TAckWindow> FWindow;
  const uint64_t FSequence;
  std::atomic<size_t> FOutstanding{1};
};

}  // namespace zor
