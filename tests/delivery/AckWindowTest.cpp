// The acknowledgement window: the position moves only past batches whose
// every item was taken, however the acknowledgements interleave.
#include "delivery/AckWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "delivery/AckBatch.h"
#include "delivery/DeliveryReceipt.h"
#include "platform/Event.h"
#include "support/SanitizedBuild.h"

namespace zor {
namespace {

// Batches opened with positions "p0", "p1", ...; completion order per case.
TEST(AckWindowTest, PositionIsTheLastBatchBeforeWhichEveryBatchIsComplete) {
  struct TCase {
    const char* Name;
    std::vector<int> CompletionOrder;
    std::vector<std::string> PositionAfterEach;
  };
  const std::vector<TCase> cases = {
      {"in order", {0, 1, 2}, {"p0", "p1", "p2"}},
      {"reversed", {2, 1, 0}, {"", "", "p2"}},
      {"middle first", {1, 0, 2}, {"", "p1", "p2"}},
      {"gap filled last", {0, 2, 1}, {"p0", "p0", "p2"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto window = std::make_shared<TAckWindow>();
    std::vector<std::shared_ptr<TAckBatch>> batches;
    for (int i = 0; i < 3; ++i) batches.push_back(window->Open("p" + std::to_string(i)));
    EXPECT_EQ(window->ReadPosition(), "p2");
    for (size_t k = 0; k < c.CompletionOrder.size(); ++k) {
      batches[static_cast<size_t>(c.CompletionOrder[k])]->Acknowledge();  // the hold: no items
      EXPECT_EQ(window->Acknowledged(), c.PositionAfterEach[k]) << "after step " << k;
    }
    EXPECT_EQ(window->PendingBatches(), 0u);
  }
}

TEST(AckWindowTest, ABatchCompletesOnlyWhenItsHoldAndEveryItemAreAcknowledged) {
  auto window = std::make_shared<TAckWindow>();
  TDeliveryReceipt first;
  TDeliveryReceipt second;
  {
    std::shared_ptr<TAckBatch> batch = window->Open("p0");
    batch->Expect(2);
    first.Attach(batch);
    second.Attach(batch);
    batch->Acknowledge();  // the builder's hold
  }
  first.Taken();
  first.Taken();  // a second call does nothing
  EXPECT_EQ(window->TakeAcknowledged(), std::nullopt);
  second.Taken();
  EXPECT_EQ(window->TakeAcknowledged(), std::optional<std::string>("p0"));
  EXPECT_EQ(window->TakeAcknowledged(), std::nullopt) << "told once per change";
}

TEST(AckWindowTest, ABatchWithoutPositionHoldsBackTheLaterOnesAndMovesNothing) {
  auto window = std::make_shared<TAckWindow>();
  auto a = window->Open("p0");
  auto b = window->Open("");
  auto c = window->Open("p2");
  EXPECT_EQ(window->ReadPosition(), "p2");
  a->Acknowledge();
  c->Acknowledge();
  EXPECT_EQ(window->Acknowledged(), "p0");
  b->Acknowledge();
  EXPECT_EQ(window->Acknowledged(), "p2");
}

// The save signal counts the records the acknowledged position passed: a
// complete batch behind an open one counts only once the position passes it.
TEST(AckWindowTest, SaveSignalComesOnceThePositionPassedEnoughRecords) {
  auto window = std::make_shared<TAckWindow>();
  TEvent signal;
  window->SetSaveSignal(&signal, 10);
  auto a = window->Open("p0", 0, 4);
  auto b = window->Open("p1", 1, 4);
  auto c = window->Open("p2", 2, 4);
  b->Acknowledge();
  c->Acknowledge();
  EXPECT_FALSE(signal.IsSet()) << "nothing passed while the first batch is open";
  a->Acknowledge();
  EXPECT_TRUE(signal.IsSet());
  EXPECT_TRUE(window->SaveDue());

  signal.Reset();
  EXPECT_EQ(window->TakeAcknowledged(), std::optional<std::string>("p2"));
  EXPECT_FALSE(window->SaveDue()) << "taking the position starts the count again";
  window->Open("p3", 3, 9)->Acknowledge();
  EXPECT_FALSE(signal.IsSet());
  window->Open("p4", 4, 1)->Acknowledge();
  EXPECT_TRUE(signal.IsSet()) << "9 + 1 records reach the threshold";
}

// The records the position passed stay unsaved while the position taken
// is written, and lag only in a window that someone saves; the saved signal
// tells a waiting reader of every save's end.
TEST(AckWindowTest, RecordsStayUnsavedUntilTheSaveOfTheirPositionEnded) {
  auto window = std::make_shared<TAckWindow>();
  window->Open("p0", 0, 10)->Acknowledge();
  window->Open("p1", 1, 10)->Acknowledge();
  EXPECT_FALSE(window->SaveLags(1)) << "nobody saves this window";
  TEvent signal;
  window->SetSaveSignal(&signal, 10);
  EXPECT_TRUE(window->SaveLags(2));
  EXPECT_FALSE(window->SaveLags(3));

  EXPECT_EQ(window->TakeAcknowledged(), std::optional<std::string>("p1"));
  auto open = window->Open("p2", 2, 5);
  window->Open("p3", 3, 5)->Acknowledge();
  EXPECT_TRUE(window->SaveLags(2)) << "20 being written; nothing passed behind an open batch";
  EXPECT_FALSE(window->SaveLags(3));
  open->Acknowledge();
  EXPECT_TRUE(window->SaveLags(3)) << "20 being written and 10 more";

  EXPECT_FALSE(window->SavedSignal().IsSet());
  window->SaveEnded();
  EXPECT_TRUE(window->SavedSignal().IsSet());
  EXPECT_TRUE(window->SaveLags(1));
  EXPECT_FALSE(window->SaveLags(2)) << "only the 10 passed since the position was taken";
}

// Processing threads build each batch's items for several receivers; each
// receiver takes its items in a random order, from its own thread. A watcher
// checks all along that every batch up to the acknowledged position had all
// of its items taken first.
TEST(AckWindowTest, ManyThreadsAndReceiversInRandomOrderNeverPassAnUntakenItem) {
#ifdef ZOR_SANITIZED_BUILD
  constexpr int Batches = 600;
#else
  constexpr int Batches = 4000;
#endif
  constexpr int ProcessingThreads = 4;
  constexpr int Receivers = 3;
  auto window = std::make_shared<TAckWindow>();

  std::vector<int> itemsPerReceiver(Batches);
  std::mt19937 sizes(7);
  for (int& n : itemsPerReceiver) n = static_cast<int>(sizes() % 5);  // 0 to 4: some batches are all excluded
  std::vector<std::atomic<int>> taken(Batches);

  // The reader opens batches in order; processing threads take them in turns.
  std::mutex inboundLock;
  std::deque<std::pair<int, std::shared_ptr<TAckBatch>>> inbound;
  for (int i = 0; i < Batches; ++i) inbound.emplace_back(i, window->Open(std::to_string(i)));

  struct TReceived {
    int Batch;
    TDeliveryReceipt Receipt;
  };
  struct TReceiver {
    std::mutex Lock;
    std::vector<std::unique_ptr<TReceived>> Items;
  };
  std::vector<TReceiver> receivers(Receivers);
  std::atomic<int> processingLeft{ProcessingThreads};

  std::vector<std::thread> threads;
  for (int t = 0; t < ProcessingThreads; ++t) {
    threads.emplace_back([&] {
      for (;;) {
        std::pair<int, std::shared_ptr<TAckBatch>> next;
        {
          std::lock_guard guard(inboundLock);
          if (inbound.empty()) break;
          next = std::move(inbound.front());
          inbound.pop_front();
        }
        const auto& [index, batch] = next;
        batch->Expect(static_cast<size_t>(itemsPerReceiver[static_cast<size_t>(index)]) * Receivers);
        for (TReceiver& receiver : receivers) {
          std::lock_guard guard(receiver.Lock);
          for (int k = 0; k < itemsPerReceiver[static_cast<size_t>(index)]; ++k) {
            auto item = std::make_unique<TReceived>();
            item->Batch = index;
            item->Receipt.Attach(batch);
            receiver.Items.push_back(std::move(item));
          }
        }
        batch->Acknowledge();
      }
      --processingLeft;
    });
  }
  for (int r = 0; r < Receivers; ++r) {
    threads.emplace_back([&, r] {
      std::mt19937 random(static_cast<unsigned>(r + 1));
      for (;;) {
        const bool last = processingLeft.load() == 0;
        std::vector<std::unique_ptr<TReceived>> items;
        {
          std::lock_guard guard(receivers[static_cast<size_t>(r)].Lock);
          items.swap(receivers[static_cast<size_t>(r)].Items);
        }
        std::shuffle(items.begin(), items.end(), random);
        for (auto& item : items) {
          ++taken[static_cast<size_t>(item->Batch)];
          item->Receipt.Taken();
        }
        if (last && items.empty()) break;
      }
    });
  }

  std::atomic<bool> done{false};
  int violations = 0;
  std::thread watcher([&] {
    int checkedUpTo = -1;
    for (;;) {
      const bool finishing = done.load();
      const std::string position = window->Acknowledged();
      const int upTo = position.empty() ? -1 : std::stoi(position);
      for (int i = checkedUpTo + 1; i <= upTo; ++i)
        if (taken[static_cast<size_t>(i)].load() != itemsPerReceiver[static_cast<size_t>(i)] * Receivers) ++violations;
      checkedUpTo = std::max(checkedUpTo, upTo);
      if (finishing) break;
      std::this_thread::yield();
    }
  });
  for (std::thread& thread : threads) thread.join();
  done = true;
  watcher.join();

  EXPECT_EQ(violations, 0);
  EXPECT_EQ(window->Acknowledged(), std::to_string(Batches - 1));
  EXPECT_EQ(window->PendingBatches(), 0u);
}

}  // namespace
}  // namespace zor
