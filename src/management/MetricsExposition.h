#pragma once

#include <string>

#include "delivery/MetricsSnapshot.h"
#include "platform/ProcessFigures.h"
#include "support/Json.h"

namespace zor {

// The service's figures in the forms the management endpoint serves them:
// GET /metrics in the Prometheus text exposition format (version 0.0.4) and
// GET /health as JSON. Pure functions of a snapshot; any thread.
//
// Label values: reader is the reader's "name" in the configuration;
// destination is "host:port" of a syslog receiver or the endpoint's URL of a
// beat receiver; transport is UDP, TCP, TLS, RELP, HTTP or HTTPS.
class TMetricsExposition {
 public:
  TMetricsExposition() = delete;

  // The exposition text: every family with its HELP and TYPE lines, then its
  // samples, families in a fixed order.
  [[nodiscard]] static std::string PrometheusText(const TMetricsSnapshot& ASnapshot,
                                                  const TProcessFigures& AProcess);

  // The health document:
  //   {"status": "running" | "starting" | "failed" | "stopped",
  //    "reason": text (empty while running),
  //    "startTime": ISO 8601 UTC, "configGeneration": n, "reconfigurations": n,
  //    "readers": [{"reader", "recordsRead", "recordsExcluded", "batches",
  //                 "bookmarkRecordId", "recordsBehind", "lastEventTime"}],
  //    "destinations": [{"destination", "transport", "output" ("syslog" |
  //                 "beat"), "connected", "lastError", "lastErrorTime",
  //                 "queued", "sent", "retried", "dropped", "rejected",
  //                 "lastStatus"}]}
  // Times are ISO 8601 UTC texts, or null when there is none yet.
  [[nodiscard]] static TJSONValue HealthJson(const TMetricsSnapshot& ASnapshot);
  // 200 while the pipeline runs, else 503.
  [[nodiscard]] static int HealthStatus(const TMetricsSnapshot& ASnapshot);
  // "running", "starting", "failed" or "stopped".
  [[nodiscard]] static const char* StateName(TPipelineState AState);
};

}  // namespace zor
