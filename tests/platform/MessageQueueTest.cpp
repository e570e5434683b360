#include "platform/MessageQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ControlWindow.h"
#include "platform/PlatformError.h"
#include "platform/ThreadId.h"

namespace zor {
namespace {

TEST(MessageQueueTest, MessagesArriveInOrderAndQuitEndsTheLoop) {
  TMessageQueue queue;
  std::thread poster([&] {
    for (uintptr_t i = 1; i <= 3; ++i) queue.PostMessage(WM_RECONFIGURE, i, -static_cast<intptr_t>(i));
    queue.PostMessage(WM_QUIT);
  });
  std::vector<uintptr_t> seen;
  TMessage message;
  while (queue.GetMessage(message)) {
    EXPECT_EQ(message.Message, WM_RECONFIGURE);
    EXPECT_EQ(message.LParam, -static_cast<intptr_t>(message.WParam));
    seen.push_back(message.WParam);
  }
  poster.join();
  EXPECT_EQ(message.Message, WM_QUIT);
  EXPECT_EQ(seen, (std::vector<uintptr_t>{1, 2, 3}));
  EXPECT_FALSE(queue.PeekMessage(message));
  EXPECT_FALSE(queue.MessageEvent()->IsSet());
}

TEST(MessageQueueTest, PostThreadMessageReachesOnlyAThreadWithAQueue) {
  EXPECT_FALSE(PostThreadMessage(GetCurrentThreadId(), WM_QUIT));
  {
    TMessageQueue queue;
    EXPECT_EQ(queue.OwnerThreadId(), GetCurrentThreadId());
    std::thread poster([id = GetCurrentThreadId()] { EXPECT_TRUE(PostThreadMessage(id, WM_QUIT)); });
    poster.join();
    TMessage message;
    EXPECT_FALSE(queue.GetMessage(message));
  }
  EXPECT_FALSE(PostThreadMessage(GetCurrentThreadId(), WM_QUIT));
}

TEST(MessageQueueTest, ThreadIdsAreDistinctAndNonZero) {
  const uint32_t mine = GetCurrentThreadId();
  uint32_t other = 0;
  std::thread([&] { other = GetCurrentThreadId(); }).join();
  EXPECT_NE(mine, 0u);
  EXPECT_NE(other, 0u);
  EXPECT_NE(mine, other);
}

}  // namespace
}  // namespace zor

namespace zor {
namespace {

TEST(ControlWindowTest, MessagesReachTheirWindowAndDieWithIt) {
  EXPECT_THROW(TControlWindow([](const TMessage&) {}), EPlatformError) << "no message queue on this thread";
  TMessageQueue queue;
  std::vector<std::string> handled;
  auto window = std::make_unique<TControlWindow>(
      [&](const TMessage& AMessage) { handled.push_back("first " + std::to_string(AMessage.WParam)); });
  TControlWindow second([&](const TMessage& AMessage) { handled.push_back("second " + std::to_string(AMessage.WParam)); });
  std::thread([&] {
    window->PostMessage(WM_RECONFIGURE, 1);
    second.PostMessage(WM_RECONFIGURE, 2);
    window->PostMessage(WM_RECONFIGURE, 3);
  }).join();
  queue.PostMessage(WM_USER, 4);  // a thread message: no window

  TMessage message;
  ASSERT_TRUE(queue.GetMessage(message));
  EXPECT_TRUE(DispatchMessage(message));
  window.reset();  // message 3 must not reach a freed window
  while (queue.PeekMessage(message))
    if (!DispatchMessage(message)) handled.push_back("thread " + std::to_string(message.WParam));
  EXPECT_EQ(handled, (std::vector<std::string>{"first 1", "second 2", "thread 4"}));
}

}  // namespace
}  // namespace zor
