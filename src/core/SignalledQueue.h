#pragma once

#include <algorithm>
#include <cstddef>
#include <deque>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "core/LockableObject.h"
#include "core/QueueEmpty.h"
#include "platform/Event.h"

namespace zor {

// A locked first-in first-out queue of owned items with a manual-reset event
// that wakes its consumer.
//
// Ownership: the queue owns what it holds; an item moves in with Enqueue or
// EnqueueBatch and moves out, to whoever takes it, with Dequeue, DequeueAll or
// GetAll. Items still queued when the queue is destroyed are freed with it.
//
// Threads: any thread may call any method. Every operation runs entirely under
// FCriticalSection, and the producers signal FEvent inside that lock after
// appending. A consumer resets QueueEvent (or lets DequeueAll/Dequeue reset
// it) and then drains everything under one lock; so an item can never sit in
// the queue while the event is reset, and no wake-up is lost. Keep that order.
//
// Several consumers may wait on the same event: whichever drains first gets
// every queued item and the others get none.
template <typename T>
class TSignalledQueue : public TLockableObject {
 public:
  using TItem = std::unique_ptr<T>;
  using TItemList = std::vector<TItem>;
  using TItemQueue = std::deque<TItem>;

  TSignalledQueue() = default;
  TSignalledQueue(const TSignalledQueue&) = delete;
  TSignalledQueue& operator=(const TSignalledQueue&) = delete;

  // Appends AValue (null is accepted and queued like any item) and signals.
  void Enqueue(TItem&& AValue) {
    TCriticalSectionGuard guard(FCriticalSection);
    FQueue.push_back(std::move(AValue));
    NoteSize();
    FEvent.Set();
  }

  // Moves every item of AValue in, in list order, and signals once -- also for
  // an empty list. AValue stays the caller's and is left empty.
  void EnqueueBatch(TItemList&& AValue) {
    TCriticalSectionGuard guard(FCriticalSection);
    for (TItem& item : AValue) FQueue.push_back(std::move(item));
    AValue.clear();
    NoteSize();
    FEvent.Set();
  }

  // Moves every item of AValue in front of everything queued, keeping their
  // list order, and signals once. For items a consumer took but could not
  // finish: they go back ahead of the newer ones.
  void EnqueueFront(TItemList&& AValue) {
    TCriticalSectionGuard guard(FCriticalSection);
    FQueue.insert(FQueue.begin(), std::make_move_iterator(AValue.begin()), std::make_move_iterator(AValue.end()));
    AValue.clear();
    NoteSize();
    FEvent.Set();
  }

  // Removes and returns the head; resets the event when the queue is then
  // empty. Throws EQueueEmpty on an empty queue.
  [[nodiscard]] TItem Dequeue() {
    TCriticalSectionGuard guard(FCriticalSection);
    if (FQueue.empty()) throw EQueueEmpty();
    TItem head = std::move(FQueue.front());
    FQueue.pop_front();
    if (FQueue.empty()) FEvent.Reset();
    return head;
  }

  // As Dequeue.
  [[nodiscard]] TItem Extract() { return Dequeue(); }

  // The head, still owned by the queue: valid only until a consumer takes it.
  // Throws EQueueEmpty on an empty queue.
  [[nodiscard]] T* Peek() {
    TCriticalSectionGuard guard(FCriticalSection);
    if (FQueue.empty()) throw EQueueEmpty();
    return FQueue.front().get();
  }

  // Moves every item, in order, into a list the caller owns, and resets the
  // event. An empty list means nothing was queued.
  [[nodiscard]] TItemList DequeueAll() {
    TItemList result;
    TCriticalSectionGuard guard(FCriticalSection);
    result.reserve(FQueue.size());
    for (TItem& item : FQueue) result.push_back(std::move(item));
    FQueue.clear();
    FEvent.Reset();
    return result;
  }

  // Puts an empty queue in place and returns the old one with its items (the
  // caller owns both). Leaves the event as it is: the caller resets it first.
  [[nodiscard]] TItemQueue GetAll() {
    TItemQueue result;
    TCriticalSectionGuard guard(FCriticalSection);
    FQueue.swap(result);
    return result;
  }

  // Frees every queued item; leaves the event as it is.
  void Clear() {
    TItemQueue dropped;
    {
      TCriticalSectionGuard guard(FCriticalSection);
      FQueue.swap(dropped);
    }
    // The items are freed here, outside the lock.
  }

  // Releases spare storage and restarts the Capacity count from Count.
  void TrimExcess() {
    TCriticalSectionGuard guard(FCriticalSection);
    FQueue.shrink_to_fit();
    FCapacity = FQueue.size();
  }

  [[nodiscard]] size_t Count() const {
    TCriticalSectionGuard guard(FCriticalSection);
    return FQueue.size();
  }

  // The most items held at once since creation or the last TrimExcess (the
  // queue's peak depth; std::deque exposes no allocation size).
  [[nodiscard]] size_t Capacity() const {
    TCriticalSectionGuard guard(FCriticalSection);
    return FCapacity;
  }

  // Signalled from the first append until a consumer resets it or drains the
  // queue. Lives as long as the queue.
  [[nodiscard]] TEvent* QueueEvent() { return &FEvent; }

 private:
  void NoteSize() REQUIRES(FCriticalSection) { FCapacity = std::max(FCapacity, FQueue.size()); }

  TItemQueue FQueue GUARDED_BY(FCriticalSection);
  size_t FCapacity GUARDED_BY(FCriticalSection) = 0;
  TEvent FEvent;
};

}  // namespace zor
