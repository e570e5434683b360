#pragma once

#include <cstdint>
#include <string>

#include "beats/EndpointClient.h"
#include "config/Collector.h"
#include "core/CustomThread.h"
#include "management/CurrentConfig.h"

namespace zor {

// The configuration-server client: a worker thread that asks the server for
// the service's configuration (POST of a TConfigRequest to "api/config") once
// at start and then every interval, and adopts a collector answer that
// changes what SvcConfig.json would hold, through TCurrentConfig::Adopt,
// which keeps the local configuration-server settings, checks and saves the
// configuration and posts WM_RECONFIGURE. A pending answer is logged.
//
// An interval of 0 seconds or less means one query at start and none after
// (until the next start-up, which starts a new thread).
//
// Owned by the manager, which starts it (ThreadStart) before the management
// endpoint and stops it, waiting without limit, after the endpoint. A stop
// also ends a request in progress. Every reconfiguration, including one this
// thread caused, ends this thread and starts a new one, which asks at once;
// since an answer that changes nothing saved is not adopted, a server that
// keeps sending one configuration causes one restart.
//
// Threads: constructed and stopped by the owner; the body runs every query.
// The current configuration is borrowed and must outlive the object.
class TConfigServiceQuery : public TCustomThread {
 public:
  // AHost: scheme and host of the server ("https://cfg.example"); APort its
  // port. AClientOptions: the HTTP client's certificate check and time-outs.
  TConfigServiceQuery(int32_t AIntervalSeconds, std::string AHost, uint16_t APort, std::string AUserName,
                      std::string APassword, std::string AUniqueIdentifier, TCollectorType ACollectorType,
                      TCurrentConfig& AConfig, TEndpointClientOptions AClientOptions = {});
  ~TConfigServiceQuery() override;

  // Milliseconds between queries; INFINITE when only the first query runs.
  [[nodiscard]] uint32_t TimingIntervalMsec() const { return FTimingIntervalMsec; }
  // The URL queried: host, ":", port, "/api/config".
  [[nodiscard]] std::string FullURL() const;

 protected:
  bool Execute() override;

 private:
  // One query with its answer handled; false when an error escaped it.
  bool RunQuery();
  // Every failure inside is logged here as "Error getting Config From
  // Endpoint"; none leaves it.
  void QueryConfig();

  const uint32_t FTimingIntervalMsec;
  const std::string FHost;
  const uint16_t FPort;
  const std::string FUserName;
  const std::string FPassword;
  const std::string FUniqueIdentifier;
  const TCollectorType FCollectorType;
  TCurrentConfig& FConfig;
  const TEndpointClientOptions FClientOptions;
};

}  // namespace zor
