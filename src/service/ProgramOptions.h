#pragma once

#include <string>
#include <vector>

namespace zor {

// Options every command of the program accepts. Empty strings mean "use the
// default" (see platform/ServicePaths for how each default is found).
struct TProgramOptions {
  std::string ProgramData;  // --programdata, else $PROGRAMDATA, else /var/lib
  std::string Home;         // --home: the program folder (Log, index.html, Certs)
  std::string LogDir;       // --log-dir
  std::string EventLogDir;  // --eventlog-dir: the event log root
};

struct TWriteEventArgs {
  std::string Channel;
  std::string Provider;
  unsigned EventId = 0;
  unsigned Level = 4;
  std::vector<std::string> Data;  // NAME=VALUE
  std::string Computer;
};

struct TStatusArgs {
  std::string URL;       // the endpoint ("https://host:port"); empty: the configuration's
  std::string UserName;  // empty: the configuration's (when URL is empty)
  std::string Password;
  bool Insecure = false;  // do not check the endpoint's certificate
  std::string CAFile;     // trusted certificates (PEM); empty: the system's
};

// The event log root the options name: --eventlog-dir, else EventLogs in the
// service's data folder (after --programdata).
std::string EventLogRootOf(const TProgramOptions& AOptions);

// Each command returns the process exit status. Errors go to standard error.
int RunService(const TProgramOptions& AOptions);
// AThreads: how many threads decode an .evtx file (1: the calling thread
// alone; 0: one per core where the file is large enough to gain from them).
int RunDump(const TProgramOptions& AOptions, const std::string& ASource, const std::string& AQuery, unsigned AThreads);
int RunChannels(const TProgramOptions& AOptions);
int RunWriteEvent(const TProgramOptions& AOptions, const TWriteEventArgs& AArgs);
int RunCheckConfig(const TProgramOptions& AOptions, const std::string& AFile);
int RunEncryptPassword();
// Exit status 0 while the service's pipeline runs, 1 when it does not, 2 when
// the endpoint cannot be asked.
int RunStatus(const TProgramOptions& AOptions, const TStatusArgs& AArgs);
int RunInstall(const TProgramOptions& AOptions);
int RunUninstall(const TProgramOptions& AOptions);

}  // namespace zor
