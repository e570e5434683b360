// Event query evaluation per record, as a filtered subscription runs it: the
// records of a real Security log, rendered once, against typical queries.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "evtx/EventQuery.h"
#include "evtx/EvtxReader.h"

namespace {

const std::vector<std::string>& Records() {
  static const std::vector<std::string> records = [] {
    std::vector<std::string> xml;
    zor::TEvtxReader reader(std::string(ZOR_SHARED_DIR) + "/evtx-samples/omer_security.evtx");
    zor::TEvtxRecord record;
    while (reader.Next(record)) xml.emplace_back(record.Xml);
    return xml;
  }();
  return records;
}

const char* const Queries[] = {
    "*",
    "*[System[(EventID=4624 or EventID=4625)]]",
    "*[System[band(Keywords,4503599627370496)] and EventData[Data[@Name='LogonType']='3']]",
    "<QueryList><Query Id='0' Path='Security'><Select>*[System[Level&lt;=4]]</Select>"
    "<Suppress>*[EventData[Data[@Name='TargetUserName']='SYSTEM']]</Suppress></Query></QueryList>",
};

void BM_QueryMatch(benchmark::State& AState) {
  const auto query = zor::TEventQuery::Parse(Queries[AState.range(0)]);
  const auto& records = Records();
  size_t bytes = 0;
  for (const std::string& xml : records) bytes += xml.size();
  size_t matched = 0;
  for (auto _ : AState)
    for (const std::string& xml : records) matched += query->MatchesXml(xml, "Security");
  benchmark::DoNotOptimize(matched);
  AState.SetItemsProcessed(static_cast<int64_t>(AState.iterations() * records.size()));
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations() * bytes));
}
BENCHMARK(BM_QueryMatch)->DenseRange(0, 3);

void BM_QueryCompile(benchmark::State& AState) {
  for (auto _ : AState) benchmark::DoNotOptimize(zor::TEventQuery::Parse(Queries[3]));
}
BENCHMARK(BM_QueryCompile);

}  // namespace
