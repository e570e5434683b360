#include "core/CustomThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "core/ParkedThreads.h"
#include "platform/MessageQueue.h"
#include "support/WaitUntil.h"

namespace zor {
namespace {

// A worker whose body waits for should-finish or for the test's release
// event, and that records its hooks. Follows the rule of the base: it stops
// its own thread, waiting, first thing in its destructor.
class TProbeThread : public TCustomThread {
 public:
  ~TProbeThread() override { (void)ThreadStop(true, INFINITE); }

  bool IgnoreShouldFinish = false;   // the body then waits for FRelease only
  bool SignalStarted = false;        // the body signals FStartedEvent first
  bool BeforeStopResult = true;
  TEvent Release;
  std::atomic<bool> BodyRan{false};
  std::atomic<bool> SawTerminated{false};
  std::vector<std::string> Hooks;  // only the owner's thread writes it
  std::atomic<bool>* Ended = nullptr;  // set by the body as its last act

  TEvent* ShouldFinish() { return FShouldFinishEvent.get(); }

 protected:
  bool Execute() override {
    BodyRan = true;
    if (SignalStarted) FStartedEvent->Set();
    if (IgnoreShouldFinish) {
      (void)Release.WaitFor(INFINITE);
    } else {
      while (WaitForAny({FShouldFinishEvent.get(), &Release}, INFINITE) != 0) Release.Reset();
    }
    SawTerminated = Terminated();
    if (Ended != nullptr) *Ended = true;
    return true;
  }
  bool BeforeThreadStart(bool AWaitTillStarted) override {
    Hooks.push_back(std::string("BeforeThreadStart ") + (AWaitTillStarted ? "true" : "false"));
    return true;
  }
  bool AfterThreadStart() override {
    Hooks.push_back("AfterThreadStart");
    return true;
  }
  bool BeforeThreadStop(bool AWaitTillFinished) override {
    Hooks.push_back(std::string("BeforeThreadStop ") + (AWaitTillFinished ? "true" : "false"));
    return BeforeStopResult;
  }
  bool AfterThreadStop() override {
    Hooks.push_back("AfterThreadStop");
    return true;
  }
};

TEST(CustomThreadTest, RunsOnceAndCallsItsHooksInOrder) {
  TProbeThread thread;
  EXPECT_FALSE(thread.Started());
  EXPECT_EQ(thread.ThreadId(), 0u);
  ASSERT_TRUE(thread.ThreadStart(false, INFINITE));
  EXPECT_TRUE(thread.Started());
  EXPECT_NE(thread.ThreadId(), 0u);
  EXPECT_FALSE(thread.Terminated());
  EXPECT_FALSE(thread.ThreadStart(false, INFINITE)) << "a second start while running";

  EXPECT_TRUE(thread.ThreadStop(true, INFINITE));
  EXPECT_TRUE(thread.BodyRan);
  EXPECT_TRUE(thread.SawTerminated) << "Terminated is set before should-finish is signalled";
  EXPECT_TRUE(thread.Terminated());
  EXPECT_TRUE(thread.Started()) << "never cleared";
  EXPECT_FALSE(thread.ThreadStart(false, INFINITE)) << "a start after the stop";
  EXPECT_EQ(thread.Hooks, (std::vector<std::string>{"BeforeThreadStart false", "AfterThreadStart",
                                                    "BeforeThreadStop false", "AfterThreadStop"}))
      << "the stop hook gets false even from a waiting stop";
}

TEST(CustomThreadTest, StopOfANeverStartedThreadOnlyAsksTheHook) {
  TProbeThread thread;
  thread.BeforeStopResult = false;
  EXPECT_FALSE(thread.ThreadStop(true, INFINITE));
  thread.BeforeStopResult = true;
  EXPECT_TRUE(thread.ThreadStop(true, INFINITE));
  EXPECT_FALSE(thread.Terminated()) << "no signal was given";
  EXPECT_EQ(thread.Hooks, (std::vector<std::string>{"BeforeThreadStop false", "BeforeThreadStop false"}));
}

TEST(CustomThreadTest, StopWithoutWaitingReturnsAtOnceAndCanBeRepeated) {
  TProbeThread thread;
  thread.IgnoreShouldFinish = true;
  ASSERT_TRUE(thread.ThreadStart(false, INFINITE));
  thread.BeforeStopResult = false;
  EXPECT_FALSE(thread.ThreadStop(false, INFINITE)) << "returns the hook's result";
  thread.BeforeStopResult = true;
  EXPECT_TRUE(thread.ShouldFinish()->IsSet());
  EXPECT_TRUE(thread.Terminated());
  EXPECT_TRUE(thread.ThreadStop(false, INFINITE));
  ASSERT_NE(thread.ShouldFinish(), nullptr) << "the events stay while the thread may run";
  thread.Release.Set();
  EXPECT_TRUE(thread.ThreadStop(true, 5000));
  EXPECT_EQ(thread.ShouldFinish(), nullptr) << "released after the waiting stop";
}

TEST(CustomThreadTest, TimedStopOfABodyThatDoesNotEndReturnsFalseAndReleasesNothing) {
  TProbeThread thread;
  thread.IgnoreShouldFinish = true;
  ASSERT_TRUE(thread.ThreadStart(false, INFINITE));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(thread.ThreadStop(true, 100));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(thread.Hooks.back(), "AfterThreadStop");
  // The body still runs and may touch its events: they must still be there.
  ASSERT_NE(thread.ShouldFinish(), nullptr);
  EXPECT_TRUE(thread.ShouldFinish()->IsSet());
  thread.Release.Set();
  EXPECT_TRUE(thread.ThreadStop(true, INFINITE)) << "a later stop finds the thread again";
}

// A body that ends before its starter goes on must still have signalled
// FStartedEvent in time, and the starter must see what it did.
TEST(CustomThreadTest, StartCanWaitForTheBodyToSignalStarted) {
  TProbeThread thread;
  thread.SignalStarted = true;
  thread.IgnoreShouldFinish = true;
  ASSERT_TRUE(thread.ThreadStart(true, INFINITE));
  EXPECT_EQ(thread.Hooks.front(), "BeforeThreadStart true");
  EXPECT_TRUE(thread.BodyRan) << "FStartedEvent was awaited";
  thread.Release.Set();
}

// ThreadStop posts the quit message to the thread, which ends a body that runs
// a message loop instead of waiting on its events.
class TMessageLoopThread : public TCustomThread {
 public:
  ~TMessageLoopThread() override { (void)ThreadStop(true, INFINITE); }
  std::atomic<int> Handled{0};
  std::atomic<uint32_t> LastMessage{0};

 protected:
  bool Execute() override {
    TMessageQueue queue;
    FStartedEvent->Set();
    TMessage message;
    while (queue.GetMessage(message)) ++Handled;
    LastMessage = message.Message;
    return true;
  }
};

TEST(CustomThreadTest, StopEndsAMessageLoopWithTheQuitMessage) {
  TMessageLoopThread thread;
  ASSERT_TRUE(thread.ThreadStart(true, INFINITE));
  ASSERT_TRUE(PostThreadMessage(thread.ThreadId(), WM_RECONFIGURE));
  EXPECT_TRUE(thread.ThreadStop(true, 5000));
  EXPECT_EQ(thread.Handled.load(), 1);
  EXPECT_EQ(thread.LastMessage.load(), WM_QUIT);
}

// A body may signal FFinishedEvent itself and still run a little after it; a
// waiting stop must not release the events under it (ASan would see it).
class TEarlyFinishThread : public TCustomThread {
 public:
  ~TEarlyFinishThread() override { (void)ThreadStop(true, INFINITE); }
  std::atomic<int> AfterFinish{0};

 protected:
  bool Execute() override {
    (void)FShouldFinishEvent->WaitFor(INFINITE);
    FFinishedEvent->Set();
    for (int i = 0; i < 1000; ++i)
      if (FShouldFinishEvent->IsSet() && FStartedEvent->WaitFor(0) == false) ++AfterFinish;
    return true;
  }
};

TEST(CustomThreadTest, BodyThatSignalsFinishedItselfIsJoinedBeforeItsEventsGo) {
  for (int round = 0; round < 20; ++round) {
    TEarlyFinishThread thread;
    ASSERT_TRUE(thread.ThreadStart(false, INFINITE));
    ASSERT_TRUE(thread.ThreadStop(true, INFINITE));
    EXPECT_EQ(thread.AfterFinish.load(), 1000);
  }
}

TEST(CustomThreadTest, DestroyingARunningWorkerStopsItFirst) {
  std::atomic<bool> ended{false};
  {
    TProbeThread thread;
    thread.Ended = &ended;
    ASSERT_TRUE(thread.ThreadStart(false, INFINITE));
  }
  EXPECT_TRUE(ended.load());
}

}  // namespace
}  // namespace zor


namespace zor {
namespace {

TEST(ParkedThreadsTest, AParkedWorkerIsFreedOnlyOnceItsThreadHasEnded) {
  std::atomic<bool> ended{false};
  auto worker = std::make_unique<TProbeThread>();
  worker->IgnoreShouldFinish = true;
  worker->Ended = &ended;
  TProbeThread& borrowed = *worker;
  ASSERT_TRUE(worker->ThreadStart(false, INFINITE));
  ASSERT_FALSE(worker->ThreadStop(true, 10));

  TParkedThreads parked;
  parked.Park(std::move(worker));
  EXPECT_EQ(parked.Reap(), 0u) << "still running";
  EXPECT_EQ(parked.Count(), 1u);
  borrowed.Release.Set();
  ASSERT_TRUE(test::WaitUntil([&] { return ended.load(); }));
  EXPECT_TRUE(test::WaitUntil([&] { return parked.Reap() == 1; }));
  EXPECT_EQ(parked.Count(), 0u);
}

TEST(ParkedThreadsTest, TheDestructorWaitsForWhatIsStillParked) {
  std::atomic<bool> ended{false};
  {
    TParkedThreads parked;
    auto worker = std::make_unique<TProbeThread>();
    worker->Ended = &ended;
    ASSERT_TRUE(worker->ThreadStart(false, INFINITE));
    (void)worker->ThreadStop(false, INFINITE);
    parked.Park(std::move(worker));
  }
  EXPECT_TRUE(ended.load());
}

}  // namespace
}  // namespace zor
