// The service host's files: the single-instance lock, the program file check
// and the systemd unit.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "platform/InstanceLock.h"
#include "platform/ProgramIntegrity.h"
#include "platform/SystemdUnit.h"
#include "support/TempDir.h"

namespace zor {
namespace {

using test::TempDir;

TEST(InstanceLockTest, ASecondHolderIsRefusedUntilTheFirstGoes) {
  TempDir folder;
  {
    TInstanceLock first(folder.Path().string(), "service.lock");
    EXPECT_THROW(TInstanceLock(folder.Path().string(), "service.lock"), EInstanceRunning);
  }
  EXPECT_NO_THROW(TInstanceLock(folder.Path().string(), "service.lock"));
}

TEST(InstanceLockTest, AFolderThatCannotHoldTheLockIsAPlatformError) {
  TempDir folder;
  try {
    TInstanceLock lock((folder / "missing").string(), "service.lock");
    FAIL() << "locked in a missing folder";
  } catch (const EInstanceRunning&) {
    FAIL() << "wrong kind";
  } catch (const EPlatformError& error) {
    EXPECT_NE(std::string(error.what()).find("missing/service.lock"), std::string::npos) << error.what();
  }
}

TEST(ProgramIntegrityTest, AProgramWritableByGroupOrOthersIsRefused) {
  TempDir folder;
  const std::string program = (folder / "program").string();
  std::ofstream(program) << "#!/bin/sh\n";
  struct Case {
    mode_t Mode;
    bool Accepted;
  };
  for (const Case& test : {Case{0755, true}, Case{0700, true}, Case{0775, false}, Case{0757, false},
                           Case{0722, false}}) {
    SCOPED_TRACE(test.Mode);
    ASSERT_EQ(chmod(program.c_str(), test.Mode), 0);
    if (test.Accepted) {
      EXPECT_NO_THROW(VerifyProgramFile(program));
    } else {
      try {
        VerifyProgramFile(program);
        ADD_FAILURE() << "accepted";
      } catch (const EPlatformError& error) {
        EXPECT_NE(std::string(error.what()).find("is writable by group or others"), std::string::npos);
      }
    }
  }
  EXPECT_THROW(VerifyProgramFile((folder / "none").string()), EPlatformError);
  EXPECT_THROW(VerifyProgramFile(folder.Path().string()), EPlatformError) << "a folder";
  EXPECT_THROW(VerifyProgramFile(""), EPlatformError);
}

class SystemdUnitTest : public testing::Test {
 protected:
  void SetUp() override { setenv("ZOR_SYSTEMD_UNIT_DIR", FFolder.Path().c_str(), 1); }
  void TearDown() override { unsetenv("ZOR_SYSTEMD_UNIT_DIR"); }
  std::string Read(const std::string& APath) {
    std::ifstream file(APath);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }
  TempDir FFolder;
};

TEST_F(SystemdUnitTest, InstallWritesTheUnitAndUninstallRemovesIt) {
  const TSystemdUnit unit{"svcTest", "Forwards Things", "Test Service",
                          {"/opt/my app/prog", "--home", "/a%b$c", "say \"hi\"\n"}};
  const std::string path = InstallSystemdUnit(unit);
  EXPECT_EQ(path, FFolder.Path().string() + "/svcTest.service");
  EXPECT_EQ(Read(path),
            "# Test Service (svcTest)\n"
            "[Unit]\n"
            "Description=Forwards Things\n"
            "After=network-online.target\n"
            "Wants=network-online.target\n"
            "\n"
            "[Service]\n"
            "Type=simple\n"
            "ExecStart=\"/opt/my app/prog\" --home /a%%b$$c \"say \\\"hi\\\"\\x0a\"\n"
            "ExecReload=/bin/kill -HUP $MAINPID\n"
            "KillSignal=SIGTERM\n"
            "Restart=on-failure\n"
            "\n"
            "[Install]\n"
            "WantedBy=multi-user.target\n");
  struct stat file {};
  ASSERT_EQ(stat(path.c_str(), &file), 0);
  EXPECT_EQ(file.st_mode & 0777, 0644u);

  EXPECT_NO_THROW((void)InstallSystemdUnit(unit)) << "a reinstall replaces the unit";
  EXPECT_EQ(UninstallSystemdUnit("svcTest"), path);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_THROW((void)UninstallSystemdUnit("svcTest"), EPlatformError) << "not installed";
  EXPECT_TRUE(std::filesystem::is_empty(FFolder.Path())) << "no temporary file left behind";
}

TEST_F(SystemdUnitTest, AnUnwritableFolderFailsWithoutLeavingAnything) {
  setenv("ZOR_SYSTEMD_UNIT_DIR", (FFolder / "missing").c_str(), 1);
  EXPECT_THROW((void)InstallSystemdUnit({"svcTest", "D", "N", {"/bin/true"}}), EPlatformError);
  EXPECT_THROW((void)InstallSystemdUnit({"../escape", "D", "N", {"/bin/true"}}), EPlatformError);
}

}  // namespace
}  // namespace zor
