#pragma once

#include <cstdint>
#include <deque>

#include "platform/CriticalSection.h"
#include "platform/Event.h"

namespace zor {

// Message numbers of the control channel.
constexpr uint32_t WM_QUIT = 18;
constexpr uint32_t WM_USER = 1024;
// The configuration changed: stop the pipeline, reload it and start again.
constexpr uint32_t WM_RECONFIGURE = WM_USER + 1;

class TControlWindow;

struct TMessage {
  TControlWindow* Window = nullptr;  // the target window; none for a thread message
  uint32_t Message = 0;
  uintptr_t WParam = 0;
  intptr_t LParam = 0;
};

// A thread's message queue: the control channel of the service thread.
//
// Any thread may PostMessage; only the owning thread (the one that created the
// queue) calls GetMessage. While it exists, the queue is registered under its
// owner's thread id, so PostThreadMessage(threadId, WM_QUIT) -- which
// TCustomThread::ThreadStop sends to every thread it stops -- ends the loop of a
// thread that runs one. The queue must outlive every poster that holds a
// pointer to it; it must be destroyed on its owning thread.
class TMessageQueue {
 public:
  TMessageQueue();
  ~TMessageQueue();
  TMessageQueue(const TMessageQueue&) = delete;
  TMessageQueue& operator=(const TMessageQueue&) = delete;

  // The calling thread's queue, or null when it has none.
  [[nodiscard]] static TMessageQueue* Current();

  // Appends a message and wakes the owner. Never blocks on the consumer.
  void PostMessage(const TMessage& AMessage) EXCLUDES(FCriticalSection);
  void PostMessage(uint32_t AMessage, uintptr_t AWParam = 0, intptr_t ALParam = 0) EXCLUDES(FCriticalSection) {
    PostMessage(TMessage{nullptr, AMessage, AWParam, ALParam});
  }
  // Drops every queued message addressed to AWindow (a window that goes away).
  void RemoveMessagesFor(const TControlWindow* AWindow) EXCLUDES(FCriticalSection);
  // Blocks until a message arrives and takes it out. False for WM_QUIT, which
  // ends the caller's loop; true for any other message.
  [[nodiscard]] bool GetMessage(TMessage& AMessage) EXCLUDES(FCriticalSection);
  // Takes the next message out without blocking (WM_QUIT like any other);
  // false when none is queued.
  [[nodiscard]] bool PeekMessage(TMessage& AMessage) EXCLUDES(FCriticalSection);

  uint32_t OwnerThreadId() const { return FOwnerThreadId; }
  // Signalled while a message is queued; for waiting on messages and other
  // events at once.
  TEvent* MessageEvent() { return &FArrived; }

 private:
  const uint32_t FOwnerThreadId;
  TCriticalSection FCriticalSection;
  TEvent FArrived;  // set inside the lock by every post
  std::deque<TMessage> FMessages GUARDED_BY(FCriticalSection);
};

// Posts a message to the queue of thread AThreadId. False when that thread has
// no message queue (it runs no message loop); the message is then dropped.
bool PostThreadMessage(uint32_t AThreadId, uint32_t AMessage, uintptr_t AWParam = 0, intptr_t ALParam = 0);

}  // namespace zor
