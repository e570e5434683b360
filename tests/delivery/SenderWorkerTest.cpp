// The delivery core on a scripted transport: the outcome of every item, the
// order of retries, the queue limit and the back-off.
#include "delivery/SenderWorker.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "delivery/RetryBackOff.h"
#include "support/FakeClock.h"
#include "support/WaitUntil.h"

namespace zor {
namespace {

using std::chrono::milliseconds;

struct TItem {
  std::string Text;
};

// Records every outcome as "text:outcome".
class TRecordingListener : public IDeliveryListener<TItem> {
 public:
  void ItemSettled(const std::string& ADestination, const TItem& AItem, TDeliveryOutcome AOutcome) override {
    static const char* const Names[] = {"sent", "retry", "dropped"};
    std::lock_guard lock(FMutex);
    FDestination = ADestination;
    FOutcomes.push_back(AItem.Text + ":" + Names[static_cast<int>(AOutcome)]);
  }
  std::vector<std::string> Outcomes() {
    std::lock_guard lock(FMutex);
    return FOutcomes;
  }
  std::string Destination() {
    std::lock_guard lock(FMutex);
    return FDestination;
  }

 private:
  std::mutex FMutex;
  std::vector<std::string> FOutcomes;
  std::string FDestination;
};

// A transport that settles each item by the first letter of its text: "s"
// sent, "d" dropped, "r" not taken (the attempt fails from there on). It
// takes "r" items the second time it sees them.
class TScriptedSender : public TSenderWorker<TItem> {
 public:
  TScriptedSender(TDeliveryTuning ATuning)
      : TSenderWorker("host:1", "items", TFlushThresholds{}, std::move(ATuning)) {}
  ~TScriptedSender() override { (void)ThreadStop(true, INFINITE); }

  void Add(std::initializer_list<const char*> ATexts) {
    TItemList batch;
    for (const char* text : ATexts) batch.push_back(std::make_unique<TItem>(TItem{text}));
    AddBatch(std::move(batch));
  }

 protected:
  void Flush() override {
    if (BackingOff()) return;
    std::deque<TItemPtr> batch = TakeQueuedItems();
    TDeliveryAttempt<TItem> attempt;
    std::string failure;
    while (!batch.empty()) {
      TItem& item = *batch.front();
      if (item.Text[0] == 'r' && FSeen.insert(item.Text).second) {
        failure = "scripted failure";
        break;
      }
      (item.Text[0] == 'd' ? attempt.Dropped : attempt.Sent).push_back(std::move(batch.front()));
      batch.pop_front();
    }
    Settle(attempt, std::move(batch), failure);
  }

 private:
  std::set<std::string> FSeen;
};

class SenderWorkerTest : public testing::Test {
 protected:
  std::unique_ptr<TScriptedSender> Start(size_t AMaxQueued = 100000,
                                         std::shared_ptr<TDestinationCounters> ACounters = nullptr) {
    TDeliveryTuning tuning;
    tuning.Clock = FClock.Function();
    tuning.MaxQueuedItems = AMaxQueued;
    tuning.Counters = std::move(ACounters);
    auto sender = std::make_unique<TScriptedSender>(std::move(tuning));
    sender->SetListener(&FListener);
    EXPECT_TRUE(sender->ThreadStart(false, INFINITE));
    return sender;
  }

  test::TFakeClock FClock;
  TRecordingListener FListener;
};

// Every item is settled once per attempt, in order; a failed attempt keeps its
// undecided items ahead of newer ones until the back-off ends.
TEST_F(SenderWorkerTest, SettlesEveryItemAndRetriesInOrderAfterTheBackOff) {
  auto sender = Start();
  sender->Add({"s1", "d2", "r3", "s4"});
  ASSERT_TRUE(test::WaitUntil([&] { return sender->Counts().FailedAttempts == 1; }));
  EXPECT_EQ(FListener.Outcomes(), (std::vector<std::string>{"s1:sent", "d2:dropped", "r3:retry", "s4:retry"}));
  EXPECT_EQ(FListener.Destination(), "host:1");
  EXPECT_EQ(sender->QueuedCount(), 2u);

  sender->Add({"s5"});  // during the back-off: queued behind the retries
  ASSERT_TRUE(test::WaitUntil([&] { return sender->QueuedCount() == 3; }));
  EXPECT_EQ(sender->Counts().Sent, 1u);

  FClock.Advance(milliseconds(1000));
  sender->Add({});
  ASSERT_TRUE(test::WaitUntil([&] { return sender->Counts().Sent == 4; }));
  EXPECT_EQ(FListener.Outcomes(), (std::vector<std::string>{"s1:sent", "d2:dropped", "r3:retry", "s4:retry",
                                                            "r3:sent", "s4:sent", "s5:sent"}));
  const TDeliveryCounts counts = sender->Counts();
  EXPECT_EQ(counts.Dropped, 1u);
  EXPECT_EQ(counts.Retried, 2u);
  EXPECT_EQ(counts.FailedAttempts, 1u);
}

// Overflow pushes the oldest out (told to the listener at once); what is still
// queued when the sender goes is dropped, unless the owner took it back.
TEST_F(SenderWorkerTest, BoundedQueueDropsTheOldestAndTheRestAtTheEnd) {
  auto sender = Start(3);
  sender->Add({"r1", "s2"});
  ASSERT_TRUE(test::WaitUntil([&] { return sender->Counts().FailedAttempts == 1; }));
  sender->Add({"s3", "s4"});
  EXPECT_EQ(sender->Counts().Dropped, 1u);
  EXPECT_EQ(sender->QueuedCount(), 3u);
  EXPECT_EQ(FListener.Outcomes().back(), "r1:dropped");

  ASSERT_TRUE(sender->ThreadStop(true, INFINITE));
  auto taken = sender->TakeQueued();
  ASSERT_EQ(taken.size(), 3u);
  EXPECT_EQ(taken[0]->Text, "s2");
  sender->Add({"s5"});
  sender.reset();
  EXPECT_EQ(FListener.Outcomes().back(), "s5:dropped");
}

// Senders count in the counters they are given, which outlive them: the
// sender of the next start-up goes on from there. The connection gauge
// follows the last attempt that reached the receiver or failed.
TEST_F(SenderWorkerTest, CountsInSharedCountersWithTheStateOfTheLastAttempt) {
  auto counters = std::make_shared<TDestinationCounters>();
  auto sender = Start(100000, counters);
  sender->Add({"s1", "r2"});
  ASSERT_TRUE(test::WaitUntil([&] { return counters->FailedAttempts.load() == 1; }));
  EXPECT_EQ(counters->Connected.load(), 0);
  EXPECT_EQ(counters->LastError().Text, "scripted failure");
  EXPECT_EQ(counters->Sent.load(), 1u);

  FClock.Advance(milliseconds(1000));
  sender->Add({});
  ASSERT_TRUE(test::WaitUntil([&] { return counters->Sent.load() == 2; }));
  ASSERT_TRUE(test::WaitUntil([&] { return counters->Connected.load() == 1; }));
  sender.reset();

  auto next = Start(100000, counters);
  EXPECT_EQ(next->CountersObject(), counters);
  next->Add({"s3", "d4"});
  ASSERT_TRUE(test::WaitUntil([&] { return counters->Dropped.load() == 1; }));
  EXPECT_EQ(next->Counts().Sent, 3u);
  EXPECT_EQ(counters->Retried.load(), 1u);
}

TEST(RetryBackOffTest, DoublesFromOneSecondUpToOneMinuteAndResets) {
  TRetryBackOff backOff;
  const uint32_t expected[] = {1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000};
  for (uint32_t wait : expected) EXPECT_EQ(backOff.NextBackOffMs(), wait);
  backOff.Reset();
  EXPECT_EQ(backOff.NextBackOffMs(), 1000u);
}

TEST(RetryBackOffTest, CapBelowInitialIsRaisedToIt) {
  TRetryBackOff backOff(500, 100);
  EXPECT_EQ(backOff.NextBackOffMs(), 500u);
  EXPECT_EQ(backOff.NextBackOffMs(), 500u);
}

}  // namespace
}  // namespace zor
