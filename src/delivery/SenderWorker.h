#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "delivery/DeliveryOutcome.h"
#include "delivery/SenderThread.h"
#include "platform/CriticalSection.h"
#include "platform/ThreadAnnotations.h"
#include "support/Log.h"

namespace zor {

// The items of one delivery attempt that have been decided: those the
// receiver took and those given up. Whatever the attempt did not decide is
// retried (TSenderWorker::Settle). The sender thread's own.
template <class TItem>
struct TDeliveryAttempt {
  std::vector<std::unique_ptr<TItem>> Sent;
  std::vector<std::unique_ptr<TItem>> Dropped;
};

// A sender's queue and the one place where the outcome of every item is
// decided, on top of TSenderThread's loop. The transport (a subclass) takes
// items with TakeQueuedItems, tries to deliver them, and hands the result of
// each attempt to Settle: items sent, items dropped, and items to try again,
// which go back to the head of the queue, in order, ahead of anything newer.
//
// The queue keeps at most Tuning().MaxQueuedItems; when it overflows, the
// oldest are dropped with an error line that counts them. Items still queued
// when the worker is freed are dropped (logged), unless the owner took them
// back with TakeQueued after the thread ended.
//
// Threads: producers call AddItem and AddBatch from any thread; they take
// FQueueLock only to append, then wake the sender. TakeQueued is for the owner
// once the thread has finished. Settle and TakeQueuedItems run on the sender
// thread. The listener (SetListener, before the thread starts) hears of every
// item settled, never under FQueueLock.
template <class TItem>
class TSenderWorker : public TSenderThread {
 public:
  using TItemPtr = std::unique_ptr<TItem>;
  using TItemList = std::vector<TItemPtr>;

  using TSenderThread::TSenderThread;
  ~TSenderWorker() override {
    (void)ThreadStop(true, INFINITE);
    std::deque<TItemPtr> unsent;
    {
      TCriticalSectionGuard guard(FQueueLock);
      unsent.swap(FQueue);
    }
    if (unsent.empty()) return;
    for (const TItemPtr& item : unsent) Notify(*item, TDeliveryOutcome::doDropped);
    FDropped += unsent.size();
    LogError("[Senders] %s stopped with %zu unsent %s; they are dropped", Destination().c_str(), unsent.size(),
             ItemName().c_str());
  }

  // Borrowed; set before the thread starts (null: nobody listens).
  void SetListener(IDeliveryListener<TItem>* AListener) { FListener = AListener; }

  // Takes AItem (null is ignored) and queues it.
  void AddItem(TItemPtr&& AItem) {
    if (!AItem) return;
    std::deque<TItemPtr> trimmed;
    {
      TCriticalSectionGuard guard(FQueueLock);
      FQueue.push_back(std::move(AItem));
      TrimQueue(trimmed);
      SignalWork();
    }
    DropTrimmed(trimmed);
  }
  // Takes every item of ABatch, in list order, and wakes the sender once
  // (also for an empty list). ABatch is left empty.
  void AddBatch(TItemList&& ABatch) {
    std::deque<TItemPtr> trimmed;
    {
      TCriticalSectionGuard guard(FQueueLock);
      for (TItemPtr& item : ABatch)
        if (item) FQueue.push_back(std::move(item));
      TrimQueue(trimmed);
      SignalWork();
    }
    ABatch.clear();
    DropTrimmed(trimmed);
  }

  // Moves every item still queued out, oldest first. For the owner, once the
  // thread has finished: items it takes back are not dropped.
  [[nodiscard]] TItemList TakeQueued() {
    TItemList queued;
    TCriticalSectionGuard guard(FQueueLock);
    queued.reserve(FQueue.size());
    for (TItemPtr& item : FQueue) queued.push_back(std::move(item));
    FQueue.clear();
    return queued;
  }

  size_t QueuedCount() const override {
    TCriticalSectionGuard guard(FQueueLock);
    return FQueue.size();
  }

 protected:
  // Moves up to AMax items out of the head of the queue (all of them by
  // default), oldest first.
  std::deque<TItemPtr> TakeQueuedItems(size_t AMax = SIZE_MAX) {
    std::deque<TItemPtr> taken;
    TCriticalSectionGuard guard(FQueueLock);
    if (AMax >= FQueue.size()) {
      taken.swap(FQueue);
    } else {
      for (size_t i = 0; i < AMax; ++i) {
        taken.push_back(std::move(FQueue.front()));
        FQueue.pop_front();
      }
    }
    return taken;
  }

  // Settles one attempt: its sent and dropped items are counted, told to the
  // listener and freed; AUnsent (the attempt's undecided items, oldest first)
  // go back to the head of the queue. AFailure non-empty means the attempt
  // failed: the next one waits for the back-off, with one log line saying
  // why. An attempt without failure ends any back-off.
  void Settle(TDeliveryAttempt<TItem>& AAttempt, std::deque<TItemPtr>&& AUnsent, const std::string& AFailure) {
    SettleDecided(AAttempt);
    NoteAttempt(AFailure);
    if (AFailure.empty() && AUnsent.empty()) {
      EndBackOff();
      return;
    }
    const size_t kept = AUnsent.size();
    for (const TItemPtr& item : AUnsent) Notify(*item, TDeliveryOutcome::doRetry);
    std::deque<TItemPtr> trimmed;
    {
      TCriticalSectionGuard guard(FQueueLock);
      for (auto item = AUnsent.rbegin(); item != AUnsent.rend(); ++item) FQueue.push_front(std::move(*item));
      TrimQueue(trimmed);
    }
    AUnsent.clear();
    FRetried += kept;
    ++FFailedAttempts;
    const uint32_t delay = StartBackOff();
    LogError("[Senders] %s did not take %zu %s (%s); next attempt in %u ms", Destination().c_str(), kept,
             ItemName().c_str(), AFailure.c_str(), delay);
    DropTrimmed(trimmed);
  }

  // The first half of Settle, for a transport whose attempt is still partly
  // under way: counts, tells and frees AAttempt's sent and dropped items, and
  // leaves the back-off as it is.
  void SettleDecided(TDeliveryAttempt<TItem>& AAttempt) {
    for (const TItemPtr& item : AAttempt.Sent) Notify(*item, TDeliveryOutcome::doSent);
    FSent += AAttempt.Sent.size();
    AAttempt.Sent.clear();
    for (const TItemPtr& item : AAttempt.Dropped) Notify(*item, TDeliveryOutcome::doDropped);
    FDropped += AAttempt.Dropped.size();
    AAttempt.Dropped.clear();
  }

 private:
  void Notify(const TItem& AItem, TDeliveryOutcome AOutcome) {
    if (FListener) FListener->ItemSettled(Destination(), AItem, AOutcome);
  }

  // Moves the oldest items beyond the limit into ATrimmed.
  void TrimQueue(std::deque<TItemPtr>& ATrimmed) REQUIRES(FQueueLock) {
    while (FQueue.size() > Tuning().MaxQueuedItems) {
      ATrimmed.push_back(std::move(FQueue.front()));
      FQueue.pop_front();
    }
    FDropped += ATrimmed.size();
  }

  void DropTrimmed(std::deque<TItemPtr>& ATrimmed) {
    if (ATrimmed.empty()) return;
    for (const TItemPtr& item : ATrimmed) Notify(*item, TDeliveryOutcome::doDropped);
    LogError("[Senders] Queue for %s is full (%zu %s): dropped the %zu oldest", Destination().c_str(),
             Tuning().MaxQueuedItems, ItemName().c_str(), ATrimmed.size());
  }

  IDeliveryListener<TItem>* FListener = nullptr;
  mutable TCriticalSection FQueueLock;
  std::deque<TItemPtr> FQueue GUARDED_BY(FQueueLock);
};

}  // namespace zor
