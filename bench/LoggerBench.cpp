// What logging costs the caller: formatting the line, one lock, one append.
// The logger thread writes the file meanwhile (rolling it over every 2 MiB).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "support/FileLogger.h"

namespace {

using namespace zor;

// One logger on a file in a fresh temporary folder for the whole run.
class TBenchLogger {
 public:
  TBenchLogger() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zor-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    FFolder = pattern;
    FLogger = std::make_unique<TFileLogger>(TMessageProc{}, FFolder + "/bench.log");
    FLogger->SetLoglevel(LOG_INFO);
    (void)FLogger->ThreadStart(false, 0);
  }
  ~TBenchLogger() {
    FLogger.reset();
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
  }
  TFileLogger& Logger() { return *FLogger; }

 private:
  std::string FFolder;
  std::unique_ptr<TFileLogger> FLogger;
};

TFileLogger& Logger() {
  static TBenchLogger bench;
  return bench.Logger();
}

void BM_LogInfoText(benchmark::State& state) {
  TFileLogger& logger = Logger();
  const std::string text = "[Senders] Sent 250 messages to 127.0.0.1:514 in 3 ms";
  for (auto _ : state) logger.Log(LOG_INFO, text);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogInfoText)->Threads(1)->Threads(4)->UseRealTime();

void LogFormatted(TFileLogger& ALogger, int ALevel, const char* AFormat, ...) __attribute__((format(printf, 3, 4)));
void LogFormatted(TFileLogger& ALogger, int ALevel, const char* AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  ALogger.LogV(ALevel, AFormat, args);
  va_end(args);
}

void BM_LogInfoFormat(benchmark::State& state) {
  TFileLogger& logger = Logger();
  int i = 0;
  for (auto _ : state) LogFormatted(logger, LOG_INFO, "[%s] Processed batch %d with %d events", "Security", ++i, 100);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogInfoFormat)->Threads(1)->Threads(4)->UseRealTime();

// A DEBUG line at level INFO: dropped before any formatting.
void BM_LogDebugFiltered(benchmark::State& state) {
  TFileLogger& logger = Logger();
  int i = 0;
  for (auto _ : state) LogFormatted(logger, LOG_DEBUG, "[%s] Processed batch %d", "Security", ++i);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogDebugFiltered);

}  // namespace
