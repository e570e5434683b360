#include "core/velSlimReadWriteLock.h"

#include <gtest/gtest.h>

#include <thread>

namespace zor {
namespace {

using State = TMultiReadSingleWriteState;

// State and the Try forms, probed from a thread that does not hold the lock.
TEST(velSlimReadWriteLockTest, StateAndTryFormsFollowWhoHoldsTheLock) {
  TvelSlimReadWriteLock lock;
  auto probe = [&lock](State AExpected, bool ACanRead, bool ACanWrite) {
    std::thread([&] {
      EXPECT_EQ(lock.State(), AExpected);
      if (lock.TryBeginRead()) {
        EXPECT_TRUE(ACanRead);
        lock.EndRead();
      } else {
        EXPECT_FALSE(ACanRead);
      }
      if (lock.TryBeginWrite()) {
        EXPECT_TRUE(ACanWrite);
        lock.EndWrite();
      } else {
        EXPECT_FALSE(ACanWrite);
      }
    }).join();
  };
  {
    SCOPED_TRACE("unlocked");
    probe(State::mrswUnlocked, true, true);
  }
  {
    SCOPED_TRACE("read");
    TReadGuard read(lock);
    probe(State::mrswReadLock, true, false);
  }
  {
    SCOPED_TRACE("write");
    TWriteGuard write(lock);
    probe(State::mrswWriteLock, false, false);
  }
  EXPECT_EQ(lock.State(), State::mrswUnlocked);
  EXPECT_EQ(static_cast<int>(State::mrswWriteLock), 2);
}

}  // namespace
}  // namespace zor
