// The check-config command: reads a configuration file the way the service
// does and either lists every problem (exit status 1) or prints the
// configuration the service would run with, in the file's own pretty layout.
// The rules are those every change of the running configuration passes
// (TConfigValidator): what the document says, and what would stop the start.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "management/ConfigValidator.h"
#include "platform/ServicePaths.h"
#include "service/ProgramOptions.h"
#include "support/CryptoAPI.h"
#include "support/Json.h"
#include "support/Utilities.h"

namespace zor {

int RunCheckConfig(const TProgramOptions& AOptions, const std::string& AFile) {
  std::string fileName = AFile;
  if (fileName.empty()) {
    TPathOverrides overrides;
    overrides.ProgramData = AOptions.ProgramData;
    fileName = ResolveServicePaths(overrides).SvcConfigFile;
  }

  TConfigChecker::TResult result = TConfigValidator::CheckFile(fileName);
  if (!result.Problems.empty()) {
    for (const auto& problem : result.Problems) std::fprintf(stderr, "%s: %s\n", fileName.c_str(), problem.c_str());
    std::fprintf(stderr, "%zu problem%s found in %s\n", result.Problems.size(),
                 result.Problems.size() == 1 ? "" : "s", fileName.c_str());
    return 1;
  }
  const TCollector& collector = *result.Effective;
  if (!TUtilities::IsBlank(collector.ConfigServer()) && collector.ConfigServerCheckInterval() <= 0) {
    std::fprintf(stderr,
                 "%s: note: configServerCheckInterval is %d: the configuration server is asked once at start-up "
                 "and not again\n",
                 fileName.c_str(), collector.ConfigServerCheckInterval());
  }
  const std::string text = Json::PrettyText(*collector.ToJSONObject());
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

// Prints the stored form of the password on standard input (its first line,
// without the line end), so that it can be written into SvcConfig.json by
// hand. The line breaks of the stored form are left out: the service reads
// the text with or without them, and a JSON string cannot hold them raw.
int RunEncryptPassword() {
  std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  const size_t lineEnd = input.find_first_of("\r\n");
  if (lineEnd != std::string::npos) input.resize(lineEnd);
  if (input.empty()) {
    std::fprintf(stderr, "encrypt-password: no password on standard input\n");
    return 1;
  }
  std::string stored;
  if (TCryptoAPI::aesEncryptString(input, stored) != TCryptoAPI::CryptOK) {
    std::fprintf(stderr, "encrypt-password: the password could not be encrypted\n");
    return 1;
  }
  std::erase_if(stored, [](char c) { return c == '\r' || c == '\n'; });
  stored += '\n';
  return std::fwrite(stored.data(), 1, stored.size(), stdout) == stored.size() && std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace zor
