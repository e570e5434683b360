#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "beats/BeatSenders.h"
#include "collection/EventLogMessageProcessor.h"
#include "collection/EventLogSubscriber.h"
#include "config/Collector.h"
#include "core/ParkedThreads.h"
#include "delivery/MetricsRegistry.h"
#include "management/ConfigServiceQuery.h"
#include "management/CurrentConfig.h"
#include "management/EvtSyslogSvcEndPoint.h"
#include "platform/ControlWindow.h"
#include "syslog/SysLogSenders.h"
#include "syslog/SyslogTrainer.h"

namespace zor {

// Builds, starts, reconfigures and stops the pipeline. It does no work of its
// own: it owns the current configuration and the control window, and each
// stage of the pipeline is started and stopped by one small private method.
//
// Threads: created, used and destroyed on the service thread, whose message
// loop runs WndProc (WM_RECONFIGURE). StartUp, ShutDown and WndProc are not
// re-entrant; the host delivers the stop control on the same thread, so a
// stop never overlaps a reconfiguration. The manager takes no lock.
//
// Ownership: the manager owns the current TCollector (replaced whole on each
// reconfiguration), its control window, the processor (one per process: its
// queues, and whatever is queued in them, survive reconfigurations), and the
// pipeline of the current start-up: the syslog sender registry, the
// subscribers and the trainers. Other threads get the window and the
// processor as borrowed pointers and must be stopped (ShutDown) before the
// manager goes.
class TEventLogManager {
 public:
  // Loads the configuration (when the file exists), sets the log level,
  // creates BookmarkDir, the control window and the processor, and logs the
  // start-up lines. Throws when the configuration cannot be loaded (the level
  // is then LOG_FATAL and the error logged).
  TEventLogManager();
  // Releases the control window, the processor and the configuration. Does
  // not call ShutDown.
  ~TEventLogManager();
  TEventLogManager(const TEventLogManager&) = delete;
  TEventLogManager& operator=(const TEventLogManager&) = delete;

  // Reloads the file (when it exists) and builds and starts the pipeline.
  // False when the pipeline did not start.
  [[nodiscard]] bool StartUp();
  // Stops and releases the pipeline; never throws.
  void ShutDown();

  // Where WM_RECONFIGURE is posted; null when it could not be created.
  [[nodiscard]] TControlWindow* ControlWindow() const { return FControlWindow.get(); }
  // The configuration of the pipeline's current start-up; service thread only.
  [[nodiscard]] const TCollector& Collector() const { return *FCollector; }
  // The owner of the current configuration, which other threads read and
  // change (the management endpoint, the configuration-server client).
  [[nodiscard]] TCurrentConfig& CurrentConfig() { return *FConfig; }
  // The counters of the readers and senders, which the endpoint reads.
  [[nodiscard]] const TMetricsRegistry& Metrics() const { return *FMetrics; }

 private:
  // The control window's handler: WM_RECONFIGURE stops the pipeline, reloads
  // the file and starts again. Rethrows a load failure to the message loop.
  void WndProc(const TMessage& AMessage);

  // The start-up stages, without the bookkeeping of StartUp.
  [[nodiscard]] bool StartPipeline();
  void LoadConfigAndSetLogLevel();
  void CreateControlWindow();
  void LogStartupBanner(bool AConfigFileExisted);

  // ---- Pipeline stages ------------------------------------------------------
  // Each is the one place where its stage is built or torn down.
  void CreateProcessor();
  [[nodiscard]] bool LoadEventLogApi();
  void StartConfigQuery();
  void StartEndpoint();
  void InitSyslogSenders();
  void InitBeatSenders();
  void InitTrainers();
  void InitSubscribers();
  void StopEndpoint();
  void StopConfigQuery();
  void StopSubscribers();
  void StopTrainers();
  void StopSyslogSenders();
  void StopBeatSenders();

  // First, so that it goes last: every reader and sender counts in it.
  const std::unique_ptr<TMetricsRegistry> FMetrics = std::make_unique<TMetricsRegistry>();
  std::unique_ptr<TControlWindow> FControlWindow;
  // Created after the control window, which it posts WM_RECONFIGURE to.
  std::unique_ptr<TCurrentConfig> FConfig;
  // The snapshot the pipeline of the current start-up was built from.
  std::shared_ptr<const TCollector> FCollector;
  std::unique_ptr<TEventLogMessageProcessor> FProcessor;
  TWinEvt* FWinEvt = nullptr;  // process-wide, never freed
  // A new one at every start-up, with that start-up's settings.
  std::unique_ptr<TConfigServiceQuery> FConfigQuery;
  std::unique_ptr<TEvtSyslogSvcEndPoint> FEndPoint;
  std::unique_ptr<TSysLogSenders> FSysLogSenders;
  std::unique_ptr<TBeatSenders> FBeatSenders;
  // Created on first use and kept; emptied by ShutDown.
  std::optional<std::vector<std::unique_ptr<TEventLogSubscriber>>> FSubscribers;
  std::optional<std::vector<std::unique_ptr<TSyslogTrainer>>> FTrainers;
  // Subscribers that did not stop in time; freed once their threads end.
  TParkedThreads FParkedSubscribers;
};

}  // namespace zor
