// The two readers on the bulk path, each against the JSON library's own
// reading of the same text as the peer:
//  - the answer to a bulk request of 10,000 documents, read into one outcome
//    per document (what a beat sender does after every request; an answer
//    without errors takes the quick path), against the full reading that
//    answers with errors take, and against building the answer's tree;
//  - the strict reader of the test endpoint, over a body of 10,000 Security
//    logon documents (tests/data/beats/security-4624.json), against checking
//    every line with the library, so a benchmark of the sender is not
//    measuring the receiver.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "beats/BulkResponse.h"
#include "support/BulkBody.h"

namespace {

constexpr int Documents = 10000;

std::string Answer() {
  std::string text = "{\"took\":12,\"errors\":false,\"items\":[";
  for (int i = 0; i < Documents; ++i) {
    text += i ? "," : "";
    text += "{\"index\":{\"_index\":\"winlogbeat-2024-03-05\",\"_type\":\"_doc\",\"_id\":\"" + std::to_string(i) +
            "\",\"_version\":1,\"result\":\"created\",\"_shards\":{\"total\":2,\"successful\":1,\"failed\":0},"
            "\"_seq_no\":" + std::to_string(i) + ",\"_primary_term\":1,\"status\":201}}";
  }
  return text + "]}";
}

std::string Body() {
  std::ifstream file(ZOR_TEST_DATA_DIR "/beats/security-4624.json");
  std::string document((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  while (!document.empty() && (document.back() == '\n' || document.back() == '\r')) document.pop_back();
  document = nlohmann::json::parse(document).dump();
  std::string body;
  for (int i = 0; i < Documents; ++i)
    body += "{\"index\":{\"_index\":\"winlogbeat-2024-03-05\", \"_type\":\"winLogBeat\"}}\r\n" + document + "\r\n";
  return body;
}

void BM_BulkResponseRead(benchmark::State& AState) {
  const std::string text = Answer();
  for (auto _ : AState) benchmark::DoNotOptimize(zor::TBulkResponse::FromExchange(200, "", text, Documents));
  AState.SetItemsProcessed(AState.iterations() * Documents);
  AState.SetBytesProcessed(AState.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_BulkResponseRead)->Unit(benchmark::kMillisecond);

void BM_BulkResponseFullRead(benchmark::State& AState) {
  const std::string text = Answer();
  for (auto _ : AState) benchmark::DoNotOptimize(zor::TBulkResponse::ReadItems(text));
  AState.SetItemsProcessed(AState.iterations() * Documents);
  AState.SetBytesProcessed(AState.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_BulkResponseFullRead)->Unit(benchmark::kMillisecond);

void BM_BulkResponseTreePeer(benchmark::State& AState) {
  const std::string text = Answer();
  for (auto _ : AState) benchmark::DoNotOptimize(nlohmann::json::parse(text));
  AState.SetItemsProcessed(AState.iterations() * Documents);
  AState.SetBytesProcessed(AState.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_BulkResponseTreePeer)->Unit(benchmark::kMillisecond);

void BM_BulkBodyRead(benchmark::State& AState) {
  const std::string body = Body();
  for (auto _ : AState) {
    zor::test::TBulkBody parsed(body);
    benchmark::DoNotOptimize(parsed.Items().data());
  }
  AState.SetItemsProcessed(AState.iterations() * Documents);
  AState.SetBytesProcessed(AState.iterations() * static_cast<int64_t>(body.size()));
}
BENCHMARK(BM_BulkBodyRead)->Unit(benchmark::kMillisecond);

void BM_BulkBodyLibraryPeer(benchmark::State& AState) {
  const std::string body = Body();
  for (auto _ : AState) {
    size_t pos = 0;
    bool all = true;
    while (pos < body.size()) {
      const size_t end = body.find('\n', pos);
      all &= nlohmann::json::accept(std::string_view(body).substr(pos, end - pos));
      pos = end + 1;
    }
    benchmark::DoNotOptimize(all);
  }
  AState.SetItemsProcessed(AState.iterations() * Documents);
  AState.SetBytesProcessed(AState.iterations() * static_cast<int64_t>(body.size()));
}
BENCHMARK(BM_BulkBodyLibraryPeer)->Unit(benchmark::kMillisecond);

}  // namespace
