#include "platform/SignalHold.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include "platform/Event.h"
#include "platform/SignalWatcher.h"
#include "support/SignalBlocked.h"

namespace zor {
namespace {

TEST(SignalHoldTest, ASignalThatComesWhileHeldWaitsForTheWatcherAndReleaseGivesTheMaskBack) {
  ASSERT_FALSE(test::SignalBlocked(SIGHUP));
  TSignalHold hold({SIGHUP});
  // Not held, this would end the test program.
  ASSERT_EQ(pthread_kill(pthread_self(), SIGHUP), 0);
  {
    TEvent never;
    TSignalWatcher watcher({SIGHUP});
    EXPECT_EQ(watcher.Wait(never), SIGHUP);
  }
  // The watcher gives back the mask it found: still held.
  EXPECT_TRUE(test::SignalBlocked(SIGHUP));
  hold.Release();
  EXPECT_FALSE(test::SignalBlocked(SIGHUP));
}

}  // namespace
}  // namespace zor
