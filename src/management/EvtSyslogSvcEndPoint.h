#pragma once

#include <string>
#include <vector>

#include "delivery/MetricsRegistry.h"
#include "management/CurrentConfig.h"
#include "management/EndPointBase.h"

namespace zor {

// The service's management endpoint: the commands an administrator or a
// console sends, addressed by the first segment of the path.
//
//   GET  /                  index.html of the program folder, or a fallback text
//   GET  /CONFIG            the current configuration (compact JSON)
//   GET  /STATUS            TServiceStatus (compact JSON)
//   GET  /API/LOG           the current log file as HTML (?textOnly: plain lines)
//   GET  /CHANNEL[/...]     the event log channels (JSON array)
//   GET  /METRICS           the service's figures, Prometheus text format
//   GET  /HEALTH            whether the pipeline runs, with the figures of
//                           each reader and destination (JSON; 503 when not)
//   PUT  /CONFIG            the body applied to the configuration (400 with
//                           the problems as a JSON array when it fails the check)
//   POST /CONFIG            reload the saved file
//   DELETE /SUBSCRIBER/NAME remove the first reader of that name
// Command words in any letter case; a command matches only with exactly its
// number of segments (CHANNEL with any number after it). Anything else: an
// empty 200. Every change reaches the service thread as WM_RECONFIGURE
// through the configuration owner.
//
// Threads: handlers run on the server's threads (TEndPointBase); they share
// only the configuration owner, which is safe for that. Borrows the owner,
// which must outlive the endpoint.
class TEvtSyslogSvcEndPoint : public TEndPointBase {
 public:
  TEvtSyslogSvcEndPoint(const std::string& AIP, uint16_t APort, const std::string& AProtocol,
                        const std::string& ACertFile, const std::string& AKeyFile, const std::string& ARootCertFile,
                        const std::string& AUserName, const std::string& APassword, TCurrentConfig& AConfig,
                        const std::string& AClientCAFile = std::string(),
                        const TEndPointLimits& ALimits = TEndPointLimits());
  ~TEvtSyslogSvcEndPoint() override;

  // Where METRICS and HEALTH read (null: they answer 503). Borrowed, must
  // outlive the endpoint; set before Start.
  void SetMetrics(const TMetricsRegistry* AMetrics) { FMetrics = AMetrics; }

  // The path split at every "/", empty pieces kept: "/a" gives {"", "a"},
  // "/a/" gives {"", "a", ""}.
  [[nodiscard]] static std::vector<std::string> SplitPath(const std::string& AURI);
  // The lines as the HTML page of API/LOG, with &, < and > escaped.
  [[nodiscard]] static std::string LogPage(const std::vector<std::string>& ALines);

 protected:
  void HandleGet(const TEndPointRequest& ARequest, TEndPointResponse& AResponse) override;
  void HandlePut(const TEndPointRequest& ARequest, TEndPointResponse& AResponse) override;
  void HandlePost(const TEndPointRequest& ARequest, TEndPointResponse& AResponse) override;
  void HandleDelete(const TEndPointRequest& ARequest, TEndPointResponse& AResponse) override;

 private:
  [[nodiscard]] static std::vector<std::string> ListChannels();

  void AnswerMetrics(TEndPointResponse& AResponse) const;
  void AnswerHealth(TEndPointResponse& AResponse) const;

  TCurrentConfig& FConfig;
  const TMetricsRegistry* FMetrics = nullptr;
};

}  // namespace zor
