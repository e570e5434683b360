#pragma once

#include <cstdint>
#include <functional>

#include "platform/MessageQueue.h"

namespace zor {

// A hidden message target on one thread: what posters (the management
// endpoint, the configuration query thread, the service host) address when
// they ask the owning thread to do something, such as WM_RECONFIGURE.
//
// Created on the thread whose message loop will run its handler, and
// destroyed on that same thread before the thread's message queue goes; it
// attaches to that queue.
// PostMessage may be called from any thread while the window exists. The
// handler runs on the owning thread, from DispatchMessage.
class TControlWindow {
 public:
  using THandler = std::function<void(const TMessage&)>;

  // Throws EPlatformError when the calling thread has no message queue.
  explicit TControlWindow(THandler AHandler);
  // Drops the messages still queued for this window.
  ~TControlWindow();
  TControlWindow(const TControlWindow&) = delete;
  TControlWindow& operator=(const TControlWindow&) = delete;

  void PostMessage(uint32_t AMessage, uintptr_t AWParam = 0, intptr_t ALParam = 0);

  // Runs the handler; called by the message loop of the owning thread.
  void Dispatch(const TMessage& AMessage) { FHandler(AMessage); }

 private:
  TMessageQueue& FQueue;
  THandler FHandler;
};

// Hands a message taken from a queue to its window; false for a thread
// message (no window), which the loop handles itself.
bool DispatchMessage(const TMessage& AMessage);

}  // namespace zor
