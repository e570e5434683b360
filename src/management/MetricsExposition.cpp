#include "management/MetricsExposition.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "support/Utilities.h"

namespace zor {

namespace {

using TLabel = std::pair<const char*, std::string_view>;

// Appends families and samples to the exposition text.
class TExpositionWriter {
 public:
  explicit TExpositionWriter(std::string& AOut) : FOut(AOut) {}

  void Family(std::string_view AName, const char* AType, const char* AHelp) {
    FOut.append("# HELP ").append(AName).append(" ").append(AHelp).append("\n");
    FOut.append("# TYPE ").append(AName).append(" ").append(AType).append("\n");
  }

  void Sample(std::string_view AName, std::initializer_list<TLabel> ALabels, double AValue) {
    FOut.append(AName);
    if (ALabels.size() > 0) {
      FOut.push_back('{');
      bool first = true;
      for (const auto& [name, value] : ALabels) {
        if (!first) FOut.push_back(',');
        first = false;
        FOut.append(name).append("=\"");
        AppendLabelValue(value);
        FOut.push_back('"');
      }
      FOut.push_back('}');
    }
    FOut.push_back(' ');
    AppendValue(AValue);
    FOut.push_back('\n');
  }

 private:
  // Backslash, double quote and line feed are the three characters the
  // format escapes in a label value.
  void AppendLabelValue(std::string_view AValue) {
    for (const char c : AValue) {
      switch (c) {
        case '\\': FOut.append("\\\\"); break;
        case '"': FOut.append("\\\""); break;
        case '\n': FOut.append("\\n"); break;
        default: FOut.push_back(c);
      }
    }
  }

  void AppendValue(double AValue) {
    if (std::isnan(AValue)) {
      FOut.append("NaN");
      return;
    }
    if (std::isinf(AValue)) {
      FOut.append(AValue > 0 ? "+Inf" : "-Inf");
      return;
    }
    char buffer[64];
    // Whole numbers (every counter) are written without exponent up to 2^53.
    if (AValue == std::floor(AValue) && std::fabs(AValue) < 9007199254740992.0) {
      const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, static_cast<int64_t>(AValue));
      FOut.append(buffer, end);
      return;
    }
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, AValue);
    FOut.append(buffer, end);
  }

  std::string& FOut;
};

// The tables below are plain constants (function pointers, not
// std::function): built at compile time, they cost the program's start
// nothing.
struct TReaderFamily {
  const char* Name;
  const char* Type;
  const char* Help;
  double (*Value)(const TReaderFigures&);
};

struct TDestinationFamily {
  TOutputKind Output;
  const char* Name;
  const char* Type;
  const char* Help;
  double (*Value)(const TDestinationFigures&);
};

constexpr TReaderFamily ReaderFamilies[] = {
    {"zor_reader_records_read_total", "counter", "Records read from the reader's channel, excluded ones included.",
     [](const TReaderFigures& A) { return static_cast<double>(A.RecordsRead); }},
    {"zor_reader_records_excluded_total", "counter", "Records dropped by an exclusion expression.",
     [](const TReaderFigures& A) { return static_cast<double>(A.RecordsExcluded); }},
    {"zor_reader_batches_total", "counter", "Batches handed to the processor.",
     [](const TReaderFigures& A) { return static_cast<double>(A.Batches); }},
    {"zor_reader_bookmark_record_id", "gauge", "Record id of the reader's saved position.",
     [](const TReaderFigures& A) { return static_cast<double>(A.BookmarkRecordId); }},
    {"zor_reader_records_behind", "gauge", "Records of the channel after the last one the reader read, by record id.",
     [](const TReaderFigures& A) { return static_cast<double>(A.RecordsBehind); }},
    {"zor_reader_last_event_timestamp_seconds", "gauge", "TimeCreated of the last record read (Unix time).",
     [](const TReaderFigures& A) { return A.LastEventTime; }},
};

constexpr TDestinationFamily DestinationFamilies[] = {
    {TOutputKind::okSyslog, "zor_syslog_messages_queued", "gauge", "Messages waiting in the destination's sender.",
     [](const TDestinationFigures& A) { return static_cast<double>(A.Queued); }},
    {TOutputKind::okSyslog, "zor_syslog_messages_sent_total", "counter", "Messages the receiver took whole.",
     [](const TDestinationFigures& A) { return static_cast<double>(A.Sent); }},
    {TOutputKind::okSyslog, "zor_syslog_bytes_sent_total", "counter", "Bytes the receiver's socket took.",
     [](const TDestinationFigures& A) { return static_cast<double>(A.Bytes); }},
    {TOutputKind::okSyslog, "zor_syslog_messages_retried_total", "counter",
     "Messages put back for another attempt, once per failed attempt.",
     [](const TDestinationFigures& A) { return static_cast<double>(A.Retried); }},
    {TOutputKind::okSyslog, "zor_syslog_messages_dropped_total", "counter", "Messages given up.",
     [](const TDestinationFigures& A) { return static_cast<double>(A.Dropped); }},
    {TOutputKind::okSyslog, "zor_syslog_connected", "gauge", "1 when the last attempt reached the receiver.",
     [](const TDestinationFigures& A) { return A.Connected ? 1.0 : 0.0; }},
    {TOutputKind::okBeat, "zor_beat_documents_queued", "gauge",
     "Documents waiting in the destination's sender or in requests under way.",
     [](const TDestinationFigures& A) { return static_cast<double>(A.Queued); }},
    {TOutputKind::okBeat, "zor_beat_documents_accepted_total", "counter", "Documents the endpoint indexed.",
     [](const TDestinationFigures& A) { return static_cast<double>(A.Sent); }},
    {TOutputKind::okBeat, "zor_beat_documents_retried_total", "counter",
     "Documents put back for another attempt, once per failed attempt.",
     [](const TDestinationFigures& A) { return static_cast<double>(A.Retried); }},
    {TOutputKind::okBeat, "zor_beat_documents_dropped_total", "counter",
     "Documents given up (refused by the endpoint included).",
     [](const TDestinationFigures& A) { return static_cast<double>(A.Dropped); }},
    {TOutputKind::okBeat, "zor_beat_last_status", "gauge",
     "HTTP status of the endpoint's last answer (-1: no answer, 0: none yet).",
     [](const TDestinationFigures& A) { return static_cast<double>(A.LastStatus); }},
    {TOutputKind::okBeat, "zor_beat_connected", "gauge", "1 when the last attempt reached the endpoint.",
     [](const TDestinationFigures& A) { return A.Connected ? 1.0 : 0.0; }},
};

std::string IsoTime(double AUnixSeconds) {
  const auto milliseconds = static_cast<int64_t>(std::llround(AUnixSeconds * 1000.0));
  return TUtilities::DateTimeToISOTimestampString(TUtilities::UnixMsToDateTime(milliseconds));
}

TJSONValue IsoTimeOrNull(double AUnixSeconds) {
  if (AUnixSeconds <= 0) return nullptr;
  return IsoTime(AUnixSeconds);
}

}  // namespace

const char* TMetricsExposition::StateName(TPipelineState AState) {
  switch (AState) {
    case TPipelineState::psRunning: return "running";
    case TPipelineState::psFailed: return "failed";
    case TPipelineState::psStopped: return "stopped";
    case TPipelineState::psStarting: break;
  }
  return "starting";
}

std::string TMetricsExposition::PrometheusText(const TMetricsSnapshot& ASnapshot, const TProcessFigures& AProcess) {
  std::string text;
  TExpositionWriter out(text);
  for (const TReaderFamily& family : ReaderFamilies) {
    out.Family(family.Name, family.Type, family.Help);
    for (const TReaderFigures& reader : ASnapshot.Readers)
      out.Sample(family.Name, {{"reader", reader.Reader}}, family.Value(reader));
  }
  for (const TDestinationFamily& family : DestinationFamilies) {
    out.Family(family.Name, family.Type, family.Help);
    for (const TDestinationFigures& destination : ASnapshot.Destinations) {
      if (destination.Output != family.Output) continue;
      if (family.Output == TOutputKind::okSyslog)
        out.Sample(family.Name, {{"destination", destination.Destination}, {"transport", destination.Transport}},
                   family.Value(destination));
      else
        out.Sample(family.Name, {{"destination", destination.Destination}}, family.Value(destination));
    }
  }
  constexpr const char* rejected = "zor_beat_documents_rejected_total";
  out.Family(rejected, "counter", "Documents the endpoint refused for good, by error type.");
  for (const TDestinationFigures& destination : ASnapshot.Destinations)
    for (const auto& [type, count] : destination.Rejected)
      out.Sample(rejected, {{"destination", destination.Destination}, {"error_type", type}},
                 static_cast<double>(count));

  const TProcessorFigures& processor = ASnapshot.Processor;
  out.Family("zor_processor_inbound_queue_depth", "gauge", "Batches waiting for a processing thread.");
  out.Sample("zor_processor_inbound_queue_depth", {}, static_cast<double>(processor.InboundQueueDepth));
  out.Family("zor_processor_outbound_queue_depth", "gauge", "Items waiting to be handed to the senders.");
  out.Sample("zor_processor_outbound_queue_depth", {{"output", "syslog"}},
             static_cast<double>(processor.OutboundSyslogQueueDepth));
  out.Sample("zor_processor_outbound_queue_depth", {{"output", "beat"}},
             static_cast<double>(processor.OutboundBeatQueueDepth));
  out.Family("zor_processor_batch_seconds", "summary", "Time the processing threads spent on a batch.");
  out.Sample("zor_processor_batch_seconds_sum", {}, processor.BatchSecondsSum);
  out.Sample("zor_processor_batch_seconds_count", {}, static_cast<double>(processor.BatchCount));

  out.Family("zor_process_start_time_seconds", "gauge", "When the process started (Unix time).");
  out.Sample("zor_process_start_time_seconds", {}, ASnapshot.StartTime);
  out.Family("zor_config_generation", "gauge", "Start-ups of the pipeline since the process started.");
  out.Sample("zor_config_generation", {}, static_cast<double>(ASnapshot.ConfigGeneration));
  out.Family("zor_reconfigurations_total", "counter", "Reconfigurations handled.");
  out.Sample("zor_reconfigurations_total", {}, static_cast<double>(ASnapshot.Reconfigurations));
  out.Family("zor_pipeline_running", "gauge", "1 while the pipeline runs (GET /health answers 200).");
  out.Sample("zor_pipeline_running", {}, ASnapshot.State == TPipelineState::psRunning ? 1.0 : 0.0);
  const std::pair<const char*, std::pair<const char*, double>> process[] = {
      {"zor_process_resident_memory_bytes", {"Resident memory in bytes.", static_cast<double>(AProcess.ResidentBytes)}},
      {"zor_process_threads", {"Threads of the process.", static_cast<double>(AProcess.Threads)}},
      {"zor_process_open_fds", {"Open file descriptors.", static_cast<double>(AProcess.OpenFiles)}},
  };
  for (const auto& [name, figure] : process) {
    out.Family(name, "gauge", figure.first);
    if (figure.second >= 0) out.Sample(name, {}, figure.second);
  }
  out.Family("zor_process_cpu_seconds_total", "counter", "User and system CPU time spent, in seconds.");
  if (AProcess.CpuSeconds >= 0) out.Sample("zor_process_cpu_seconds_total", {}, AProcess.CpuSeconds);
  return text;
}

int TMetricsExposition::HealthStatus(const TMetricsSnapshot& ASnapshot) {
  return ASnapshot.State == TPipelineState::psRunning ? 200 : 503;
}

TJSONValue TMetricsExposition::HealthJson(const TMetricsSnapshot& ASnapshot) {
  TJSONValue health = TJSONValue::object();
  health["status"] = StateName(ASnapshot.State);
  health["reason"] = ASnapshot.StateReason;
  health["startTime"] = IsoTimeOrNull(ASnapshot.StartTime);
  health["configGeneration"] = ASnapshot.ConfigGeneration;
  health["reconfigurations"] = ASnapshot.Reconfigurations;
  TJSONValue readers = TJSONValue::array();
  for (const TReaderFigures& reader : ASnapshot.Readers) {
    TJSONValue item = TJSONValue::object();
    item["reader"] = reader.Reader;
    item["recordsRead"] = reader.RecordsRead;
    item["recordsExcluded"] = reader.RecordsExcluded;
    item["batches"] = reader.Batches;
    item["bookmarkRecordId"] = reader.BookmarkRecordId;
    item["recordsBehind"] = reader.RecordsBehind;
    item["lastEventTime"] = IsoTimeOrNull(reader.LastEventTime);
    readers.push_back(std::move(item));
  }
  health["readers"] = std::move(readers);
  TJSONValue destinations = TJSONValue::array();
  for (const TDestinationFigures& destination : ASnapshot.Destinations) {
    TJSONValue item = TJSONValue::object();
    item["destination"] = destination.Destination;
    item["transport"] = destination.Transport;
    item["output"] = destination.Output == TOutputKind::okBeat ? "beat" : "syslog";
    item["connected"] = destination.Connected;
    item["lastError"] = destination.LastError.Text;
    item["lastErrorTime"] = IsoTimeOrNull(destination.LastError.Time);
    item["queued"] = destination.Queued;
    item["sent"] = destination.Sent;
    item["retried"] = destination.Retried;
    item["dropped"] = destination.Dropped;
    uint64_t rejected = 0;
    for (const auto& [type, count] : destination.Rejected) rejected += count;
    item["rejected"] = rejected;
    item["lastStatus"] = destination.LastStatus;
    destinations.push_back(std::move(item));
  }
  health["destinations"] = std::move(destinations);
  return health;
}

}  // namespace zor
