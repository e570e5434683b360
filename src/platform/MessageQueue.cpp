#include "platform/MessageQueue.h"

#include <unordered_map>

#include "platform/PlatformError.h"
#include "platform/ThreadId.h"

namespace zor {

namespace {

// Thread id -> that thread's queue. Posting looks the queue up and appends
// under the registry lock, so a queue cannot be unregistered and destroyed in
// the middle of a post.
struct TQueueRegistry {
  TCriticalSection CriticalSection;
  std::unordered_map<uint32_t, TMessageQueue*> Queues GUARDED_BY(CriticalSection);
};

// Never destroyed: a thread may still drop its queue while the process exits.
TQueueRegistry& Registry() {
  static TQueueRegistry* const registry = new TQueueRegistry();
  return *registry;
}

}  // namespace

TMessageQueue::TMessageQueue() : FOwnerThreadId(GetCurrentThreadId()) {
  TQueueRegistry& registry = Registry();
  TCriticalSectionGuard guard(registry.CriticalSection);
  if (!registry.Queues.emplace(FOwnerThreadId, this).second)
    throw EPlatformError("thread " + std::to_string(FOwnerThreadId) + " already has a message queue");
}

TMessageQueue::~TMessageQueue() {
  TQueueRegistry& registry = Registry();
  TCriticalSectionGuard guard(registry.CriticalSection);
  registry.Queues.erase(FOwnerThreadId);
}

TMessageQueue* TMessageQueue::Current() {
  TQueueRegistry& registry = Registry();
  TCriticalSectionGuard guard(registry.CriticalSection);
  const auto found = registry.Queues.find(GetCurrentThreadId());
  return found == registry.Queues.end() ? nullptr : found->second;
}

void TMessageQueue::PostMessage(const TMessage& AMessage) {
  TCriticalSectionGuard guard(FCriticalSection);
  FMessages.push_back(AMessage);
  FArrived.Set();
}

void TMessageQueue::RemoveMessagesFor(const TControlWindow* AWindow) {
  TCriticalSectionGuard guard(FCriticalSection);
  std::erase_if(FMessages, [AWindow](const TMessage& AMessage) { return AMessage.Window == AWindow; });
  if (FMessages.empty()) FArrived.Reset();
}

bool TMessageQueue::GetMessage(TMessage& AMessage) {
  while (!PeekMessage(AMessage)) (void)FArrived.WaitFor(INFINITE);
  return AMessage.Message != WM_QUIT;
}

bool TMessageQueue::PeekMessage(TMessage& AMessage) {
  TCriticalSectionGuard guard(FCriticalSection);
  if (FMessages.empty()) {
    FArrived.Reset();
    return false;
  }
  AMessage = FMessages.front();
  FMessages.pop_front();
  if (FMessages.empty()) FArrived.Reset();
  return true;
}

bool PostThreadMessage(uint32_t AThreadId, uint32_t AMessage, uintptr_t AWParam, intptr_t ALParam) {
  TQueueRegistry& registry = Registry();
  TCriticalSectionGuard guard(registry.CriticalSection);
  const auto found = registry.Queues.find(AThreadId);
  if (found == registry.Queues.end()) return false;
  found->second->PostMessage(TMessage{nullptr, AMessage, AWParam, ALParam});
  return true;
}

}  // namespace zor
