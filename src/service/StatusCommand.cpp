// The status command: asks a running service's management endpoint for its
// health document (GET /health) and prints it as tables. Without --url it
// asks the endpoint the service's configuration file names, with that file's
// credentials unless others are given.
#include <cstdio>
#include <memory>
#include <string>

#include "beats/EndpointClient.h"
#include "management/AsciiCase.h"
#include "management/CurrentConfig.h"
#include "management/StatusReport.h"
#include "platform/ServicePaths.h"
#include "service/ProgramOptions.h"
#include "support/Json.h"

namespace zor {

namespace {

// The endpoint of the configuration file, as a client reaches it: an
// endpoint that listens on every address is asked on loopback. Empty when
// the file leaves the port to the system (0).
std::string LocalEndpointURL(const TCollector& AConfig) {
  if (AConfig.LocalAPIPort() == 0) return {};
  std::string host = AConfig.LocalAPIIP();
  if (host.empty() || host == "0.0.0.0") host = "127.0.0.1";
  if (host == "::") host = "::1";
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  const std::string scheme = UpperAscii(AConfig.LocalAPIProtocol()) == "HTTPS" ? "https" : "http";
  return scheme + "://" + host + ":" + std::to_string(AConfig.LocalAPIPort());
}

}  // namespace

int RunStatus(const TProgramOptions& AOptions, const TStatusArgs& AArgs) {
  std::string url = AArgs.URL;
  std::string userName = AArgs.UserName;
  std::string password = AArgs.Password;
  if (url.empty()) {
    TPathOverrides overrides;
    overrides.ProgramData = AOptions.ProgramData;
    const std::string fileName = ResolveServicePaths(overrides).SvcConfigFile;
    std::shared_ptr<const TCollector> config;
    try {
      TCurrentConfig current(fileName, nullptr);
      config = current.Load(false);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "status: %s: %s\n", fileName.c_str(), e.what());
      return 2;
    }
    url = LocalEndpointURL(*config);
    if (url.empty()) {
      std::fprintf(stderr, "status: %s leaves the endpoint's port to the system (0): give --url\n", fileName.c_str());
      return 2;
    }
    if (userName.empty()) {
      userName = config->LocalAPIUsername();
      if (password.empty()) password = config->LocalAPIPassword();
    }
  }
  while (!url.empty() && url.back() == '/') url.pop_back();

  TEndpointClientOptions options;
  options.ConnectTimeoutMs = 5000;
  options.RequestTimeoutMs = 15000;
  options.VerifyCertificate = !AArgs.Insecure;
  options.CAFile = AArgs.CAFile;
  TEndpointClient client(url, userName, password, "health", options);
  (void)client.Get();
  const int status = client.StatusCode();
  if (status != 200 && status != 503) {
    std::fprintf(stderr, "status: %s: %s\n", client.FullURL().c_str(),
                 client.LastError().empty() ? client.StatusText().c_str() : client.LastError().c_str());
    return 2;
  }
  TJSONValue health;
  try {
    health = Json::Parse(client.ResponseBody());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "status: %s: the answer is no health document: %s\n", client.FullURL().c_str(), e.what());
    return 2;
  }
  const std::string text = TStatusReport::Format(health, url);
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (std::fflush(stdout) != 0) return 2;
  // 0 while the pipeline runs, 1 when it does not.
  return status == 200 ? 0 : 1;
}

}  // namespace zor
