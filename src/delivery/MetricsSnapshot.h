#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "delivery/DestinationCounters.h"

namespace zor {

// The figures of one reader at one moment.
struct TReaderFigures {
  std::string Reader;
  uint64_t RecordsRead = 0;
  uint64_t RecordsExcluded = 0;
  uint64_t Batches = 0;
  uint64_t BookmarkRecordId = 0;
  uint64_t RecordsBehind = 0;
  double LastEventTime = 0;
};

// Which output a destination belongs to.
enum class TOutputKind : uint8_t { okSyslog = 0, okBeat = 1 };

// The figures of one destination at one moment.
struct TDestinationFigures {
  TOutputKind Output = TOutputKind::okSyslog;
  // "host:port" (syslog) or the endpoint's URL (beat).
  std::string Destination;
  // UDP, TCP, TLS, RELP, HTTP or HTTPS.
  std::string Transport;
  // Items waiting in the sender (filled by the pipeline's probe).
  uint64_t Queued = 0;
  uint64_t Sent = 0;
  uint64_t Retried = 0;
  uint64_t Dropped = 0;
  uint64_t FailedAttempts = 0;
  uint64_t Bytes = 0;
  bool Connected = false;
  int LastStatus = 0;
  TDestinationError LastError;
  std::map<std::string, uint64_t> Rejected;
  // The counters the figures were read from: lets a probe find its row.
  const TDestinationCounters* Source = nullptr;
};

// The processor's figures (filled by the pipeline's probe).
struct TProcessorFigures {
  uint64_t InboundQueueDepth = 0;
  uint64_t OutboundSyslogQueueDepth = 0;
  uint64_t OutboundBeatQueueDepth = 0;
  double BatchSecondsSum = 0;
  uint64_t BatchCount = 0;
};

// Whether the pipeline runs.
enum class TPipelineState : uint8_t {
  psStarting = 0,  // before the first start-up ended, or during a reconfiguration
  psRunning = 1,   // the last start-up succeeded
  psFailed = 2,    // the last start-up failed (Reason says why)
  psStopped = 3,   // shut down
};

// Everything the metrics exposition, GET /health and the status command
// show, read at one moment. A plain value.
struct TMetricsSnapshot {
  std::vector<TReaderFigures> Readers;
  std::vector<TDestinationFigures> Destinations;
  TProcessorFigures Processor;
  // Seconds since the Unix epoch when the registry was made (the process start).
  double StartTime = 0;
  uint64_t ConfigGeneration = 0;
  uint64_t Reconfigurations = 0;
  TPipelineState State = TPipelineState::psStarting;
  std::string StateReason;
};

}  // namespace zor
