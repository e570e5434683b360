#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zor::test {

// Spawn attributes of a child that starts clean, whatever the test process
// did to its own signals: none blocked, and SIGPIPE with the stop and hang-up
// signals at their default action (a library of the test may ignore SIGPIPE,
// and an ignored signal stays ignored across exec, which would hide a child
// that falls to it).
class TCleanSpawnAttributes {
 public:
  TCleanSpawnAttributes();
  ~TCleanSpawnAttributes();
  TCleanSpawnAttributes(const TCleanSpawnAttributes&) = delete;
  TCleanSpawnAttributes& operator=(const TCleanSpawnAttributes&) = delete;

  [[nodiscard]] const posix_spawnattr_t* Get() const { return &FAttributes; }

 private:
  posix_spawnattr_t FAttributes;
};

// A program run by a test: standard output and error go to files in
// AOutputDir, the environment is the test's plus AEnvironment. The destructor
// kills a child still running and reaps it.
class TChildProcess {
 public:
  TChildProcess(const std::string& AProgram, const std::vector<std::string>& AArguments,
                const std::filesystem::path& AOutputDir,
                const std::vector<std::pair<std::string, std::string>>& AEnvironment = {});
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  pid_t Pid() const { return FPid; }
  void Signal(int ASignal) const;
  // The exit status once the child has ended (-signal when a signal killed
  // it); empty while it runs. Reaps the child.
  std::optional<int> ExitStatus();
  // Waits up to ATimeout for the end; the exit status, or empty.
  std::optional<int> WaitForExit(std::chrono::milliseconds ATimeout = std::chrono::seconds(30));

  std::string StandardOutput() const;
  std::string StandardError() const;

 private:
  pid_t FPid = -1;
  std::optional<int> FStatus;
  std::filesystem::path FStdout;
  std::filesystem::path FStderr;
};

// Runs a program to its end; the exit status.
int RunProgram(const std::string& AProgram, const std::vector<std::string>& AArguments,
               const std::filesystem::path& AOutputDir, std::string* AStdout = nullptr, std::string* AStderr = nullptr,
               const std::vector<std::pair<std::string, std::string>>& AEnvironment = {});

}  // namespace zor::test
