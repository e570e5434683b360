#pragma once

#include <string>

namespace zor {

// Folder choices from the command line; empty means "use the default".
struct TPathOverrides {
  std::string ProgramData;  // the common application data folder
  std::string Home;         // the program folder
  std::string LogDir;       // the log folder
  std::string EventLogDir;  // the event log root
};

// The process-wide folders and files of the service. No member ends in "/".
struct TServicePaths {
  std::string CommonAppDataDir;  // --programdata, else $PROGRAMDATA, else /var/lib
  std::string SvcConfigDir;      // CommonAppDataDir/Velmora/WinEvtSvc/Svc
  std::string BookmarkDir;       // SvcConfigDir/BookMarks
  std::string SvcConfigFile;     // SvcConfigDir/SvcConfig.json
  std::string ProgramFile;       // the running executable
  std::string HomeDir;           // --home, else the executable's folder
  std::string LogDir;            // --log-dir, else HomeDir/Log
  std::string EventLogDir;       // --eventlog-dir, else SvcConfigDir/EventLogs
};

// Works the paths out from the overrides, the environment and the location of
// the executable. Relative overrides are made absolute against the current
// folder. Touches no file.
[[nodiscard]] TServicePaths ResolveServicePaths(const TPathOverrides& AOverrides);

// The process-wide paths. Set once at program start, before any other thread
// runs; read from any thread afterwards. Before SetServicePaths they hold the
// defaults (ResolveServicePaths of no overrides).
void SetServicePaths(const TServicePaths& APaths);
[[nodiscard]] const TServicePaths& ServicePaths();

// Shorthands for the three paths every part of the service uses.
[[nodiscard]] inline const std::string& SvcConfigDir() { return ServicePaths().SvcConfigDir; }
[[nodiscard]] inline const std::string& BookmarkDir() { return ServicePaths().BookmarkDir; }
[[nodiscard]] inline const std::string& SvcConfigFile() { return ServicePaths().SvcConfigFile; }

}  // namespace zor
