#include "platform/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/PlatformError.h"

namespace zor {
namespace {

using namespace std::chrono_literals;

TEST(EventTest, ManualResetStaysSignalledUntilReset) {
  TEvent event;
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.WaitFor(0));
  event.Set();
  event.Set();  // a second Set must not need a second Reset
  EXPECT_TRUE(event.WaitFor(0));
  EXPECT_TRUE(event.WaitFor(INFINITE));  // not consumed by a wait
  event.Reset();
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.WaitFor(0));
  event.Reset();  // resetting a reset event is harmless
  EXPECT_FALSE(event.WaitFor(0));
}

TEST(EventTest, WaitForAnyReturnsLowestSignalledIndex) {
  TEvent a, b, c;
  struct Case {
    bool A, B, C;
    uint32_t Expected;
  };
  const Case cases[] = {
      {false, false, false, WAIT_TIMEOUT}, {false, false, true, 2}, {false, true, true, 1},
      {true, false, true, 0},              {true, true, true, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(testing::Message() << test.A << test.B << test.C);
    for (auto [event, on] : {std::pair{&a, test.A}, {&b, test.B}, {&c, test.C}}) on ? event->Set() : event->Reset();
    EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), test.Expected);
  }
}

TEST(EventTest, WaitForAnyTimesOutAfterTheLimit) {
  TEvent a, b;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForAny({&a, &b}, 50), WAIT_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
}

TEST(EventTest, SetFromAnotherThreadWakesAnUnlimitedWait) {
  TEvent a, b;
  std::thread setter([&] { b.Set(); });
  EXPECT_EQ(WaitForAny({&a, &b}, INFINITE), 1u);
  setter.join();
}

TEST(EventTest, ManyWaitersAreAllReleasedBySet) {
  TEvent event;
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] {
      if (event.WaitFor(INFINITE)) ++released;
    });
  event.Set();
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(released.load(), 4);
}

TEST(EventTest, WaitForAnyRejectsBadLists) {
  TEvent event;
  std::vector<TEvent*> tooMany(MAXIMUM_WAIT_OBJECTS + 1, &event);
  EXPECT_THROW((void)WaitForAny(tooMany, 0), EPlatformError);
  EXPECT_THROW((void)WaitForAny(std::span<TEvent* const>(), 0), EPlatformError);
  EXPECT_THROW((void)WaitForAny({&event, nullptr}, 0), EPlatformError);
}

// A Set racing a Reset must leave the event in one consistent state: never
// "reset" while a wait still returns it as signalled.
TEST(EventTest, RacingSetAndResetNeverLeaveASpuriousSignal) {
  TEvent event;
  for (int round = 0; round < 2000; ++round) {
    std::thread setter([&] { event.Set(); });
    event.Reset();
    setter.join();
    const bool set = event.IsSet();
    EXPECT_EQ(event.WaitFor(0), set);
    event.Reset();
    ASSERT_FALSE(event.WaitFor(0));
  }
}

}  // namespace
}  // namespace zor
