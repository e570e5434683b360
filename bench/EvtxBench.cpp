// EVTX hot paths: opening and checking a chunk and walking its records, and
// rendering every record of a sample to event XML.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "evtx/BinXmlRenderer.h"
#include "evtx/EvtxChunk.h"

namespace {

using namespace zor;

// The intact chunks of a sample file, loaded once.
const std::vector<std::vector<uint8_t>>& Chunks(const std::string& AFile) {
  static std::vector<std::vector<uint8_t>> chunks;
  static std::string loaded;
  if (loaded != AFile) {
    chunks.clear();
    std::ifstream in(std::string(ZOR_SHARED_DIR) + "/evtx-samples/" + AFile, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    for (size_t at = 4096; at + TEvtxChunk::Size <= bytes.size(); at += TEvtxChunk::Size) {
      if (TEvtxChunkHeader::Parse(bytes.data() + at, true).Trusted)
        chunks.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                            bytes.begin() + static_cast<std::ptrdiff_t>(at + TEvtxChunk::Size));
    }
    loaded = AFile;
  }
  return chunks;
}

const char* const Files[] = {"omer_security.evtx", "pyevtx_system.evtx", "omer_sysmon.evtx"};

void BM_ChunkOpenAndWalk(benchmark::State& AState) {
  const auto& chunks = Chunks(Files[AState.range(0)]);
  TEvtxChunk chunk;
  std::vector<TEvtxIssue> issues;
  int64_t records = 0;
  size_t i = 0;
  for (auto _ : AState) {
    const auto& bytes = chunks[i++ % chunks.size()];
    std::copy(bytes.begin(), bytes.end(), chunk.Buffer());
    chunk.Open(0, bytes.size(), true, issues);
    TEvtxRecordHeader record;
    while (chunk.NextRecord(record, issues)) ++records;
    issues.clear();
  }
  AState.SetItemsProcessed(records);
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations() * TEvtxChunk::Size));
  AState.SetLabel(Files[AState.range(0)]);
}
BENCHMARK(BM_ChunkOpenAndWalk)->DenseRange(0, 2);

// Renders every record of every chunk, templates compiled once per chunk as
// in the reader.
void BM_RenderRecords(benchmark::State& AState) {
  const auto& chunks = Chunks(Files[AState.range(0)]);
  TEvtxChunk chunk;
  std::vector<TEvtxIssue> issues;
  TBinXmlRenderer renderer(static_cast<TEvtxRenderProfile>(AState.range(1)));
  TOutBuffer out;
  int64_t records = 0;
  int64_t bytes = 0;
  size_t i = 0;
  for (auto _ : AState) {
    const auto& data = chunks[i++ % chunks.size()];
    std::copy(data.begin(), data.end(), chunk.Buffer());
    chunk.Open(0, data.size(), false, issues);
    renderer.ResetChunk(chunk.Data(), TEvtxChunk::Size, 0);
    TEvtxRecordHeader record;
    while (chunk.NextRecord(record, issues)) {
      out.Clear();
      renderer.Render(record.BodyBegin(), record.BodyEnd(), out);
      bytes += static_cast<int64_t>(out.Size());
      ++records;
    }
    benchmark::DoNotOptimize(out.View().data());
  }
  AState.SetItemsProcessed(records);
  AState.SetBytesProcessed(bytes);
  AState.SetLabel(Files[AState.range(0)]);
}
BENCHMARK(BM_RenderRecords)->ArgsProduct({{0, 1, 2}, {0, 1}});

}  // namespace
