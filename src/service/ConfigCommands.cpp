// The check-config command: reads a configuration file the way the service
// does and either lists every problem (exit status 1) or prints the
// configuration the service would run with, in the file's own pretty layout.
// Besides what the configuration checker finds, it compiles every exclusion
// expression as the reader's subscriber will: one that does not compile
// would stop the service's start.
#include <cstdio>
#include <string>
#include <vector>

#include "collection/RegularExpression.h"
#include "config/ConfigChecker.h"
#include "platform/ServicePaths.h"
#include "service/ProgramOptions.h"
#include "support/Json.h"

namespace zor {

namespace {

void CheckExclusionExpressions(const TCollector& ACollector, std::vector<std::string>& AProblems) {
  for (int i = 0; i < ACollector.InterfaceCount(); ++i) {
    const std::vector<std::string>& expressions = ACollector.GetInterface(i).ExclusionRegex();
    for (size_t j = 0; j < expressions.size(); ++j) {
      if (expressions[j].empty()) continue;  // the subscriber skips empty ones
      try {
        TRegularExpression expression(expressions[j]);
      } catch (const ERegularExpressionError& error) {
        AProblems.push_back("interfaces[" + std::to_string(i) + "].exclusionRegex[" + std::to_string(j) +
                            "]: " + error.what());
      }
    }
  }
}

}  // namespace

int RunCheckConfig(const TProgramOptions& AOptions, const std::string& AFile) {
  std::string fileName = AFile;
  if (fileName.empty()) {
    TPathOverrides overrides;
    overrides.ProgramData = AOptions.ProgramData;
    fileName = ResolveServicePaths(overrides).SvcConfigFile;
  }

  TConfigChecker::TResult result = TConfigChecker::CheckFile(fileName);
  if (result.Effective) CheckExclusionExpressions(*result.Effective, result.Problems);
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
