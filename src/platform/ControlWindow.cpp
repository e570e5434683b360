#include "platform/ControlWindow.h"

#include <cerrno>
#include <utility>

#include "platform/PlatformError.h"

namespace zor {

namespace {

TMessageQueue& CurrentQueue() {
  TMessageQueue* queue = TMessageQueue::Current();
  if (queue == nullptr) throw EPlatformError("the calling thread has no message queue", ENOENT);
  return *queue;
}

}  // namespace

TControlWindow::TControlWindow(THandler AHandler) : FQueue(CurrentQueue()), FHandler(std::move(AHandler)) {}

TControlWindow::~TControlWindow() { FQueue.RemoveMessagesFor(this); }

void TControlWindow::PostMessage(uint32_t AMessage, uintptr_t AWParam, intptr_t ALParam) {
  FQueue.PostMessage(TMessage{this, AMessage, AWParam, ALParam});
}

bool DispatchMessage(const TMessage& AMessage) {
  if (AMessage.Window == nullptr) return false;
  AMessage.Window->Dispatch(AMessage);
  return true;
}

}  // namespace zor
