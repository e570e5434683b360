// The service run as the real program: start-up, stop, reconfiguration,
// refusals, and installing its systemd unit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/ServiceFolders.h"
#include "support/TempDir.h"
#include "support/Utilities.h"
#include "support/WaitUntil.h"

namespace zor {
namespace {

using test::TChildProcess;
using test::ReadFile;
using test::TempDir;
using test::WaitUntil;

// A service with its own data and program folders under one temporary folder.
class ServiceProcessTest : public testing::Test, protected test::TServiceFolders {};

// Whether process APid blocks ASignal (its main thread's mask).
bool Blocks(pid_t APid, int ASignal) {
  std::ifstream status("/proc/" + std::to_string(APid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("SigBlk:")) return (std::stoull(line.substr(7), nullptr, 16) >> (ASignal - 1) & 1) != 0;
  return false;
}

TEST_F(ServiceProcessTest, StartsWithDefaultsAndStopsCleanlyOnTermOrInterrupt) {
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    std::filesystem::remove(LogFile());
    auto service = Start();
    ASSERT_TRUE(LogHas("Event log manager started")) << service->StandardError();
    EXPECT_TRUE(LogInOrder({" INFO  - Application Started. Version: 1.0.0.0\r\n",
                            " INFO  - How Are You Gentlemen?\r\n",
                            " INFO  - All Your Base Are Belong To Us!\r\n",
                            " INFO  - Config file " + ConfigFile().string() +
                                " does not exist. Loading default bindings\r\n",
                            " INFO  - Log Level Set To LOG_INFO\r\n",
                            " INFO  - No Config Server Found In File\r\n",
                            " INFO  - Init Syslog Senders\r\n",
                            " INFO  - No Readers in Config. No Senders to Init\r\n",
                            " INFO  - No Readers in Config. No Event Log Subscriptions to Create\r\n",
                            " INFO  - Event log manager started\r\n"}));
    EXPECT_TRUE(std::filesystem::is_directory(SvcDir() / "BookMarks"));
    EXPECT_FALSE(std::filesystem::exists(ConfigFile())) << "defaults are not written back";

    service->Signal(signal);
    EXPECT_EQ(service->WaitForExit(), 0) << service->StandardError();
    EXPECT_TRUE(LogInOrder({"Event log manager started", " INFO  - Shuting down event log manager\r\n",
                            " INFO  - Stopping Endpoint\r\n",
                            " INFO  - So long... and thanks for all the fish!\r\n"}));
  }
}

TEST_F(ServiceProcessTest, HangupReconfiguresFromTheFileAndAMissingFileLeavesThePipelineDown) {
  WriteConfig("{\"logLevel\": 4}");
  auto service = Start();
  ASSERT_TRUE(LogHas("Event log manager started")) << service->StandardError();
  EXPECT_TRUE(LogInOrder({"Config file " + ConfigFile().string() + " successfully loaded"}));

  service->Signal(SIGHUP);
  ASSERT_TRUE(LogHas("Starting up for reconfigure"));
  EXPECT_TRUE(LogInOrder({"Event log manager started", " INFO  - Shutting down for reconfigure\r\n",
                          "So long... and thanks for all the fish!", " INFO  - Clear Config\r\n",
                          " INFO  - Reload Config\r\n",
                          " INFO  - Reload Config File " + ConfigFile().string() + "\r\n",
                          " INFO  - Starting up for reconfigure\r\n", " INFO  - No Config Server Found In File\r\n"}));

  // Here a missing file is an error; the service stays up with its pipeline down.
  std::filesystem::remove(ConfigFile());
  service->Signal(SIGHUP);
  ASSERT_TRUE(LogHas(" FATAL - Error loading config file " + ConfigFile().string() + ": Config File " +
                     ConfigFile().string() + " does not exist"));
  EXPECT_FALSE(service->ExitStatus());

  service->Signal(SIGTERM);
  EXPECT_EQ(service->WaitForExit(), 0) << service->StandardError();
}

TEST_F(ServiceProcessTest, AStopOrHangupThatComesWhileTheServiceStartsIsTakenOnceItRuns) {
  WriteConfig("{}");
  for (int signal : {SIGHUP, SIGTERM}) {
    SCOPED_TRACE(signal);
    std::filesystem::remove(LogFile());
    auto service = Start();
    // Sent as soon as the program holds it, well before its pipeline runs.
    ASSERT_TRUE(WaitUntil([&] { return Blocks(service->Pid(), signal) || service->ExitStatus(); }));
    service->Signal(signal);
    if (signal == SIGHUP) {
      ASSERT_TRUE(LogHas("Starting up for reconfigure")) << service->StandardError();
      EXPECT_TRUE(LogInOrder({"Event log manager started", "Shutting down for reconfigure"}));
      service->Signal(SIGTERM);
    }
    EXPECT_EQ(service->WaitForExit(), 0) << service->StandardError();
    EXPECT_TRUE(LogInOrder({"Event log manager started", "So long... and thanks for all the fish!"}));
  }
}

TEST_F(ServiceProcessTest, TrainingModeIsAnnouncedAndABlankConfigServerCountsAsNone) {
  WriteConfig("{\"trainingMode\": \"True\", \"trainingMsgInterval\": 30, \"configServer\": \" \\t \"}");
  auto service = Start();
  ASSERT_TRUE(LogHas("Event log manager started")) << service->StandardError();
  EXPECT_TRUE(LogInOrder({" INFO  - Log Level Set To LOG_INFO\r\n", " INFO  - Starting In Training Mode\r\n",
                          " INFO  - Training Mode Msg Interval = 30 seconds\r\n",
                          " INFO  - No Config Server Found In File\r\n"}));
  service->Signal(SIGTERM);
  EXPECT_EQ(service->WaitForExit(), 0) << service->StandardError();
}

TEST_F(ServiceProcessTest, ASecondInstanceOnTheSameDataFolderIsRefused) {
  auto first = Start();
  ASSERT_TRUE(LogHas("Event log manager started")) << first->StandardError();
  auto second = Start();
  EXPECT_EQ(second->WaitForExit(), 1);
  EXPECT_NE(second->StandardError().find("Another instance of the service is already running on " + SvcDir().string()),
            std::string::npos)
      << second->StandardError();
  EXPECT_FALSE(first->ExitStatus()) << "the first one runs on";
  first->Signal(SIGTERM);
  EXPECT_EQ(first->WaitForExit(), 0);
}

TEST_F(ServiceProcessTest, FoldersThatCannotBeUsedStopTheStartWithAClearError) {
  // A plain file where a folder must be: refused even for root.
  std::ofstream(FRoot / "plain") << "x";
  struct Case {
    std::vector<std::string> Arguments;
    std::string Expected;
  };
  const std::string home = (FRoot / "home").string();
  const Case cases[] = {
      {{"--programdata", (FRoot / "plain/data").string(), "--home", home},
       "Cannot use the data folder " + (FRoot / "plain/data").string() + "/Velmora/WinEvtSvc/Svc: "},
      {{"--programdata", DataDir().string(), "--home", home, "--log-dir", (FRoot / "plain/log").string()},
       "Cannot use the log folder " + (FRoot / "plain/log").string() + ": "},
  };
  std::vector<Case> all(std::begin(cases), std::end(cases));
  // A folder this account may not write in (root may write anywhere).
  if (geteuid() != 0) {
    const std::filesystem::path locked = FRoot / "locked/Velmora/WinEvtSvc/Svc";
    std::filesystem::create_directories(locked);
    ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    all.push_back({{"--programdata", (FRoot / "locked").string(), "--home", home},
                   "Cannot use the data folder " + locked.string() + ": Permission denied"});
  }
  for (const Case& test : all) {
    SCOPED_TRACE(test.Expected);
    std::string error;
    const std::vector<std::string>& arguments = test.Arguments;
    EXPECT_EQ(test::RunProgram(ZOR_BINARY, arguments, FRoot.Path(), nullptr, &error), 1);
    EXPECT_NE(error.find(test.Expected), std::string::npos) << error;
  }
}

TEST_F(ServiceProcessTest, AnUnreadableConfigurationFailsTheStart) {
  WriteConfig("[1, 2]");
  std::string error;
  EXPECT_EQ(test::RunProgram(ZOR_BINARY, Folders(), FRoot.Path(), nullptr, &error), 1);
  EXPECT_NE(error.find("The service failed to start: "), std::string::npos) << error;
  EXPECT_TRUE(LogInOrder({" FATAL - Error loading config file " + ConfigFile().string() + ": "}));
  EXPECT_EQ(Log().find("Event log manager started"), std::string::npos);
}

TEST_F(ServiceProcessTest, AProgramFileOthersCanWriteIsNotStarted) {
  const std::filesystem::path copy = FRoot / "bin/zor-event-exporter";
  std::filesystem::create_directories(copy.parent_path());
  std::filesystem::copy_file(ZOR_BINARY, copy);
  ASSERT_EQ(chmod(copy.c_str(), 0775), 0);
  std::string error;
  EXPECT_EQ(test::RunProgram(copy.string(), Folders(), FRoot.Path(), nullptr, &error), 1);
  EXPECT_NE(error.find(copy.string() + " is writable by group or others (mode 0775); refusing to start"),
            std::string::npos)
      << error;
  EXPECT_EQ(Log().find("Event log manager started"), std::string::npos);
}

TEST_F(ServiceProcessTest, InstallAndUninstallWriteAndRemoveTheUnit) {
  const std::filesystem::path units = FRoot / "units";
  std::filesystem::create_directories(units);
  const std::vector<std::pair<std::string, std::string>> environment{{"ZOR_SYSTEMD_UNIT_DIR", units.string()}};
  const std::filesystem::path unit = units / "svcZORWinEvtExporter.service";
  auto run = [&](std::vector<std::string> AArguments, std::string* AOutput = nullptr) {
    return test::RunProgram(ZOR_BINARY, AArguments, FRoot.Path(), AOutput, nullptr, environment);
  };

  std::string output;
  ASSERT_EQ(run({"--install", "--programdata", DataDir().string()}, &output), 0);
  EXPECT_NE(output.find("Installed svcZORWinEvtExporter as " + unit.string()), std::string::npos) << output;
  const std::string text = ReadFile(unit);
  EXPECT_NE(text.find("\nDescription=Forwards Win Event Log Messages As Syslog\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nExecStart=" + std::filesystem::canonical(ZOR_BINARY).string() + " --programdata " +
                      DataDir().string() + "\n"),
            std::string::npos)
      << text;

  EXPECT_EQ(run({"--uninstall"}), 0);
  EXPECT_FALSE(std::filesystem::exists(unit));
  EXPECT_EQ(run({"--uninstall"}), 1) << "nothing left to remove";
}

}  // namespace
}  // namespace zor
