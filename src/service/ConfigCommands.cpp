// The check-config command: reads a configuration file the way the service
// does and either lists every problem (exit status 1) or prints the
// configuration the service would run with, in the file's own pretty layout.
#include <cstdio>
#include <string>

#include "config/ConfigChecker.h"
#include "platform/ServicePaths.h"
#include "service/ProgramOptions.h"
#include "support/Json.h"

namespace zor {

int RunCheckConfig(const TProgramOptions& AOptions, const std::string& AFile) {
  std::string fileName = AFile;
  if (fileName.empty()) {
    TPathOverrides overrides;
    overrides.ProgramData = AOptions.ProgramData;
    fileName = ResolveServicePaths(overrides).SvcConfigFile;
  }

  const TConfigChecker::TResult result = TConfigChecker::CheckFile(fileName);
  if (!result.Problems.empty()) {
    for (const auto& problem : result.Problems) std::fprintf(stderr, "%s: %s\n", fileName.c_str(), problem.c_str());
    std::fprintf(stderr, "%zu problem%s found in %s\n", result.Problems.size(),
                 result.Problems.size() == 1 ? "" : "s", fileName.c_str());
    return 1;
  }
  const std::string text = Json::PrettyText(*result.Effective->ToJSONObject());
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace zor
