#include "service/EventLogManager.h"

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

bool FileExists(const std::string& APath) {
  std::error_code error;
  return std::filesystem::exists(APath, error);
}

// Blank means nothing but blanks and control characters (codes up to 32).
bool IsBlank(const std::string& AValue) {
  for (char c : AValue)
    if (static_cast<unsigned char>(c) > 32) return false;
  return true;
}

void LogFatalLoadError(const std::exception& AError) {
  TFileLogger::SetFileLogLevel(LOG_FATAL);
  LogFatal(TUtilities::Format("Error loading config file %s: %s", SvcConfigFile().c_str(), AError.what()));
}

}  // namespace

TEventLogManager::TEventLogManager() : FCollector(std::make_unique<TCollector>()) {
  const bool configFileExisted = FileExists(SvcConfigFile());
  LoadConfigAndSetLogLevel();
  CreateControlWindow();
  LogStartupBanner(configFileExisted);
  CreateProcessor();
}

TEventLogManager::~TEventLogManager() {
  FControlWindow.reset();
  // TODO(H1): the processor (collection/) is freed here, before the configuration.
  FCollector.reset();
}

void TEventLogManager::LoadConfigAndSetLogLevel() {
  try {
    if (FileExists(SvcConfigFile())) FCollector->LoadFromJson(SvcConfigFile());
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
  if (FileExists(SvcConfigFile())) FCollector->LoadFromJson(SvcConfigFile());
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
  } catch (const std::exception& error) {
    LogError("Error encountered while shutting down: %s", error.what());
  }
  LogInfo("So long... and thanks for all the fish!");
}

void TEventLogManager::WndProc(const TMessage& AMessage) {
  if (AMessage.Message != WM_RECONFIGURE) return;
  LogInfo("Shutting down for reconfigure");
  ShutDown();
  LogInfo("Clear Config");
  FCollector.reset();
  LogInfo("Reload Config");
  LogInfo("Reload Config File %s", SvcConfigFile().c_str());
  try {
    // Here a missing file is an error: someone asked for it to be reloaded.
    FCollector = std::make_unique<TCollector>();
    FCollector->LoadFromJson(SvcConfigFile());
    TFileLogger::SetFileLogLevel(FCollector->LogLevel());
    LogInfo("Starting up for reconfigure");
    if (!StartUp()) LogError("Startup Failed");
  } catch (const std::exception& error) {
    // The pipeline stays down until the next reconfiguration or a restart.
    LogFatalLoadError(error);
    throw;
  }
}

// ---- Pipeline stages ----------------------------------------------------------
//
// The stages below are assembled by the pipeline builders, the Event Log API
// binding, the configuration-server client and the management endpoint. Until
// one of them is part of the build, its method does nothing and start-up goes
// on without it.

void TEventLogManager::CreateProcessor() {
  // TODO(H1): create the processor pool with FCollector->ProcessingThreads()
  // threads, once per process (it survives reconfigurations).
}

bool TEventLogManager::LoadEventLogApi() {
  // TODO(H1): TWinEvt::Load() once per process; on an error LogFatal
  // "Exception loading Winevtapi.dll: %s" and return false.
  return true;
}

void TEventLogManager::StartConfigQuery() {
  if (IsBlank(FCollector->ConfigServer())) {
    LogInfo("No Config Server Found In File");
    return;
  }
  // TODO(H1): log "Config Query Thread Started For Server %s", create the
  // configuration query thread (interval, host, port, user, password,
  // unique id, ctWinEvt, FControlWindow) and start it without waiting.
  LogError("Config server %s is configured, but this build has no configuration server client",
           FCollector->ConfigServer().c_str());
}

void TEventLogManager::StartEndpoint() {
  // TODO(H1): log "Starting %s Endpoint: %s:%d", create the management
  // endpoint from the configuration with FControlWindow and start it; log
  // "Endpoint startted" or "Endpoint failed to start" and go on either way.
}

void TEventLogManager::InitSyslogSenders() {
  // TODO(H1): the syslog sender registry on the processor's outbound queue.
}

void TEventLogManager::InitBeatSenders() {
  // TODO(H1): the beat sender registry on the processor's outbound queue.
}

void TEventLogManager::InitTrainers() {
  // TODO(H1): one trainer per syslog destination.
}

void TEventLogManager::InitSubscribers() {
  // TODO(H1): one subscriber per enabled reader.
}

void TEventLogManager::StopEndpoint() {
  // TODO(H1): stop the management endpoint (nothing when none was created).
}

void TEventLogManager::StopConfigQuery() {
  // TODO(H1): ThreadStop(true, INFINITE) the query thread, free and forget it.
}

void TEventLogManager::StopSubscribers() {
  // TODO(H1): "Shutting down %d subscribers", ThreadStop(true, 5000) each,
  // park the ones that time out, "%d subscribers shut down", empty the list.
}

void TEventLogManager::StopTrainers() {
  // TODO(H1): "Shutting down %d trainers", stop each waiting, empty the list.
}

void TEventLogManager::StopSyslogSenders() {
  // TODO(H1): "Shut down syslog senders", stop the registry waiting, Clear
  // it, free and forget it.
}

void TEventLogManager::StopBeatSenders() {
  // TODO(H1): "Shut down log beat senders", as the syslog senders.
}

}  // namespace zor
