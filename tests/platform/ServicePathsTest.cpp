#include "platform/ServicePaths.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

namespace zor {
namespace {

TPathOverrides Overrides(std::string AProgramData, std::string AHome, std::string ALogDir = "",
                         std::string AEventLogDir = "") {
  TPathOverrides overrides;
  overrides.ProgramData = std::move(AProgramData);
  overrides.Home = std::move(AHome);
  overrides.LogDir = std::move(ALogDir);
  overrides.EventLogDir = std::move(AEventLogDir);
  return overrides;
}

// Sets or clears PROGRAMDATA for one test and puts the old value back.
class TScopedProgramData {
 public:
  explicit TScopedProgramData(const char* AValue) {
    if (const char* old = getenv("PROGRAMDATA")) FOld = old;
    AValue ? setenv("PROGRAMDATA", AValue, 1) : unsetenv("PROGRAMDATA");
  }
  ~TScopedProgramData() { FOld ? setenv("PROGRAMDATA", FOld->c_str(), 1) : unsetenv("PROGRAMDATA"); }

 private:
  std::optional<std::string> FOld;
};

TEST(ServicePathsTest, DataFolderComesFromOptionThenEnvironmentThenDefault) {
  struct Case {
    const char* Option;
    const char* Environment;
    const char* Expected;
  };
  const Case cases[] = {
      {"/opt/data/", "/env/data", "/opt/data"},
      {"", "/env/data", "/env/data"},
      {"", nullptr, "/var/lib"},
      {"", "", "/var/lib"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.Expected);
    TScopedProgramData environment(test.Environment);
    const TServicePaths paths = ResolveServicePaths(Overrides(test.Option, ""));
    EXPECT_EQ(paths.CommonAppDataDir, test.Expected);
    EXPECT_EQ(paths.SvcConfigDir, std::string(test.Expected) + "/Velmora/WinEvtSvc/Svc");
    EXPECT_EQ(paths.BookmarkDir, std::string(test.Expected) + "/Velmora/WinEvtSvc/Svc/BookMarks");
    EXPECT_EQ(paths.SvcConfigFile, std::string(test.Expected) + "/Velmora/WinEvtSvc/Svc/SvcConfig.json");
    EXPECT_EQ(paths.EventLogDir, std::string(test.Expected) + "/Velmora/WinEvtSvc/Svc/EventLogs");
  }
}

TEST(ServicePathsTest, ProgramFoldersDefaultToTheExecutableAndFollowOverrides) {
  const TServicePaths defaults = ResolveServicePaths({});
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(defaults.ProgramFile, self.string());
  EXPECT_EQ(defaults.HomeDir, self.parent_path().string());
  EXPECT_EQ(defaults.LogDir, self.parent_path().string() + "/Log");

  const TServicePaths home = ResolveServicePaths(Overrides("", "/srv/zor/"));
  EXPECT_EQ(home.HomeDir, "/srv/zor");
  EXPECT_EQ(home.LogDir, "/srv/zor/Log");

  const TServicePaths all = ResolveServicePaths(Overrides("/d", "/h", "/logs/here", "/evt"));
  EXPECT_EQ(all.LogDir, "/logs/here");
  EXPECT_EQ(all.EventLogDir, "/evt");

  const TServicePaths relative = ResolveServicePaths(Overrides("", "some/where/../here"));
  EXPECT_EQ(relative.HomeDir, (std::filesystem::current_path() / "some/here").string());
}

}  // namespace
}  // namespace zor
