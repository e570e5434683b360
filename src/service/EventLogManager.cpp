#include "service/EventLogManager.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/MessageQueue.h"
#include "platform/PlatformError.h"
#include "platform/ServicePaths.h"
#include "support/FileLogger.h"
#include "support/Log.h"
#include "support/Utilities.h"

namespace zor {

namespace {

// Stops a sender registry and its senders, puts back what they did not send
// at the head of its outbound queue (Clear), and frees it. The readers'
// backlog probe, which reads the registries, goes first.
template <class TRegistry>
void StopRegistry(std::unique_ptr<TRegistry>& ARegistry, const char* ALine, TEventLogMessageProcessor& AProcessor,
                  TMetricsRegistry& AMetrics) {
  if (!ARegistry) return;
  LogInfo("%s", ALine);
  AProcessor.SetSyslogBacklogProbe(nullptr);
  AMetrics.RemoveProbe(ARegistry.get());
  (void)ARegistry->ThreadStop(true, INFINITE);
  ARegistry->Clear();
  ARegistry.reset();
}

bool FileExists(const std::string& APath) {
  std::error_code error;
  return std::filesystem::exists(APath, error);
}

// Blank means nothing but blanks and control characters (codes up to 32).
void LogFatalLoadError(const std::exception& AError) {
  TFileLogger::SetFileLogLevel(LOG_FATAL);
  LogFatal(TUtilities::Format("Error loading config file %s: %s", SvcConfigFile().c_str(), AError.what()));
}

}  // namespace

TEventLogManager::TEventLogManager()
    : FConfig(std::make_unique<TCurrentConfig>(SvcConfigFile(), nullptr)), FCollector(FConfig->Snapshot()) {
  const bool configFileExisted = FileExists(SvcConfigFile());
  LoadConfigAndSetLogLevel();
  CreateControlWindow();
  LogStartupBanner(configFileExisted);
  CreateProcessor();
}

TEventLogManager::~TEventLogManager() {
  FMetrics->RemoveProbe(FProcessor.get());
  FConfig->SetControlWindow(nullptr);
  FControlWindow.reset();
  // The members go in reverse order of declaration: parked subscribers (which
  // may still feed the processor) first, then the processor, which joins its
  // threads before its queues go, and the configuration last.
}

void TEventLogManager::LoadConfigAndSetLogLevel() {
  try {
    FCollector = FConfig->Load(false);
    // The first call creates and starts the logger, before any other worker.
    TFileLogger::SetFileLogLevel(FCollector->LogLevel());
    if (!FileExists(BookmarkDir())) std::filesystem::create_directories(BookmarkDir());
  } catch (const std::exception& error) {
    LogFatalLoadError(error);
    throw;
  }
}

void TEventLogManager::CreateControlWindow() {
  try {
    FControlWindow = std::make_unique<TControlWindow>([this](const TMessage& AMessage) { WndProc(AMessage); });
    FConfig->SetControlWindow(FControlWindow.get());
  } catch (const EPlatformError& error) {
    // The service runs on; reconfiguration messages never arrive.
    LogError("Initialise Message Handler failed with error %d: %s", error.ErrorCode(), error.what());
  }
}

void TEventLogManager::LogStartupBanner(bool AConfigFileExisted) {
  int32_t major = 0, minor = 0, release = 0, build = 0;
  (void)TUtilities::GetVersionInfo(ServicePaths().ProgramFile, major, minor, release, build);
  LogInfo("Application Started. Version: %d.%d.%d.%d", major, minor, release, build);
  LogInfo("How Are You Gentlemen?");
  LogInfo("All Your Base Are Belong To Us!");
  if (AConfigFileExisted)
    LogInfo("Config file %s successfully loaded", SvcConfigFile().c_str());
  else
    LogInfo("Config file %s does not exist. Loading default bindings", SvcConfigFile().c_str());
  LogInfo("Log Level Set To %s", TFileLogger::LogLevelString().c_str());
  // The TLS library is linked in from the system, not loaded from the program
  // folder at run time, so there is no library path to point at here.
  if (FCollector->TrainingMode()) {
    LogInfo("Starting In Training Mode");
    LogInfo("Training Mode Msg Interval = %d seconds", FCollector->TrainingMessageInterval());
  }
}

bool TEventLogManager::StartUp() {
  FMetrics->BeginStartUp();
  try {
    if (!StartPipeline()) {
      FMetrics->SetState(TPipelineState::psFailed, "the event log API could not be loaded");
      return false;
    }
  } catch (const std::exception& error) {
    FMetrics->SetState(TPipelineState::psFailed, error.what());
    throw;
  }
  FMetrics->SetState(TPipelineState::psRunning);
  return true;
}

bool TEventLogManager::StartPipeline() {
  FCollector = FConfig->Load(false);
  if (!LoadEventLogApi()) return false;
  StartConfigQuery();
  StartEndpoint();
  InitSyslogSenders();
  InitBeatSenders();
  // Training mode and event collection never run together.
  if (FCollector->TrainingMode())
    InitTrainers();
  else
    InitSubscribers();
  return true;
}

void TEventLogManager::ShutDown() {
  try {
    LogInfo("Stopping Endpoint");
    StopEndpoint();
    StopConfigQuery();
    StopSubscribers();
    StopTrainers();
    StopSyslogSenders();
    StopBeatSenders();
    // Every position the receivers acknowledged before they stopped.
    FProcessor->Bookmarks().SaveAll();
  } catch (const std::exception& error) {
    LogError("Error encountered while shutting down: %s", error.what());
  }
  FMetrics->SetState(TPipelineState::psStopped);
  LogInfo("So long... and thanks for all the fish!");
}

void TEventLogManager::WndProc(const TMessage& AMessage) {
  if (AMessage.Message != WM_RECONFIGURE) return;
  LogInfo("Shutting down for reconfigure");
  FMetrics->NoteReconfiguration();
  ShutDown();
  LogInfo("Clear Config");
  LogInfo("Reload Config");
  LogInfo("Reload Config File %s", SvcConfigFile().c_str());
  try {
    // Here a missing file is an error: someone asked for it to be reloaded.
    FCollector = FConfig->Load(true);
    TFileLogger::SetFileLogLevel(FCollector->LogLevel());
    LogInfo("Starting up for reconfigure");
    if (!StartUp()) LogError("Startup Failed");
  } catch (const std::exception& error) {
    // The pipeline stays down until the next reconfiguration or a restart.
    FMetrics->SetState(TPipelineState::psFailed, error.what());
    LogFatalLoadError(error);
    throw;
  }
}

// ---- Pipeline stages ----------------------------------------------------------
//
// The builders of the senders, subscribers and trainers (InitSyslogSenders,
// InitBeatSenders, InitSubscribers, InitTrainers) are in
// EventLogManagerAssembly.cpp.

void TEventLogManager::CreateProcessor() {
  FProcessor = std::make_unique<TEventLogMessageProcessor>(FCollector->ProcessingThreads());
  TEventLogMessageProcessor* processor = FProcessor.get();
  FMetrics->AddProbe(processor, [processor](TMetricsSnapshot& ASnapshot) {
    TProcessorFigures& figures = ASnapshot.Processor;
    figures.InboundQueueDepth = processor->SignalledMessageQueue().Count();
    figures.OutboundSyslogQueueDepth = processor->OutboundSyslogQueue().Count();
    figures.OutboundBeatQueueDepth = processor->OutboundBeatQueue().Count();
    const TProcessingCounters& counters = processor->Counters();
    figures.BatchSecondsSum = static_cast<double>(counters.BatchNanoseconds.load(std::memory_order_relaxed)) / 1e9;
    figures.BatchCount = counters.Batches.load(std::memory_order_relaxed);
  });
}

bool TEventLogManager::LoadEventLogApi() {
  try {
    if (FWinEvt == nullptr) FWinEvt = TWinEvt::Load();
  } catch (const std::exception& error) {
    LogFatal(TUtilities::Format("Exception loading Winevtapi.dll: %s", error.what()));
    return false;
  }
  return true;
}

void TEventLogManager::StartConfigQuery() {
  const TCollector& settings = *FCollector;
  if (TUtilities::IsBlank(settings.ConfigServer())) {
    LogInfo("No Config Server Found In File");
    return;
  }
  LogInfo("Config Query Thread Started For Server %s", settings.ConfigServer().c_str());
  try {
    TEndpointClientOptions options;
    options.VerifyCertificate = settings.ConfigServerVerifyCertificate();
    options.CAFile = settings.ConfigServerCAFile();
    FConfigQuery = std::make_unique<TConfigServiceQuery>(
        static_cast<int32_t>(std::min<int64_t>(int64_t{settings.ConfigServerCheckInterval()} * 60, INT32_MAX)),
        TUtilities::GetURLFromURLString(settings.ConfigServer()),
        TUtilities::GetPortFromURLString(settings.ConfigServer()), settings.ConfigServerUserName(),
        settings.ConfigServerPassword(), TCollector::GetUniqueID(), TCollectorType::ctWinEvt, *FConfig, options);
    if (!FConfigQuery->ThreadStart(false, 0)) LogError("Config Query Thread could not be started");
  } catch (const std::exception& error) {
    // A server address the service cannot use leaves it without queries; the
    // rest of the pipeline starts.
    LogError("Config Query Thread not started for server %s: %s", settings.ConfigServer().c_str(), error.what());
    FConfigQuery.reset();
  }
}

void TEventLogManager::StartEndpoint() {
  const TCollector& settings = *FCollector;
  LogInfo("Starting %s Endpoint: %s:%d", settings.LocalAPIProtocol().c_str(), settings.LocalAPIIP().c_str(),
          settings.LocalAPIPort());
  FEndPoint = std::make_unique<TEvtSyslogSvcEndPoint>(
      settings.LocalAPIIP(), settings.LocalAPIPort(), settings.LocalAPIProtocol(), settings.CertFile(),
      settings.KeyFile(), settings.RootCertFile(), settings.LocalAPIUsername(), settings.LocalAPIPassword(), *FConfig,
      settings.ClientCAFile());
  FEndPoint->SetMetrics(FMetrics.get());
  // The rest of the pipeline starts either way.
  if (FEndPoint->Start())
    LogInfo("Endpoint startted");
  else
    LogInfo("Endpoint failed to start");
}

void TEventLogManager::StopEndpoint() { FEndPoint.reset(); }

void TEventLogManager::StopConfigQuery() {
  if (!FConfigQuery) return;
  (void)FConfigQuery->ThreadStop(true, INFINITE);
  FConfigQuery.reset();
}

void TEventLogManager::StopSubscribers() {
  (void)FParkedSubscribers.Reap();
  if (!FSubscribers) return;
  const int count = static_cast<int>(FSubscribers->size());
  LogInfo("Shutting down %d subscribers", count);
  for (std::unique_ptr<TEventLogSubscriber>& subscriber : *FSubscribers) {
    if (subscriber->ThreadStop(true, 5000)) {
      LogInfo("Subscribers %s shut down", subscriber->ConfigName().c_str());
    } else {
      LogInfo("Subscribers %s shut down timed out", subscriber->ConfigName().c_str());
      FParkedSubscribers.Park(std::move(subscriber));
    }
  }
  LogInfo("%d subscribers shut down", count);
  FSubscribers->clear();
}

void TEventLogManager::StopTrainers() {
  if (!FTrainers) return;
  LogInfo("Shutting down %d trainers", static_cast<int>(FTrainers->size()));
  for (std::unique_ptr<TSyslogTrainer>& trainer : *FTrainers) (void)trainer->ThreadStop(true, INFINITE);
  FTrainers->clear();
}

void TEventLogManager::StopSyslogSenders() {
  StopRegistry(FSysLogSenders, "Shut down syslog senders", *FProcessor, *FMetrics);
}

void TEventLogManager::StopBeatSenders() {
  StopRegistry(FBeatSenders, "Shut down log beat senders", *FProcessor, *FMetrics);
}

}  // namespace zor
