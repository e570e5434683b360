#include "delivery/MetricsRegistry.h"

#include <algorithm>
#include <chrono>

namespace zor {

TMetricsRegistry::TMetricsRegistry()
    : FStartTime(std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count()) {}

std::shared_ptr<TReaderCounters> TMetricsRegistry::Reader(const std::string& AName) {
  TCriticalSectionGuard guard(FLock);
  for (TReaderEntry& entry : FReaders) {
    if (entry.Name != AName) continue;
    entry.Generation = FGeneration;
    return entry.Counters;
  }
  FReaders.push_back(TReaderEntry{AName, std::make_shared<TReaderCounters>(), FGeneration});
  return FReaders.back().Counters;
}

std::shared_ptr<TDestinationCounters> TMetricsRegistry::Destination(TOutputKind AOutput,
                                                                    const std::string& ADestination,
                                                                    const std::string& ATransport) {
  TCriticalSectionGuard guard(FLock);
  for (TDestinationEntry& entry : FDestinations) {
    if (entry.Output != AOutput || entry.Destination != ADestination || entry.Transport != ATransport) continue;
    entry.Generation = FGeneration;
    return entry.Counters;
  }
  FDestinations.push_back(
      TDestinationEntry{AOutput, ADestination, ATransport, std::make_shared<TDestinationCounters>(), FGeneration});
  return FDestinations.back().Counters;
}

void TMetricsRegistry::BeginStartUp() {
  TCriticalSectionGuard guard(FLock);
  ++FGeneration;
  FState = TPipelineState::psStarting;
  FStateReason.clear();
}

void TMetricsRegistry::NoteReconfiguration() {
  TCriticalSectionGuard guard(FLock);
  ++FReconfigurations;
}

void TMetricsRegistry::SetState(TPipelineState AState, std::string AReason) {
  TCriticalSectionGuard guard(FLock);
  FState = AState;
  FStateReason = std::move(AReason);
}

void TMetricsRegistry::AddProbe(const void* AOwner, TProbe AProbe) {
  TCriticalSectionGuard guard(FLock);
  const auto found = std::find_if(FProbes.begin(), FProbes.end(), [&](const auto& AEntry) { return AEntry.first == AOwner; });
  if (found != FProbes.end())
    found->second = std::move(AProbe);
  else
    FProbes.emplace_back(AOwner, std::move(AProbe));
}

void TMetricsRegistry::RemoveProbe(const void* AOwner) {
  TCriticalSectionGuard guard(FLock);
  std::erase_if(FProbes, [&](const auto& AEntry) { return AEntry.first == AOwner; });
}

TMetricsSnapshot TMetricsRegistry::Snapshot() const {
  TMetricsSnapshot snapshot;
  snapshot.StartTime = FStartTime;
  TCriticalSectionGuard guard(FLock);
  snapshot.ConfigGeneration = FGeneration;
  snapshot.Reconfigurations = FReconfigurations;
  snapshot.State = FState;
  snapshot.StateReason = FStateReason;
  constexpr auto relaxed = std::memory_order_relaxed;
  for (const TReaderEntry& entry : FReaders) {
    if (entry.Generation != FGeneration) continue;
    const TReaderCounters& counters = *entry.Counters;
    snapshot.Readers.push_back(TReaderFigures{entry.Name, counters.RecordsRead.load(relaxed),
                                              counters.RecordsExcluded.load(relaxed), counters.Batches.load(relaxed),
                                              counters.BookmarkRecordId.load(relaxed),
                                              counters.RecordsBehind.load(relaxed), counters.LastEventTime.load(relaxed)});
  }
  for (const TDestinationEntry& entry : FDestinations) {
    if (entry.Generation != FGeneration) continue;
    const TDestinationCounters& counters = *entry.Counters;
    TDestinationFigures figures;
    figures.Output = entry.Output;
    figures.Destination = entry.Destination;
    figures.Transport = entry.Transport;
    figures.Sent = counters.Sent.load(relaxed);
    figures.Retried = counters.Retried.load(relaxed);
    figures.Dropped = counters.Dropped.load(relaxed);
    figures.FailedAttempts = counters.FailedAttempts.load(relaxed);
    figures.Bytes = counters.Bytes.load(relaxed);
    figures.Connected = counters.Connected.load(relaxed) != 0;
    figures.LastStatus = counters.LastStatus.load(relaxed);
    figures.LastError = counters.LastError();
    figures.Rejected = counters.Rejected();
    figures.Source = &counters;
    snapshot.Destinations.push_back(std::move(figures));
  }
  for (const auto& [owner, probe] : FProbes) probe(snapshot);
  return snapshot;
}

}  // namespace zor
