#include "platform/ServicePaths.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace zor {

namespace {

std::string Absolute(const std::string& APath) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(APath, error);
  if (error) path = APath;
  std::string text = path.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

std::string Environment(const char* AName) {
  const char* value = std::getenv(AName);
  return value == nullptr ? std::string() : std::string(value);
}

std::string ExecutablePath() {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

TServicePaths& Current() {
  static TServicePaths paths = ResolveServicePaths({});
  return paths;
}

}  // namespace

TServicePaths ResolveServicePaths(const TPathOverrides& AOverrides) {
  TServicePaths paths;
  std::string programData = AOverrides.ProgramData;
  if (programData.empty()) programData = Environment("PROGRAMDATA");
  if (programData.empty()) programData = "/var/lib";
  paths.CommonAppDataDir = Absolute(programData);
  paths.SvcConfigDir = paths.CommonAppDataDir + "/Velmora/WinEvtSvc/Svc";
  paths.BookmarkDir = paths.SvcConfigDir + "/BookMarks";
  paths.SvcConfigFile = paths.SvcConfigDir + "/SvcConfig.json";

  paths.ProgramFile = ExecutablePath();
  if (!AOverrides.Home.empty())
    paths.HomeDir = Absolute(AOverrides.Home);
  else
    paths.HomeDir = Absolute(std::filesystem::path(paths.ProgramFile).parent_path().string());
  paths.LogDir = AOverrides.LogDir.empty() ? paths.HomeDir + "/Log" : Absolute(AOverrides.LogDir);
  paths.EventLogDir =
      AOverrides.EventLogDir.empty() ? paths.SvcConfigDir + "/EventLogs" : Absolute(AOverrides.EventLogDir);
  return paths;
}

void SetServicePaths(const TServicePaths& APaths) { Current() = APaths; }

const TServicePaths& ServicePaths() { return Current(); }

}  // namespace zor
