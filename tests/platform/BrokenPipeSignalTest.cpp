#include "platform/BrokenPipeSignal.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "support/SignalBlocked.h"

namespace zor {
namespace {

TEST(BrokenPipeSignalTest, AWriteToAGonePeerFailsWithEpipeInTheBlockingThreadOnly) {
  ASSERT_FALSE(test::SignalBlocked(SIGPIPE));
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  ssize_t written = 0;
  int error = 0;
  bool blockedThere = false;
  std::thread writer([&] {
    BlockBrokenPipeSignal();
    BlockBrokenPipeSignal();
    blockedThere = test::SignalBlocked(SIGPIPE);
    // Not blocked, this write would end the test program.
    written = write(ends[1], "x", 1);
    error = errno;
  });
  writer.join();
  close(ends[1]);
  EXPECT_TRUE(blockedThere);
  EXPECT_EQ(written, -1);
  EXPECT_EQ(error, EPIPE);
  EXPECT_FALSE(test::SignalBlocked(SIGPIPE));
}

}  // namespace
}  // namespace zor
