// What one crash-safe bookmark save costs (temporary file, flush, rename,
// folder flush): the wall time bounds how often a busy reader's position can
// be saved, the CPU time is what each save takes from the service. The
// folder is a temporary one on the disk that holds the system's temporary
// folder (ZOR_BENCH_DIR picks another, say the service's data folder).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/FileReplacer.h"

namespace {

using namespace zor;

// A bookmark of the size the service writes for one channel.
std::string BookmarkText(int ARecord) {
  return "<BookmarkList>\r\n  <Bookmark Channel='Application' RecordId='" + std::to_string(ARecord) +
         "' IsCurrent='true'/>\r\n</BookmarkList>";
}

void BM_BookmarkSave(benchmark::State& AState) {
  const char* base = std::getenv("ZOR_BENCH_DIR");
  const std::filesystem::path folder = std::filesystem::path(base != nullptr ? base : std::filesystem::temp_directory_path()) /
                                       ("zor-bookmark-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string file = (folder / "Application.xml").string();
  const TFileReplacer replacer;
  int record = 0;
  for (auto _ : AState) replacer.Replace(file, BookmarkText(++record));
  AState.SetItemsProcessed(AState.iterations());
  std::filesystem::remove_all(folder);
}
// Real time: most of a save is waiting for the disk.
BENCHMARK(BM_BookmarkSave)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
