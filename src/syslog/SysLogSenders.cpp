#include "syslog/SysLogSenders.h"

#include <chrono>
#include <unordered_map>
#include <utility>
#include <vector>

#include "support/Errors.h"
#include "support/Log.h"
#include "support/Utilities.h"

namespace zor {

TSysLogSenders::TSysLogSenders(TSyslogMessageQueue* AQueue) : FQueue(AQueue) {}

TSysLogSenders::~TSysLogSenders() {
  (void)ThreadStop(true, INFINITE);
  Clear();
}

std::string TSysLogSenders::DestinationKey(const std::string& AHost, uint16_t APort) {
  return AHost + ":" + std::to_string(APort);
}

void TSysLogSenders::AddSender(std::unique_ptr<TSysLogSender>&& ASender) {
  const std::string key = DestinationKey(ASender->DestinationHost(), ASender->DestinationPort());
  TWriteGuard guard(FMulitReadWriteLock);
  if (!FSenderDict.emplace(key, std::move(ASender)).second)
    throw EZorError("Duplicates not allowed: there is a syslog sender for " + key + " already");
}

bool TSysLogSenders::SendMessage(std::unique_ptr<TBaseSysLogMessage>& AMessage, const std::string& ASenderName) {
  {
    TReadGuard guard(FMulitReadWriteLock);
    const auto found = FSenderDict.find(ASenderName);
    if (found != FSenderDict.end()) {
      (void)found->second->AddMessage(std::move(AMessage));
      return true;
    }
  }
  LogError("Could not find sender %s", ASenderName.c_str());
  return false;
}

bool TSysLogSenders::HasSender(const std::string& AIP, uint16_t APort, bool AUdp) {
  TReadGuard guard(FMulitReadWriteLock);
  for (const auto& [key, sender] : FSenderDict)
    if (sender->DestinationHost() == AIP && sender->DestinationPort() == APort &&
        (sender->DestinationTransport() == TSysLogTransport::sltUDP) == AUdp)
      return true;
  return false;
}

bool TSysLogSenders::HasUDPSender(const std::string& AIP, uint16_t APort) { return HasSender(AIP, APort, true); }

bool TSysLogSenders::HasTCPSender(const std::string& AIP, uint16_t APort) { return HasSender(AIP, APort, false); }

TSysLogSender* TSysLogSenders::FindSender(const std::string& AKey) {
  TReadGuard guard(FMulitReadWriteLock);
  const auto found = FSenderDict.find(AKey);
  return found == FSenderDict.end() ? nullptr : found->second.get();
}

size_t TSysLogSenders::Count() {
  TReadGuard guard(FMulitReadWriteLock);
  return FSenderDict.size();
}

size_t TSysLogSenders::QueuedCount() {
  TReadGuard guard(FMulitReadWriteLock);
  size_t count = 0;
  for (const auto& [key, sender] : FSenderDict) count += sender->QueuedCount();
  return count;
}

void TSysLogSenders::Clear() {
  TSenderDict senders;
  {
    TWriteGuard guard(FMulitReadWriteLock);
    if (FSendersStarted) return;
    senders.swap(FSenderDict);
  }
  // A sender hands back what it could not send only once its thread has
  // ended. Those messages are older than anything still in the outbound
  // queue, so they go in front of it.
  TSysLogSender::TMessageList unsent;
  for (auto& [key, sender] : senders) {
    (void)sender->ThreadStop(true, INFINITE);
    TSysLogSender::TMessageList queued = sender->TakeQueued();
    if (queued.empty()) continue;
    LogInfo("[SysLogSenders] %zu unsent messages for %s kept for the next start-up", queued.size(), key.c_str());
    for (auto& message : queued) unsent.push_back(std::move(message));
  }
  if (!unsent.empty()) FQueue->EnqueueFront(std::move(unsent));
}

bool TSysLogSenders::BeforeThreadStart(bool AWaitTillStarted) {
  (void)AWaitTillStarted;
  TWriteGuard guard(FMulitReadWriteLock);
  for (auto& [key, sender] : FSenderDict) (void)sender->ThreadStart(false, 0);
  FSendersStarted = true;
  return true;
}

bool TSysLogSenders::BeforeThreadStop(bool AWaitTillFinished) {
  const bool result = TCustomThread::BeforeThreadStop(AWaitTillFinished);
  TWriteGuard guard(FMulitReadWriteLock);
  if (!FSendersStarted) return result;
  for (auto& [key, sender] : FSenderDict) {
    LogDebug("Shutting Down Sender %s", key.c_str());
    (void)sender->ThreadStop(false, 0);
  }
  FSendersStarted = false;
  return result;
}

bool TSysLogSenders::Execute() {
  while (!Terminated()) {
    const uint32_t signalled = WaitForAny({FShouldFinishEvent.get(), FQueue->QueueEvent()}, INFINITE);
    if (signalled == WAIT_OBJECT_0) {
      LogInfo("[SysLogSenders] Received Should Finish Event");
      break;
    }
    if (signalled != WAIT_OBJECT_0 + 1) continue;
    FQueue->QueueEvent()->Reset();
    try {
      Dispatch();
    } catch (const std::exception& e) {
      LogError("[SysLogSenders] Error dispatching messages: %s", e.what());
    }
  }
  return true;
}

void TSysLogSenders::Dispatch() {
  TSyslogMessageQueue::TItemQueue messages = FQueue->GetAll();
  const size_t total = messages.size();
  // One list per destination, each in queue order.
  std::unordered_map<std::string, TSysLogSender::TMessageList> groups;
  for (auto& message : messages) {
    if (!message) continue;
    groups[DestinationKey(message->DestinationHost(), message->DestinationPort())].push_back(std::move(message));
  }
  messages.clear();

  const auto started = std::chrono::steady_clock::now();
  size_t queued = 0;
  TReadGuard guard(FMulitReadWriteLock);
  for (auto& [key, list] : groups) {
    const auto found = FSenderDict.find(key);
    if (found == FSenderDict.end()) {
      LogError("[SysLogSenders] %s Not in syslog sender list. Dropping batch of %d messages", key.c_str(),
               static_cast<int>(list.size()));
      continue;
    }
    queued += list.size();
    found->second->AddMessageBatch(std::move(list));
  }
  const double milliseconds =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  LogDebug("[SysLogSenders] Queued %d of %d messages in %.3f  millisconds", static_cast<int>(queued),
           static_cast<int>(total), milliseconds);
}

}  // namespace zor
