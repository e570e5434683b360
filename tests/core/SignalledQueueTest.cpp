#include "core/SignalledQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/CustomThread.h"

namespace zor {
namespace {

// An item that counts how many of its kind are alive, so tests see frees.
struct TCounted {
  static inline std::atomic<int> Alive{0};
  explicit TCounted(int AValue) : Value(AValue) { ++Alive; }
  ~TCounted() { --Alive; }
  int Value;
};

using TQueue = TSignalledQueue<TCounted>;

std::vector<int> Values(const TQueue::TItemList& AItems) {
  std::vector<int> values;
  for (const auto& item : AItems) values.push_back(item->Value);
  return values;
}

TQueue::TItemList MakeList(std::initializer_list<int> AValues) {
  TQueue::TItemList list;
  for (int value : AValues) list.push_back(std::make_unique<TCounted>(value));
  return list;
}

TEST(SignalledQueueTest, DequeueAllReturnsSingleAndBatchItemsInArrivalOrder) {
  TQueue queue;
  EXPECT_FALSE(queue.QueueEvent()->IsSet()) << "created not signalled";
  for (int value : {1, 2, 3}) queue.Enqueue(std::make_unique<TCounted>(value));
  TQueue::TItemList batch = MakeList({4, 5});
  queue.EnqueueBatch(std::move(batch));
  EXPECT_TRUE(batch.empty());  // NOLINT(bugprone-use-after-move): the list stays the caller's, emptied
  EXPECT_TRUE(queue.QueueEvent()->IsSet());
  EXPECT_EQ(queue.Count(), 5u);

  EXPECT_EQ(Values(queue.DequeueAll()), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_FALSE(queue.QueueEvent()->IsSet());
  EXPECT_EQ(queue.Count(), 0u);
  EXPECT_EQ(TCounted::Alive.load(), 0) << "the taker owned and freed the items";
}

TEST(SignalledQueueTest, EmptyBatchSignalsAndTheConsumerFindsNothing) {
  TQueue queue;
  queue.EnqueueBatch({});
  EXPECT_TRUE(queue.QueueEvent()->IsSet());
  EXPECT_TRUE(queue.DequeueAll().empty());
  EXPECT_FALSE(queue.QueueEvent()->IsSet()) << "DequeueAll resets even when nothing was queued";
}

TEST(SignalledQueueTest, GetAllSwapsTheItemsOutAndLeavesTheEventAlone) {
  TQueue queue;
  queue.EnqueueBatch({});
  EXPECT_TRUE(queue.GetAll().empty());
  EXPECT_TRUE(queue.QueueEvent()->IsSet()) << "a signalled event stays signalled";

  queue.QueueEvent()->Reset();
  queue.EnqueueBatch(MakeList({7, 8}));
  TQueue::TItemQueue taken = queue.GetAll();
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0]->Value, 7);
  EXPECT_EQ(taken[1]->Value, 8);
  EXPECT_TRUE(queue.QueueEvent()->IsSet());
  EXPECT_EQ(queue.Count(), 0u);
}

TEST(SignalledQueueTest, DequeueTakesTheHeadAndResetsOnlyWhenEmptied) {
  TQueue queue;
  EXPECT_THROW((void)queue.Dequeue(), EQueueEmpty);
  EXPECT_THROW((void)queue.Peek(), EQueueEmpty);
  EXPECT_THROW((void)queue.Extract(), EQueueEmpty);
  queue.EnqueueBatch(MakeList({1, 2}));
  EXPECT_EQ(queue.Peek()->Value, 1);
  EXPECT_EQ(queue.Count(), 2u) << "Peek removes nothing";
  EXPECT_EQ(queue.Dequeue()->Value, 1);
  EXPECT_TRUE(queue.QueueEvent()->IsSet());
  EXPECT_EQ(queue.Extract()->Value, 2);
  EXPECT_FALSE(queue.QueueEvent()->IsSet());
  EXPECT_THROW((void)queue.Dequeue(), EQueueEmpty);
}

TEST(SignalledQueueTest, ClearAndDestructionFreeQueuedItems) {
  {
    TQueue queue;
    queue.EnqueueBatch(MakeList({1, 2, 3}));
    queue.Clear();
    EXPECT_EQ(TCounted::Alive.load(), 0);
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_TRUE(queue.QueueEvent()->IsSet()) << "Clear leaves the event";
    queue.EnqueueBatch(MakeList({4, 5}));
  }
  EXPECT_EQ(TCounted::Alive.load(), 0);
}

TEST(SignalledQueueTest, CapacityIsThePeakDepthUntilTrimmed) {
  TQueue queue;
  EXPECT_EQ(queue.Capacity(), 0u);
  queue.EnqueueBatch(MakeList({1, 2, 3}));
  (void)queue.Dequeue();
  queue.Enqueue(std::make_unique<TCounted>(4));
  EXPECT_EQ(queue.Capacity(), 3u);
  (void)queue.Dequeue();
  queue.TrimExcess();
  EXPECT_EQ(queue.Capacity(), 2u);
  EXPECT_EQ(queue.Count(), 2u);
}

// --- Many producers and consumers through one queue ---------------------------

struct TTagged {
  uint32_t Producer;
  uint32_t Sequence;
};

// A consumer written as every worker of the service is: wait for should-finish
// or the queue's event, reset, drain in one call, process outside the lock.
class TConsumer : public TCustomThread {
 public:
  explicit TConsumer(TSignalledQueue<TTagged>& AQueue) : FQueue(AQueue) {}
  ~TConsumer() override { (void)ThreadStop(true, INFINITE); }

  std::vector<TTagged> Received;  // read after the thread stopped

 protected:
  bool Execute() override {
    for (;;) {
      const uint32_t result = WaitForAny({FShouldFinishEvent.get(), FQueue.QueueEvent()}, INFINITE);
      if (result == 0) break;
      if (result == 1) {
        FQueue.QueueEvent()->Reset();
        Take(FQueue.DequeueAll());
      }
    }
    // Told to finish after every producer ended: what is left is ours to take.
    Take(FQueue.DequeueAll());
    return true;
  }

 private:
  void Take(TSignalledQueue<TTagged>::TItemList&& AItems) {
    for (const auto& item : AItems) Received.push_back(*item);
  }
  TSignalledQueue<TTagged>& FQueue;
};

struct TStressCase {
  const char* Name;
  uint32_t Producers;
  uint32_t Consumers;
  uint32_t BatchSize;  // 1: Enqueue; more: EnqueueBatch
};

class SignalledQueueStressTest : public testing::TestWithParam<TStressCase> {};

TEST_P(SignalledQueueStressTest, NoItemIsLostDuplicatedOrReorderedWithinItsProducer) {
  constexpr uint32_t Total = 1'000'000;
  const TStressCase& test = GetParam();
  const uint32_t perProducer = Total / test.Producers;

  TSignalledQueue<TTagged> queue;
  std::vector<std::unique_ptr<TConsumer>> consumers;
  for (uint32_t i = 0; i < test.Consumers; ++i) {
    consumers.push_back(std::make_unique<TConsumer>(queue));
    ASSERT_TRUE(consumers.back()->ThreadStart(false, INFINITE));
  }
  std::vector<std::thread> producers;
  for (uint32_t p = 0; p < test.Producers; ++p)
    producers.emplace_back([&queue, p, perProducer, batchSize = test.BatchSize] {
      TSignalledQueue<TTagged>::TItemList batch;
      for (uint32_t s = 0; s < perProducer; ++s) {
        auto item = std::make_unique<TTagged>(TTagged{p, s});
        if (batchSize == 1) {
          queue.Enqueue(std::move(item));
          continue;
        }
        batch.push_back(std::move(item));
        if (batch.size() == batchSize || s + 1 == perProducer) queue.EnqueueBatch(std::move(batch));
      }
    });
  for (std::thread& producer : producers) producer.join();
  for (auto& consumer : consumers) ASSERT_TRUE(consumer->ThreadStop(true, INFINITE));

  std::vector<std::vector<bool>> seen(test.Producers, std::vector<bool>(perProducer, false));
  uint64_t received = 0;
  for (size_t c = 0; c < consumers.size(); ++c) {
    std::vector<int64_t> last(test.Producers, -1);
    for (const TTagged& item : consumers[c]->Received) {
      ASSERT_LT(item.Producer, test.Producers);
      ASSERT_LT(item.Sequence, perProducer);
      ASSERT_FALSE(seen[item.Producer][item.Sequence])
          << "duplicate " << item.Producer << "/" << item.Sequence;
      seen[item.Producer][item.Sequence] = true;
      ASSERT_GT(static_cast<int64_t>(item.Sequence), last[item.Producer])
          << "consumer " << c << " got producer " << item.Producer << " out of order";
      last[item.Producer] = item.Sequence;
      ++received;
    }
  }
  EXPECT_EQ(received, uint64_t{perProducer} * test.Producers) << "items lost";
  EXPECT_EQ(queue.Count(), 0u);
}

const TStressCase kStressCases[] = {
    {"OneToOne", 1, 1, 1},
    {"FourToOne", 4, 1, 1},
    {"FourToThree", 4, 3, 1},
    {"ThreeToTwoBatched", 3, 2, 100},
};

INSTANTIATE_TEST_SUITE_P(Shapes, SignalledQueueStressTest, testing::ValuesIn(kStressCases),
                         [](const testing::TestParamInfo<TStressCase>& AInfo) { return AInfo.param.Name; });

}  // namespace
}  // namespace zor
