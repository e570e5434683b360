// Event record hot path: rendered event XML -> TEventLog -> BSD line, IETF
// line and beat JSON, as a processing thread does it for every event and
// receiver. Inputs are the fixed real events of tests/data/events (a Security
// logon, a service install, a Sysmon process creation, a service state change
// with RenderingInfo).
//
//   BM_Parse            Reset only: the XML parse and the field conversions
//   BM_ParseSystem      ResetSystem: System alone, as for a syslog-only reader
//   BM_BSDLine          GetSyslogMessage + EncodedMessage on a parsed record
//   BM_IETFLine         the same for IETF
//   BM_BeatJSON         GetWinLogBeat + AsJSONString on a parsed record
//   BM_ParseAndBuildAll Reset + BSD line + IETF line + beat JSON per event;
//                       its counter ParseShare is the part of its time that
//                       BM_Parse's work takes (measured in the same run)
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "beats/WinLogBeat.h"
#include "collection/EventLog.h"
#include "config/CollectionInterface.h"
#include "syslog/BaseSysLogMessage.h"

namespace {

const std::vector<std::string>& Events() {
  static const std::vector<std::string> events = [] {
    std::vector<std::string> result;
    for (const char* name : {"security_4624.xml", "system_7045.xml", "sysmon_1.xml", "scm_7036_rendered.xml"}) {
      std::ifstream in(std::string(ZOR_TEST_DATA_DIR) + "/events/" + name, std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      result.push_back(text.str());
    }
    return result;
  }();
  return events;
}

int64_t TotalBytes() {
  int64_t bytes = 0;
  for (const std::string& event : Events()) bytes += static_cast<int64_t>(event.size());
  return bytes;
}

const zor::TCollectionInterface& Reader() {
  static const zor::TCollectionInterface reader = [] {
    zor::TCollectionInterface result;
    result.SetDeriveSeverity(true);
    return result;
  }();
  return reader;
}

void ParseAll(zor::TEventLog& ARecord, bool AOnlySystem = false) {
  for (const std::string& event : Events()) {
    if (AOnlySystem)
      ARecord.ResetSystem(std::string(event));
    else
      ARecord.Reset(event);
    benchmark::DoNotOptimize(ARecord.System().EventID().ID);
  }
}

void BuildAll(const zor::TEventLog& ARecord) {
  benchmark::DoNotOptimize(ARecord.GetSyslogMessage(Reader(), "BSD")->EncodedMessage());
  benchmark::DoNotOptimize(ARecord.GetSyslogMessage(Reader(), "IETF")->EncodedMessage());
  benchmark::DoNotOptimize(ARecord.GetWinLogBeat()->AsJSONString());
}

void SetCounts(benchmark::State& AState) {
  AState.SetItemsProcessed(AState.iterations() * static_cast<int64_t>(Events().size()));
  AState.SetBytesProcessed(AState.iterations() * TotalBytes());
}

void BM_Parse(benchmark::State& AState) {
  zor::TEventLog record;
  for (auto _ : AState) ParseAll(record);
  SetCounts(AState);
}
BENCHMARK(BM_Parse);

void BM_ParseSystem(benchmark::State& AState) {
  zor::TEventLog record;
  for (auto _ : AState) ParseAll(record, true);
  SetCounts(AState);
}
BENCHMARK(BM_ParseSystem);

// Runs ABuild on every event, each parsed beforehand (outside the timing).
void RunOnParsedEvents(benchmark::State& AState, const std::function<void(const zor::TEventLog&)>& ABuild) {
  std::vector<std::unique_ptr<zor::TEventLog>> records;
  for (const std::string& event : Events()) records.push_back(std::make_unique<zor::TEventLog>(event));
  for (auto _ : AState) {
    for (const auto& record : records) ABuild(*record);
  }
  SetCounts(AState);
}

void BM_BSDLine(benchmark::State& AState) {
  RunOnParsedEvents(AState, [](const zor::TEventLog& ARecord) {
    benchmark::DoNotOptimize(ARecord.GetSyslogMessage(Reader(), "BSD")->EncodedMessage());
  });
}
BENCHMARK(BM_BSDLine);

void BM_IETFLine(benchmark::State& AState) {
  RunOnParsedEvents(AState, [](const zor::TEventLog& ARecord) {
    benchmark::DoNotOptimize(ARecord.GetSyslogMessage(Reader(), "IETF")->EncodedMessage());
  });
}
BENCHMARK(BM_IETFLine);

void BM_BeatJSON(benchmark::State& AState) {
  RunOnParsedEvents(AState, [](const zor::TEventLog& ARecord) {
    benchmark::DoNotOptimize(ARecord.GetWinLogBeat()->AsJSONString());
  });
}
BENCHMARK(BM_BeatJSON);

void BM_ParseAndBuildAll(benchmark::State& AState) {
  using Clock = std::chrono::steady_clock;
  zor::TEventLog record;
  Clock::duration parsing{};
  Clock::duration total{};
  for (auto _ : AState) {
    for (const std::string& event : Events()) {
      const Clock::time_point start = Clock::now();
      record.Reset(event);
      const Clock::time_point parsed = Clock::now();
      BuildAll(record);
      parsing += parsed - start;
      total += Clock::now() - start;
    }
  }
  SetCounts(AState);
  AState.counters["ParseShare"] =
      total.count() > 0 ? static_cast<double>(parsing.count()) / static_cast<double>(total.count()) : 0.0;
}
BENCHMARK(BM_ParseAndBuildAll);

}  // namespace
