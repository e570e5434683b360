#include "delivery/MetricsRegistry.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace zor {
namespace {

TEST(MetricsRegistryTest, CountsGoOnAcrossStartUpsAndOnlyCurrentEntriesAreShown) {
  TMetricsRegistry registry;
  registry.BeginStartUp();
  auto reader = registry.Reader("Security");
  auto udp = registry.Destination(TOutputKind::okSyslog, "10.0.0.1:514", "UDP");
  reader->RecordsRead += 5;
  udp->Sent += 3;
  (void)registry.Reader("System");

  // The next start-up keeps Security and the destination, drops System, and
  // tells a TCP sender to the same address apart from the UDP one.
  registry.NoteReconfiguration();
  registry.BeginStartUp();
  EXPECT_TRUE(registry.Snapshot().Readers.empty());
  EXPECT_EQ(registry.Reader("Security"), reader);
  EXPECT_EQ(registry.Destination(TOutputKind::okSyslog, "10.0.0.1:514", "UDP"), udp);
  EXPECT_NE(registry.Destination(TOutputKind::okSyslog, "10.0.0.1:514", "TCP"), udp);
  EXPECT_NE(registry.Destination(TOutputKind::okBeat, "10.0.0.1:514", "UDP"), udp);
  reader->RecordsRead += 2;

  const TMetricsSnapshot snapshot = registry.Snapshot();
  ASSERT_EQ(snapshot.Readers.size(), 1u);
  EXPECT_EQ(snapshot.Readers[0].Reader, "Security");
  EXPECT_EQ(snapshot.Readers[0].RecordsRead, 7u);
  ASSERT_EQ(snapshot.Destinations.size(), 3u);
  EXPECT_EQ(snapshot.Destinations[0].Sent, 3u);
  EXPECT_EQ(snapshot.Destinations[0].Source, udp.get());
  EXPECT_EQ(snapshot.ConfigGeneration, 2u);
  EXPECT_EQ(snapshot.Reconfigurations, 1u);
  EXPECT_EQ(snapshot.State, TPipelineState::psStarting);
}

TEST(MetricsRegistryTest, ProbesFillTheSnapshotUntilRemoved) {
  TMetricsRegistry registry;
  registry.BeginStartUp();
  auto counters = registry.Destination(TOutputKind::okBeat, "http://h:9200", "HTTP");
  int owner = 0;
  registry.AddProbe(&owner, [&](TMetricsSnapshot& ASnapshot) {
    for (TDestinationFigures& figures : ASnapshot.Destinations)
      if (figures.Source == counters.get()) figures.Queued = 42;
    ASnapshot.Processor.InboundQueueDepth = 7;
  });
  TMetricsSnapshot snapshot = registry.Snapshot();
  EXPECT_EQ(snapshot.Destinations.at(0).Queued, 42u);
  EXPECT_EQ(snapshot.Processor.InboundQueueDepth, 7u);
  registry.RemoveProbe(&owner);
  snapshot = registry.Snapshot();
  EXPECT_EQ(snapshot.Destinations.at(0).Queued, 0u);
  EXPECT_EQ(snapshot.Processor.InboundQueueDepth, 0u);
}

TEST(DestinationCountersTest, FailuresKeepTheLastErrorAndRefusalsByABoundedSetOfTypes) {
  TDestinationCounters counters;
  counters.NoteAttempt("Connect Failed. Connection refused");
  EXPECT_EQ(counters.Connected.load(), 0);
  EXPECT_EQ(counters.LastError().Text, "Connect Failed. Connection refused");
  EXPECT_GT(counters.LastError().Time, 1.6e9);
  // Success sets the gauge and leaves the last error to be seen.
  counters.NoteAttempt("");
  EXPECT_EQ(counters.Connected.load(), 1);
  EXPECT_EQ(counters.LastError().Text, "Connect Failed. Connection refused");

  counters.NoteRejected("mapper_parsing_exception");
  counters.NoteRejected("mapper_parsing_exception", 2);
  counters.NoteRejected("");
  // A receiver that names a new type for every document cannot grow the map
  // without bound.
  for (int i = 0; i < 1000; ++i) counters.NoteRejected("type" + std::to_string(i));
  const auto rejected = counters.Rejected();
  EXPECT_EQ(rejected.at("mapper_parsing_exception"), 3u);
  EXPECT_EQ(rejected.at("unknown"), 1u);
  EXPECT_LE(rejected.size(), 65u);
  uint64_t total = 0;
  for (const auto& [type, count] : rejected) total += count;
  EXPECT_EQ(total, 1004u);
}

}  // namespace
}  // namespace zor
