// The service command (no subcommand): run the service in the foreground; and
// --install / --uninstall of its systemd unit.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/InstanceLock.h"
#include "platform/ServiceHost.h"
#include "platform/ServicePaths.h"
#include "platform/SystemdUnit.h"
#include "service/ProgramOptions.h"
#include "service/svcZORWinEvtExporter.h"
#include "support/FileLogger.h"

namespace zor {

namespace {

constexpr const char* InstanceLockFile = "zor-event-exporter.lock";

TPathOverrides Overrides(const TProgramOptions& AOptions) {
  TPathOverrides overrides;
  overrides.ProgramData = AOptions.ProgramData;
  overrides.Home = AOptions.Home;
  overrides.LogDir = AOptions.LogDir;
  overrides.EventLogDir = AOptions.EventLogDir;
  return overrides;
}

const TServicePaths& UsePaths(const TProgramOptions& AOptions) {
  SetServicePaths(ResolveServicePaths(Overrides(AOptions)));
  return ServicePaths();
}

// Creates AFolder when missing and checks that this process may write in it.
// An empty optional when all is well, else the reason.
std::optional<std::string> PrepareFolder(const std::string& AFolder) {
  std::error_code error;
  std::filesystem::create_directories(AFolder, error);
  if (error) return error.message();
  if (access(AFolder.c_str(), W_OK | X_OK) != 0) return std::string(std::strerror(errno));
  return std::nullopt;
}

}  // namespace

int RunService(const TProgramOptions& AOptions) {
  const TServicePaths& paths = UsePaths(AOptions);

  // Everything that can keep the service from running at all is checked here,
  // before a thread starts or a line is logged.
  if (const auto problem = PrepareFolder(paths.SvcConfigDir)) {
    std::fprintf(stderr, "Cannot use the data folder %s: %s\n", paths.SvcConfigDir.c_str(), problem->c_str());
    return 1;
  }
  std::optional<TInstanceLock> instance;
  try {
    instance.emplace(paths.SvcConfigDir, InstanceLockFile);
  } catch (const EPlatformError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  if (const auto problem = PrepareFolder(paths.LogDir)) {
    std::fprintf(stderr, "Cannot use the log folder %s: %s\n", paths.LogDir.c_str(), problem->c_str());
    return 1;
  }

  TsvcZORWinEvtExporter service;
  int status = 0;
  try {
    TServiceHost(service).Run();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "The service failed to start: %s\n", error.what());
    status = 1;
  }
  // Write every line still queued before the process goes.
  TFileLogger::CloseLog();
  return status;
}

int RunInstall(const TProgramOptions& AOptions) {
  const TServicePaths& paths = UsePaths(AOptions);
  TSystemdUnit unit;
  unit.Name = TsvcZORWinEvtExporter::Name;
  unit.Description = TsvcZORWinEvtExporter::Description;
  unit.DisplayName = TsvcZORWinEvtExporter::DisplayName;
  unit.Command.push_back(paths.ProgramFile);
  // The folders given on this command line are the service's folders too.
  const std::pair<const char*, const std::string*> options[] = {{"--programdata", &AOptions.ProgramData},
                                                                {"--home", &AOptions.Home},
                                                                {"--log-dir", &AOptions.LogDir},
                                                                {"--eventlog-dir", &AOptions.EventLogDir}};
  const std::string* resolved[] = {&paths.CommonAppDataDir, &paths.HomeDir, &paths.LogDir, &paths.EventLogDir};
  for (size_t i = 0; i < std::size(options); ++i) {
    if (options[i].second->empty()) continue;
    unit.Command.push_back(options[i].first);
    unit.Command.push_back(*resolved[i]);
  }
  try {
    const std::string path = InstallSystemdUnit(unit);
    std::printf("Installed %s as %s\n", unit.Name.c_str(), path.c_str());
    std::printf("Run \"systemctl daemon-reload && systemctl enable --now %s\" to start it.\n", unit.Name.c_str());
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Cannot install the service: %s\n", error.what());
    return 1;
  }
}

int RunUninstall(const TProgramOptions&) {
  try {
    const std::string path = UninstallSystemdUnit(TsvcZORWinEvtExporter::Name);
    std::printf("Removed %s\n", path.c_str());
    std::printf("Run \"systemctl daemon-reload\" to forget it; a running service is not stopped.\n");
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Cannot uninstall the service: %s\n", error.what());
    return 1;
  }
}

}  // namespace zor
