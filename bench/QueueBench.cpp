// Hand-off through one TSignalledQueue: two producer threads, one consumer
// that follows the worker pattern (wait, reset, DequeueAll). The argument is
// the producers' batch size: 1 uses Enqueue, more uses EnqueueBatch.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "core/SignalledQueue.h"
#include "platform/Event.h"

namespace {

using namespace zor;

struct TItem {
  uint32_t Producer;
  uint32_t Sequence;
};

constexpr uint32_t Producers = 2;
constexpr uint32_t ItemsPerProducer = 200'000;

void Produce(TSignalledQueue<TItem>& AQueue, uint32_t AProducer, size_t ABatchSize) {
  TSignalledQueue<TItem>::TItemList batch;
  batch.reserve(ABatchSize);
  for (uint32_t s = 0; s < ItemsPerProducer; ++s) {
    auto item = std::make_unique<TItem>(TItem{AProducer, s});
    if (ABatchSize == 1) {
      AQueue.Enqueue(std::move(item));
      continue;
    }
    batch.push_back(std::move(item));
    if (batch.size() == ABatchSize || s + 1 == ItemsPerProducer) AQueue.EnqueueBatch(std::move(batch));
  }
}

void BM_TwoProducersOneConsumer(benchmark::State& AState) {
  const size_t batchSize = static_cast<size_t>(AState.range(0));
  TSignalledQueue<TItem> queue;
  uint64_t total = 0;
  for (auto _ : AState) {
    std::vector<std::thread> producers;
    for (uint32_t p = 0; p < Producers; ++p) producers.emplace_back(Produce, std::ref(queue), p, batchSize);
    uint64_t received = 0;
    uint64_t checksum = 0;
    while (received < uint64_t{Producers} * ItemsPerProducer) {
      if (WaitForAny({queue.QueueEvent()}, INFINITE) != 0) continue;
      queue.QueueEvent()->Reset();
      for (const auto& item : queue.DequeueAll()) {
        checksum += item->Sequence;
        ++received;
      }
    }
    benchmark::DoNotOptimize(checksum);
    for (std::thread& producer : producers) producer.join();
    total += received;
  }
  AState.SetItemsProcessed(static_cast<int64_t>(total));
}

BENCHMARK(BM_TwoProducersOneConsumer)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
