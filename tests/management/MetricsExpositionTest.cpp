#include "management/MetricsExposition.h"

#include <gtest/gtest.h>

#include <string>

namespace zor {
namespace {

TMetricsSnapshot SampleSnapshot() {
  TMetricsSnapshot snapshot;
  snapshot.Readers.push_back(TReaderFigures{"Sec \"ops\"\\x\nnew", 10, 2, 3, 4567, 5, 1700000000.25});
  TDestinationFigures syslog;
  syslog.Output = TOutputKind::okSyslog;
  syslog.Destination = "10.0.0.1:514";
  syslog.Transport = "TLS";
  syslog.Queued = 6;
  syslog.Sent = 18446744073709551615u;  // beyond 2^53: as the nearest double, no integer overflow
  syslog.Bytes = 4096;
  syslog.Connected = true;
  TDestinationFigures beat;
  beat.Output = TOutputKind::okBeat;
  beat.Destination = "https://es:9200";
  beat.Transport = "HTTPS";
  beat.Sent = 9;
  beat.LastStatus = 429;
  beat.Rejected = {{"mapper_parsing_exception", 2}, {"version_conflict_engine_exception", 1}};
  beat.LastError = TDestinationError{"status 429 es_rejected_execution_exception", 1700000001.5};
  snapshot.Destinations = {syslog, beat};
  snapshot.Processor = TProcessorFigures{1, 2, 3, 0.5, 4};
  snapshot.StartTime = 1700000000;
  snapshot.ConfigGeneration = 3;
  snapshot.Reconfigurations = 2;
  snapshot.State = TPipelineState::psRunning;
  return snapshot;
}

TEST(MetricsExpositionTest, SamplesCarryTheirLabelsEscapedAndTheirValues) {
  TProcessFigures process;
  process.ResidentBytes = 1048576;
  process.Threads = 12;
  process.OpenFiles = -1;  // not known: no sample
  process.CpuSeconds = 1.25;
  const std::string text = TMetricsExposition::PrometheusText(SampleSnapshot(), process);
  const char* const lines[] = {
      "# TYPE zor_reader_records_read_total counter\n",
      "zor_reader_records_read_total{reader=\"Sec \\\"ops\\\"\\\\x\\nnew\"} 10\n",
      "zor_reader_last_event_timestamp_seconds{reader=\"Sec \\\"ops\\\"\\\\x\\nnew\"} 1700000000.25\n",
      "zor_syslog_messages_queued{destination=\"10.0.0.1:514\",transport=\"TLS\"} 6\n",
      "zor_syslog_messages_sent_total{destination=\"10.0.0.1:514\",transport=\"TLS\"} 18446744073709551616\n",
      "zor_syslog_connected{destination=\"10.0.0.1:514\",transport=\"TLS\"} 1\n",
      "zor_beat_documents_accepted_total{destination=\"https://es:9200\"} 9\n",
      "zor_beat_last_status{destination=\"https://es:9200\"} 429\n",
      "zor_beat_documents_rejected_total{destination=\"https://es:9200\",error_type=\"mapper_parsing_exception\"} 2\n",
      "zor_processor_outbound_queue_depth{output=\"beat\"} 3\n",
      "# TYPE zor_processor_batch_seconds summary\n",
      "zor_processor_batch_seconds_sum 0.5\n",
      "zor_processor_batch_seconds_count 4\n",
      "zor_config_generation 3\n",
      "zor_reconfigurations_total 2\n",
      "zor_process_resident_memory_bytes 1048576\n",
      "zor_process_cpu_seconds_total 1.25\n",
  };
  for (const char* line : lines) EXPECT_NE(text.find(line), std::string::npos) << line << "\nin\n" << text;
  // Beat destinations are not syslog ones, and the other way round.
  EXPECT_EQ(text.find("zor_syslog_messages_sent_total{destination=\"https"), std::string::npos);
  EXPECT_EQ(text.find("zor_beat_documents_queued{destination=\"10.0.0.1"), std::string::npos);
  EXPECT_NE(text.find("# TYPE zor_process_open_fds gauge\n# HELP"), std::string::npos);
  EXPECT_EQ(text.find("\nzor_process_open_fds "), std::string::npos);
}

TEST(MetricsExpositionTest, HealthIsServedWhileRunningAndUnavailableWithTheReasonOtherwise) {
  TMetricsSnapshot snapshot = SampleSnapshot();
  EXPECT_EQ(TMetricsExposition::HealthStatus(snapshot), 200);
  TJSONValue health = TMetricsExposition::HealthJson(snapshot);
  EXPECT_EQ(health["status"], "running");
  EXPECT_EQ(health["startTime"], "2023-11-14T22:13:20.000Z");
  EXPECT_EQ(health["readers"][0]["lastEventTime"], "2023-11-14T22:13:20.250Z");
  const TJSONValue beat = health["destinations"][1];
  EXPECT_EQ(beat["destination"], "https://es:9200");
  EXPECT_EQ(beat["transport"], "HTTPS");
  EXPECT_EQ(beat["connected"], false);
  EXPECT_EQ(beat["lastError"], "status 429 es_rejected_execution_exception");
  EXPECT_EQ(beat["lastErrorTime"], "2023-11-14T22:13:21.500Z");
  EXPECT_EQ(beat["rejected"], 3);
  EXPECT_TRUE(health["destinations"][0]["lastErrorTime"].is_null());

  const struct {
    TPipelineState State;
    const char* Name;
  } cases[] = {{TPipelineState::psFailed, "failed"},
               {TPipelineState::psStarting, "starting"},
               {TPipelineState::psStopped, "stopped"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    snapshot.State = c.State;
    snapshot.StateReason = "Duplicates not allowed";
    EXPECT_EQ(TMetricsExposition::HealthStatus(snapshot), 503);
    health = TMetricsExposition::HealthJson(snapshot);
    EXPECT_EQ(health["status"], c.Name);
    EXPECT_EQ(health["reason"], "Duplicates not allowed");
  }
}

}  // namespace
}  // namespace zor
