#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "delivery/DestinationCounters.h"
#include "delivery/MetricsSnapshot.h"
#include "delivery/ReaderCounters.h"
#include "platform/CriticalSection.h"
#include "platform/ThreadAnnotations.h"

namespace zor {

// The process's counters, by reader and by destination, and the probes that
// add what only the running pipeline knows (queue depths). The pipeline's
// owner creates it once per process; readers and senders keep their counters
// in the objects it hands out, and the management endpoint reads Snapshot.
//
// Counters are kept for the life of the registry: a reader or destination of
// the next start-up with the same name (and, for destinations, output and
// transport) gets the same object, so counts never go back. Snapshot lists
// only those asked for since the last BeginStartUp.
//
// Threads: every method may be called from any thread. FLock guards the
// tables and the probes, never the counting itself; Snapshot runs the probes
// under it, so a probe is never called after RemoveProbe returned.
//
// Ownership: counters are shared with the workers that count in them
// (shared_ptr: a worker parked after a timed-out stop may outlive a
// reconfiguration, and tests make workers without a registry).
class TMetricsRegistry {
 public:
  // Adds figures to a snapshot being made (under the registry's lock: it
  // must not call back into the registry).
  using TProbe = std::function<void(TMetricsSnapshot&)>;

  TMetricsRegistry();
  TMetricsRegistry(const TMetricsRegistry&) = delete;
  TMetricsRegistry& operator=(const TMetricsRegistry&) = delete;

  // The counters of reader AName (exact name), made on first use.
  [[nodiscard]] std::shared_ptr<TReaderCounters> Reader(const std::string& AName) EXCLUDES(FLock);
  // The counters of a destination, made on first use.
  [[nodiscard]] std::shared_ptr<TDestinationCounters> Destination(TOutputKind AOutput, const std::string& ADestination,
                                                                   const std::string& ATransport) EXCLUDES(FLock);

  // A new start-up begins: the generation goes up, and Snapshot forgets the
  // readers and destinations until they are asked for again.
  void BeginStartUp() EXCLUDES(FLock);
  // A reconfiguration was asked for and handled.
  void NoteReconfiguration() EXCLUDES(FLock);
  void SetState(TPipelineState AState, std::string AReason = std::string()) EXCLUDES(FLock);

  // AOwner identifies the probe for RemoveProbe (a probe with that owner is
  // replaced).
  void AddProbe(const void* AOwner, TProbe AProbe) EXCLUDES(FLock);
  void RemoveProbe(const void* AOwner) EXCLUDES(FLock);

  [[nodiscard]] TMetricsSnapshot Snapshot() const EXCLUDES(FLock);

 private:
  struct TReaderEntry {
    std::string Name;
    std::shared_ptr<TReaderCounters> Counters;
    uint64_t Generation = 0;
  };
  struct TDestinationEntry {
    TOutputKind Output;
    std::string Destination;
    std::string Transport;
    std::shared_ptr<TDestinationCounters> Counters;
    uint64_t Generation = 0;
  };

  const double FStartTime;
  mutable TCriticalSection FLock;
  std::vector<TReaderEntry> FReaders GUARDED_BY(FLock);
  std::vector<TDestinationEntry> FDestinations GUARDED_BY(FLock);
  std::vector<std::pair<const void*, TProbe>> FProbes GUARDED_BY(FLock);
  uint64_t FGeneration GUARDED_BY(FLock) = 0;
  uint64_t FReconfigurations GUARDED_BY(FLock) = 0;
  TPipelineState FState GUARDED_BY(FLock) = TPipelineState::psStarting;
  std::string FStateReason GUARDED_BY(FLock);
};

}  // namespace zor
