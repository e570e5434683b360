// A management request as it comes off the network: the HTTP layer's
// parsing, Basic credentials, the path's pieces and the query's entries, and
// a PUT body on its way to the configuration (applied to a copy, checked,
// saved when it passes). The endpoint checks credentials (a user is
// configured), so each input also runs the decision on what it sends. The
// figures of METRICS and HEALTH come from a small registry.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "management/EvtSyslogSvcEndPoint.h"

namespace {

using namespace zor;

struct TFixture {
  TFixture() {
    std::filesystem::create_directories(Folder);
    Config = std::make_unique<TCurrentConfig>((Folder / "SvcConfig.json").string(), nullptr);
    EndPoint = std::make_unique<TEvtSyslogSvcEndPoint>("127.0.0.1", 0, "http", "", "", "", "admin", "secret",
                                                       *Config);
    // Something to show for METRICS and HEALTH.
    Metrics.BeginStartUp();
    Metrics.Reader("Security \"x\"")->RecordsRead += 3;
    Metrics.Destination(TOutputKind::okBeat, "http://127.0.0.1:9200", "HTTP")->NoteRejected("mapper_parsing_exception");
    Metrics.SetState(TPipelineState::psRunning);
    EndPoint->SetMetrics(&Metrics);
  }
  ~TFixture() {
    std::error_code error;
    std::filesystem::remove_all(Folder, error);
  }
  const std::filesystem::path Folder =
      std::filesystem::temp_directory_path() / ("zor-fuzz-management-" + std::to_string(::getpid()));
  std::unique_ptr<TCurrentConfig> Config;
  TMetricsRegistry Metrics;
  std::unique_ptr<TEvtSyslogSvcEndPoint> EndPoint;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TFixture fixture;
  if (size > 256 * 1024) return 0;
  const std::string_view request(reinterpret_cast<const char*>(data), size);
  const std::string answer = fixture.EndPoint->Answer(request, "127.0.0.1");
  // Every answer that was written starts with a status line.
  if (!answer.empty() && !answer.starts_with("HTTP/1.1 ")) std::abort();
  // The configuration stays whole whatever was put.
  if (fixture.Config->Snapshot()->AsJSONString().empty()) std::abort();
  return 0;
}
