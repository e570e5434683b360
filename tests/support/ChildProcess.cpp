#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zor::test {

namespace {

std::string ReadAll(const std::filesystem::path& APath) {
  std::ifstream file(APath, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

TCleanSpawnAttributes::TCleanSpawnAttributes() : FAttributes{} {
  posix_spawnattr_init(&FAttributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&FAttributes, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigdefault(&FAttributes, &defaults);
  posix_spawnattr_setflags(&FAttributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

TCleanSpawnAttributes::~TCleanSpawnAttributes() { posix_spawnattr_destroy(&FAttributes); }

TChildProcess::TChildProcess(const std::string& AProgram, const std::vector<std::string>& AArguments,
                             const std::filesystem::path& AOutputDir,
                             const std::vector<std::pair<std::string, std::string>>& AEnvironment) {
  static std::atomic<int> counter{0};
  const std::string tag = std::to_string(getpid()) + "-" + std::to_string(counter++);
  FStdout = AOutputDir / ("child-" + tag + ".out");
  FStderr = AOutputDir / ("child-" + tag + ".err");

  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool replaced = false;
    for (const auto& [name, value] : AEnvironment) replaced |= text.rfind(name + "=", 0) == 0;
    if (!replaced) environment.push_back(text);
  }
  for (const auto& [name, value] : AEnvironment) environment.push_back(name + "=" + value);

  std::vector<std::string> arguments{AProgram};
  arguments.insert(arguments.end(), AArguments.begin(), AArguments.end());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, FStdout.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, FStderr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const TCleanSpawnAttributes attributes;
  const int error = posix_spawn(&FPid, AProgram.c_str(), &actions, attributes.Get(), argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error("posix_spawn " + AProgram + " failed: " + std::to_string(error));
}

TChildProcess::~TChildProcess() {
  if (!ExitStatus()) {
    kill(FPid, SIGKILL);
    int status = 0;
    waitpid(FPid, &status, 0);
  }
}

void TChildProcess::Signal(int ASignal) const { kill(FPid, ASignal); }

std::optional<int> TChildProcess::ExitStatus() {
  if (FStatus) return FStatus;
  int status = 0;
  if (waitpid(FPid, &status, WNOHANG) != FPid) return std::nullopt;
  FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return FStatus;
}

std::optional<int> TChildProcess::WaitForExit(std::chrono::milliseconds ATimeout) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  while (!ExitStatus() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return FStatus;
}

std::string TChildProcess::StandardOutput() const { return ReadAll(FStdout); }
std::string TChildProcess::StandardError() const { return ReadAll(FStderr); }

int RunProgram(const std::string& AProgram, const std::vector<std::string>& AArguments,
               const std::filesystem::path& AOutputDir, std::string* AStdout, std::string* AStderr,
               const std::vector<std::pair<std::string, std::string>>& AEnvironment) {
  TChildProcess child(AProgram, AArguments, AOutputDir, AEnvironment);
  const std::optional<int> status = child.WaitForExit(std::chrono::seconds(60));
  if (AStdout != nullptr) *AStdout = child.StandardOutput();
  if (AStderr != nullptr) *AStderr = child.StandardError();
  if (!status) throw std::runtime_error(AProgram + " did not end within 60 s");
  return *status;
}

}  // namespace zor::test
