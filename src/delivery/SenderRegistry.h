#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

#include "core/CustomThread.h"
#include "core/SignalledQueue.h"
#include "core/velSlimReadWriteLock.h"
#include "delivery/DeliveryOutcome.h"
#include "platform/Errors.h"
#include "support/Log.h"

namespace zor {

// The words a registry writes in its log lines.
struct TSenderRegistryNames {
  // Bracketed tag of the registry's lines ("SysLogSenders").
  const char* Tag;
  // Plural noun of the items ("messages", "documents").
  const char* Items;
  // What the DEBUG line of a stopping sender calls it ("Sender", "Beat Sender").
  const char* SenderKind;
  // The dispatch error line for a destination without a sender
  // ("syslog sender").
  const char* ListName;
};

// The registry of an output's senders and the dispatcher that feeds them. Its
// thread consumes the output's outbound queue: each time the queue signals, it
// takes everything queued, groups the items by destination ("host:port",
// compared exactly) and hands each group to its sender as one batch, so a
// burst costs one lock and one wake-up per sender. It never waits for the
// network.
//
// TSender is a TSenderWorker<TItem> with DestinationHost() and
// DestinationPort(); TItem has DestinationHost() and DestinationPort() too.
//
// Life: the pipeline set-up adds one sender per destination, then starts the
// registry, which starts every sender. Stopping the registry tells every
// sender to stop; Clear then waits for each sender's thread, puts the items
// the senders had not sent back at the head of the outbound queue (so the
// registry of the next start-up sends them, not the bin), and frees the
// senders.
//
// Ownership: the registry owns its senders and its delivery listener (set on
// every sender it registers, and told of the items of a destination that has
// no sender, which are dropped); the queue is borrowed and must outlive the
// registry.
//
// Threads: AddSender and Clear are for the owner, while the registry is not
// started (the dictionary changes only then). SendItem, FindSender, Count and
// QueuedCount may be called from any thread.
template <class TSender, class TItem>
class TSenderRegistry : public TCustomThread {
 public:
  using TQueue = TSignalledQueue<TItem>;

  TSenderRegistry(TQueue* AQueue, TSenderRegistryNames ANames) : FQueue(AQueue), FNames(ANames) {}
  ~TSenderRegistry() override {
    (void)ThreadStop(true, INFINITE);
    Clear();
  }

  // "host:port", the key of a sender and of an item's destination.
  [[nodiscard]] static std::string DestinationKey(const std::string& AHost, uint16_t APort) {
    return AHost + ":" + std::to_string(APort);
  }

  // Takes AListener (null: none) for the senders added from now on; for the
  // owner, before any sender is added.
  void SetListener(std::unique_ptr<IDeliveryListener<TItem>>&& AListener) { FListener = std::move(AListener); }

  // Registers ASender under its destination key. Throws EZorError when a
  // sender with that key exists.
  void AddSender(std::unique_ptr<TSender>&& ASender) {
    const std::string key = DestinationKey(ASender->DestinationHost(), ASender->DestinationPort());
    ASender->SetListener(FListener.get());
    TWriteGuard guard(FMulitReadWriteLock);
    if (!FSenderDict.emplace(key, std::move(ASender)).second)
      throw EZorError(std::string("Duplicates not allowed: there is a ") + FNames.ListName + " for " + key +
                      " already");
  }
  // Hands AItem to the sender registered as AKey and returns true; logs
  // "Could not find sender %s" and returns false, leaving AItem with the
  // caller, when there is none.
  bool SendItem(std::unique_ptr<TItem>& AItem, const std::string& AKey) {
    {
      TReadGuard guard(FMulitReadWriteLock);
      const auto found = FSenderDict.find(AKey);
      if (found != FSenderDict.end()) {
        found->second->AddItem(std::move(AItem));
        return true;
      }
    }
    LogError("Could not find sender %s", AKey.c_str());
    return false;
  }
  [[nodiscard]] bool HasSender(const std::string& AHost, uint16_t APort) {
    return FindSender(DestinationKey(AHost, APort)) != nullptr;
  }
  // The sender registered under AKey, or null. Borrowed; valid until Clear.
  [[nodiscard]] TSender* FindSender(const std::string& AKey) {
    TReadGuard guard(FMulitReadWriteLock);
    const auto found = FSenderDict.find(AKey);
    return found == FSenderDict.end() ? nullptr : found->second.get();
  }
  [[nodiscard]] size_t Count() {
    TReadGuard guard(FMulitReadWriteLock);
    return FSenderDict.size();
  }
  // Items waiting in the senders, all destinations together.
  [[nodiscard]] size_t QueuedCount() {
    TReadGuard guard(FMulitReadWriteLock);
    size_t count = 0;
    for (const auto& [key, sender] : FSenderDict) count += sender->QueuedCount();
    return count;
  }
  // Calls AVisit(key, sender) for every sender, under the read lock.
  template <class TVisit>
  void ForEachSender(TVisit&& AVisit) {
    TReadGuard guard(FMulitReadWriteLock);
    for (const auto& [key, sender] : FSenderDict) AVisit(key, *sender);
  }

  // Does nothing while the senders are started; see the class comment.
  void Clear() {
    TSenderDict senders;
    {
      TWriteGuard guard(FMulitReadWriteLock);
      if (FSendersStarted) return;
      senders.swap(FSenderDict);
    }
    // A sender hands back what it could not send only once its thread has
    // ended. Those items are older than anything still in the outbound queue,
    // so they go in front of it.
    typename TQueue::TItemList unsent;
    for (auto& [key, sender] : senders) {
      (void)sender->ThreadStop(true, INFINITE);
      auto queued = sender->TakeQueued();
      if (queued.empty()) continue;
      LogInfo("[%s] %zu unsent %s for %s kept for the next start-up", FNames.Tag, queued.size(), FNames.Items,
              key.c_str());
      for (auto& item : queued) unsent.push_back(std::move(item));
    }
    if (!unsent.empty()) FQueue->EnqueueFront(std::move(unsent));
  }

 protected:
  bool BeforeThreadStart(bool AWaitTillStarted) override {
    (void)AWaitTillStarted;
    TWriteGuard guard(FMulitReadWriteLock);
    for (auto& [key, sender] : FSenderDict) (void)sender->ThreadStart(false, 0);
    FSendersStarted = true;
    return true;
  }

  bool BeforeThreadStop(bool AWaitTillFinished) override {
    const bool result = TCustomThread::BeforeThreadStop(AWaitTillFinished);
    TWriteGuard guard(FMulitReadWriteLock);
    if (!FSendersStarted) return result;
    for (auto& [key, sender] : FSenderDict) {
      LogDebug("Shutting Down %s %s", FNames.SenderKind, key.c_str());
      (void)sender->ThreadStop(false, 0);
    }
    FSendersStarted = false;
    return result;
  }

  bool Execute() override {
    while (!Terminated()) {
      const uint32_t signalled = WaitForAny({FShouldFinishEvent.get(), FQueue->QueueEvent()}, INFINITE);
      if (signalled == WAIT_OBJECT_0) {
        LogInfo("[%s] Received Should Finish Event", FNames.Tag);
        break;
      }
      if (signalled != WAIT_OBJECT_0 + 1) continue;
      FQueue->QueueEvent()->Reset();
      try {
        Dispatch();
      } catch (const std::exception& e) {
        LogError("[%s] Error dispatching %s: %s", FNames.Tag, FNames.Items, e.what());
      }
    }
    return true;
  }

 private:
  using TSenderDict = std::map<std::string, std::unique_ptr<TSender>>;

  void Dispatch() {
    typename TQueue::TItemQueue items = FQueue->GetAll();
    const size_t total = items.size();
    // One list per destination, each in queue order.
    std::unordered_map<std::string, typename TQueue::TItemList> groups;
    // Items mostly come in runs for one destination: the key and its list
    // are looked up again only when the destination changes.
    typename TQueue::TItemList* list = nullptr;
    const std::string* lastHost = nullptr;
    uint16_t lastPort = 0;
    for (auto& item : items) {
      if (!item) continue;
      if (list == nullptr || item->DestinationPort() != lastPort || item->DestinationHost() != *lastHost) {
        list = &groups[DestinationKey(item->DestinationHost(), item->DestinationPort())];
        lastPort = item->DestinationPort();
      }
      list->push_back(std::move(item));
      lastHost = &list->back()->DestinationHost();
    }
    items.clear();

    const auto started = std::chrono::steady_clock::now();
    size_t queued = 0;
    TReadGuard guard(FMulitReadWriteLock);
    for (auto& [key, list] : groups) {
      const auto found = FSenderDict.find(key);
      if (found == FSenderDict.end()) {
        LogError("[%s] %s Not in %s list. Dropping batch of %d %s", FNames.Tag, key.c_str(), FNames.ListName,
                 static_cast<int>(list.size()), FNames.Items);
        // Given up for good: the receiver is no longer configured.
        if (FListener)
          for (const auto& item : list) FListener->ItemSettled(key, *item, TDeliveryOutcome::doDropped);
        continue;
      }
      queued += list.size();
      found->second->AddBatch(std::move(list));
    }
    const double milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    LogDebug("[%s] Queued %d of %d %s in %.3f  millisconds", FNames.Tag, static_cast<int>(queued),
             static_cast<int>(total), FNames.Items, milliseconds);
  }

  TQueue* const FQueue;
  const TSenderRegistryNames FNames;
  // Declared before the senders, so that it outlives them.
  std::unique_ptr<IDeliveryListener<TItem>> FListener;
  TvelSlimReadWriteLock FMulitReadWriteLock;
  TSenderDict FSenderDict GUARDED_BY(FMulitReadWriteLock);
  bool FSendersStarted GUARDED_BY(FMulitReadWriteLock) = false;
};

}  // namespace zor
