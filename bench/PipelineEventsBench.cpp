// What a processing thread does per event over the real sample logs: parse
// the rendered XML once, then build a BSD line, an IETF line and a beat JSON
// document from it. Items are events; run it single-threaded, so items per
// second is events per second per core. The counter ParseShare is the part
// of the time spent in the XML parse (TEventLog::Reset).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "beats/WinLogBeat.h"
#include "collection/EventLog.h"
#include "config/CollectionInterface.h"
#include "evtx/EvtxReader.h"
#include "syslog/BaseSysLogMessage.h"

namespace {

// Every record the reader renders from the samples, up to a bound that keeps
// the start-up short.
const std::vector<std::string>& SampleEvents() {
  static const std::vector<std::string> events = [] {
    std::vector<std::string> result;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(ZOR_SHARED_DIR) + "/evtx-samples")) {
      if (entry.path().extension() != ".evtx") continue;
      try {
        zor::TEvtxReader reader(entry.path().string());
        zor::TEvtxRecord record;
        while (result.size() < 40000 && reader.Next(record)) result.emplace_back(record.Xml);
      } catch (const std::exception&) {
        // A damaged sample gives what it gave before the damage.
      }
    }
    return result;
  }();
  return events;
}

void BM_SampleEventsParseAndBuildAll(benchmark::State& AState) {
  using Clock = std::chrono::steady_clock;
  zor::TCollectionInterface reader;
  reader.SetDeriveSeverity(true);
  zor::TEventLog record;
  Clock::duration parsing{};
  Clock::duration total{};
  int64_t bytes = 0;
  for (auto _ : AState) {
    for (const std::string& event : SampleEvents()) {
      const Clock::time_point start = Clock::now();
      try {
        record.Reset(event);
      } catch (const std::exception&) {
        continue;
      }
      const Clock::time_point parsed = Clock::now();
      benchmark::DoNotOptimize(record.GetSyslogMessage(reader, "BSD")->EncodedMessage());
      benchmark::DoNotOptimize(record.GetSyslogMessage(reader, "IETF")->EncodedMessage());
      benchmark::DoNotOptimize(record.GetWinLogBeat()->AsJSONString());
      parsing += parsed - start;
      total += Clock::now() - start;
      bytes += static_cast<int64_t>(event.size());
    }
  }
  AState.SetItemsProcessed(AState.iterations() * static_cast<int64_t>(SampleEvents().size()));
  AState.SetBytesProcessed(bytes);
  AState.counters["Events"] = static_cast<double>(SampleEvents().size());
  AState.counters["ParseShare"] =
      total.count() > 0 ? static_cast<double>(parsing.count()) / static_cast<double>(total.count()) : 0.0;
}
BENCHMARK(BM_SampleEventsParseAndBuildAll)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
