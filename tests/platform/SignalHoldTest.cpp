#include "platform/SignalHold.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include "platform/Event.h"
#include "platform/SignalWatcher.h"

namespace zor {
namespace {

bool Blocked(int ASignal) {
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  return sigismember(&mask, ASignal) == 1;
}

TEST(SignalHoldTest, ASignalThatComesWhileHeldWaitsForTheWatcherAndReleaseGivesTheMaskBack) {
  ASSERT_FALSE(Blocked(SIGHUP));
  TSignalHold hold({SIGHUP});
  // Not held, this would end the test program.
  ASSERT_EQ(pthread_kill(pthread_self(), SIGHUP), 0);
  {
    TEvent never;
    TSignalWatcher watcher({SIGHUP});
    EXPECT_EQ(watcher.Wait(never), SIGHUP);
  }
  // The watcher gives back the mask it found: still held.
  EXPECT_TRUE(Blocked(SIGHUP));
  hold.Release();
  EXPECT_FALSE(Blocked(SIGHUP));
}

}  // namespace
}  // namespace zor
