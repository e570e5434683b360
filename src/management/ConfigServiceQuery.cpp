#include "management/ConfigServiceQuery.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "management/ConfigRequest.h"
#include "management/ConfigResponseFactory.h"
#include "platform/PlatformError.h"
#include "support/Log.h"
#include "support/Utilities.h"

namespace zor {

namespace {

constexpr const char* ConfigResource = "api/config";

uint32_t IntervalMsec(int32_t AIntervalSeconds) {
  // 0 or less: no pause between queries would mean a query loop without end.
  if (AIntervalSeconds <= 0) return INFINITE;
  return static_cast<uint32_t>(std::min<int64_t>(int64_t{AIntervalSeconds} * 1000, INFINITE - 1));
}

std::string Joined(const std::vector<std::string>& ATexts) {
  std::string text;
  for (const std::string& piece : ATexts) text += (text.empty() ? "" : "; ") + piece;
  return text;
}

}  // namespace

TConfigServiceQuery::TConfigServiceQuery(int32_t AIntervalSeconds, std::string AHost, uint16_t APort,
                                         std::string AUserName, std::string APassword,
                                         std::string AUniqueIdentifier, TCollectorType ACollectorType,
                                         TCurrentConfig& AConfig, TEndpointClientOptions AClientOptions)
    : FTimingIntervalMsec(IntervalMsec(AIntervalSeconds)),
      FHost(std::move(AHost)),
      FPort(APort),
      FUserName(std::move(AUserName)),
      FPassword(std::move(APassword)),
      FUniqueIdentifier(std::move(AUniqueIdentifier)),
      FCollectorType(ACollectorType),
      FConfig(AConfig),
      FClientOptions(std::move(AClientOptions)) {}

TConfigServiceQuery::~TConfigServiceQuery() { (void)ThreadStop(true, INFINITE); }

std::string TConfigServiceQuery::FullURL() const {
  return TUtilities::Format("%s:%d/%s", FHost.c_str(), FPort, ConfigResource);
}

bool TConfigServiceQuery::Execute() {
  bool result = true;
  LogInfo("Run initial GetConfig Query");
  (void)RunQuery();
  if (FTimingIntervalMsec == INFINITE)
    LogInfo("Config Query Interval is not above 0: no further queries until the next start-up");
  while (!Terminated()) {
    uint32_t waitResult = 0;
    try {
      waitResult = WaitForAny({FShouldFinishEvent.get()}, FTimingIntervalMsec);
    } catch (const EPlatformError& error) {
      LogError("WAIT_FAILED Error in Config Query Thread. Error Code %d: %s", error.ErrorCode(), error.what());
      SetTerminated(true);
      break;
    }
    if (waitResult == WAIT_TIMEOUT) {
      if (!RunQuery()) result = false;
    } else if (waitResult == WAIT_OBJECT_0) {
      LogInfo("Config Query Thread Received Should Finish Event");
      SetTerminated(true);
    } else {
      const int code = errno;
      LogError("Unknown Result %u in Config Query Thread. Error Code %d: %s", waitResult, code, std::strerror(code));
      SetTerminated(true);
    }
  }
  return result;
}

bool TConfigServiceQuery::RunQuery() {
  try {
    QueryConfig();
    return true;
  } catch (const std::exception& error) {
    LogFatal(TUtilities::Format("Exception Retreiving Config From %s:%d: %s", FHost.c_str(), FPort, error.what()));
    return false;
  }
}

void TConfigServiceQuery::QueryConfig() {
  const std::string url = FullURL();
  try {
    TEndpointClientOptions options = FClientOptions;
    // A stop ends a request that is still waiting for the server.
    options.AbortEvent = FShouldFinishEvent.get();
    TEndpointClient client(FHost, FPort, FUserName, FPassword, ConfigResource, options);
    TConfigRequest request;
    request.SetHostName(TUtilities::GetFQDN());
    request.SetUniqueID(FUniqueIdentifier);
    request.SetCollectorType(FCollectorType);
    const std::string answer = client.Post(request.AsJSONString());
    // An unreachable server, refused credentials or any other status leave
    // the configuration as it is; only the debug level tells why.
    if (client.StatusCode() != 200) {
      LogDebug("Config server %s answered %d: %s", url.c_str(), client.StatusCode(), client.LastError().c_str());
      return;
    }
    if (TUtilities::IsBlank(answer)) return;

    const std::unique_ptr<TBaseConfigResponse> response = TConfigResponseFactory::GetResponse(answer);
    if (const auto* collector = dynamic_cast<const TCollectorConfigResponse*>(response.get())) {
      const TConfigChange change = FConfig.Adopt(collector->Collector());
      if (change.Outcome == TConfigChange::TOutcome::coRejected)
        throw EConfigResponseError("the configuration fails its check: " + Joined(change.Problems));
      if (change.Outcome == TConfigChange::TOutcome::coApplied)
        LogInfo("Config From Endpoint %s adopted and saved; reconfiguring", url.c_str());
    } else if (const auto* pending = dynamic_cast<const TPendingConfigResponse*>(response.get())) {
      LogInfo("Got Pending Response. %s.", pending->Error().c_str());
    }
  } catch (const std::exception& error) {
    LogError("Error getting Config From Endpoint %s: %s", url.c_str(), error.what());
  }
}

}  // namespace zor
