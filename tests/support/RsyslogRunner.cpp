#include "support/RsyslogRunner.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/ChildProcess.h"
#include "support/TestCertificate.h"
#include "support/WaitUntil.h"

extern char** environ;

namespace zor::test {

namespace {

constexpr int StartAttempts = 5;

std::filesystem::path FindRsyslogd() {
  std::string path = getenv("PATH") != nullptr ? getenv("PATH") : "";
  path += ":/usr/sbin:/sbin";
  std::stringstream folders(path);
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    if (folder.empty()) continue;
    const auto candidate = std::filesystem::path(folder) / "rsyslogd";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// A port that was free a moment ago: bound to 0, read back, released.
uint16_t FreePort(int AType) {
  const int fd = socket(AF_INET, AType | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("rsyslog runner: no free port");
  }
  close(fd);
  return ntohs(address.sin_port);
}

// Whether /proc/net/<ATable> lists a socket bound to 127.0.0.1:APort.
bool IsBound(const char* ATable, uint16_t APort) {
  std::ifstream table(std::string("/proc/net/") + ATable);
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "0100007F:%04X", APort);
  std::string line;
  std::getline(table, line);  // heading
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local;
    fields >> slot >> local;
    if (local == wanted) return true;
  }
  return false;
}

std::string ReadAll(const std::filesystem::path& APath) {
  std::ifstream file(APath, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

bool TRsyslogRunner::Available() { return !FindRsyslogd().empty(); }

TRsyslogRunner::TRsyslogRunner(const std::filesystem::path& AFolder, const TTestCertificate& ACertificate)
    : FFolder(AFolder), FCertificate(ACertificate) {
  std::filesystem::create_directories(FFolder / "work");
  for (int attempt = 0; attempt < StartAttempts; ++attempt)
    if (Start(true)) return;
  throw std::runtime_error("rsyslogd did not come up:\n" + ReadAll(FFolder / "rsyslogd.out"));
}

void TRsyslogRunner::Restart() {
  Stop();
  if (!Start(false)) throw std::runtime_error("rsyslogd did not come back:\n" + ReadAll(FFolder / "rsyslogd.out"));
}

TRsyslogRunner::~TRsyslogRunner() { Stop(); }

uint16_t TRsyslogRunner::Port(TInput AInput) const { return FPorts[static_cast<int>(AInput)]; }

std::filesystem::path TRsyslogRunner::OutputFile(TInput AInput) const {
  static const char* const names[] = {"udp.log", "tcp.log", "tls.log", "relp.log"};
  return FFolder / names[static_cast<int>(AInput)];
}

bool TRsyslogRunner::Start(bool ANewPorts) {
  if (ANewPorts) {
    FPorts[0] = FreePort(SOCK_DGRAM);
    FPorts[1] = FreePort(SOCK_STREAM);
    do FPorts[2] = FreePort(SOCK_STREAM);
    while (FPorts[2] == FPorts[1]);
    do FPorts[3] = FreePort(SOCK_STREAM);
    while (FPorts[3] == FPorts[1] || FPorts[3] == FPorts[2]);
  }

  const auto config = FFolder / "rsyslog.conf";
  {
    const std::string folder = FFolder.string();
    std::ofstream out(config);
    out << "global(workDirectory=\"" << folder << "/work\"\n"
        << "       defaultNetstreamDriverCAFile=\"" << FCertificate.CertFile().string() << "\"\n"
        << "       defaultNetstreamDriverCertFile=\"" << FCertificate.CertFile().string() << "\"\n"
        << "       defaultNetstreamDriverKeyFile=\"" << FCertificate.KeyFile().string() << "\"\n"
        << "       maxMessageSize=\"64k\")\n"
        << "module(load=\"imudp\")\n"
        << "module(load=\"imtcp\" maxSessions=\"200\")\n"
        << "module(load=\"imrelp\")\n"
        << "template(name=\"RawLine\" type=\"string\" string=\"%rawmsg%\\n\")\n"
        << "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" << FPorts[0] << "\" ruleset=\"udp\"\n"
        << "      rcvbufSize=\"16m\")\n"
        << "input(type=\"imtcp\" address=\"127.0.0.1\" port=\"" << FPorts[1] << "\" ruleset=\"tcp\")\n"
        << "input(type=\"imtcp\" address=\"127.0.0.1\" port=\"" << FPorts[2] << "\" ruleset=\"tls\"\n"
        << "      streamDriver.name=\"ossl\" streamDriver.mode=\"1\" streamDriver.authMode=\"anon\")\n"
        << "input(type=\"imrelp\" address=\"127.0.0.1\" port=\"" << FPorts[3] << "\" ruleset=\"relp\")\n";
    for (TInput input : {TInput::Udp, TInput::Tcp, TInput::Tls, TInput::Relp}) {
      static const char* const rulesets[] = {"udp", "tcp", "tls", "relp"};
      out << "ruleset(name=\"" << rulesets[static_cast<int>(input)] << "\""
          << (input == TInput::Relp ? " queue.type=\"Direct\"" : "") << ") {\n"
          << "  action(type=\"omfile\" file=\"" << OutputFile(input).string() << "\" template=\"RawLine\")\n"
          << "}\n";
    }
  }

  const std::string program = FindRsyslogd().string();
  const std::string configText = config.string();
  const std::string pidFile = (FFolder / "rsyslogd.pid").string();
  const std::string outFile = (FFolder / "rsyslogd.out").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>("-n"),
                             const_cast<char*>("-f"), const_cast<char*>(configText.c_str()),
                             const_cast<char*>("-i"), const_cast<char*>(pidFile.c_str()), nullptr};
  const TCleanSpawnAttributes attributes;
  const int spawned = posix_spawn(&FPid, program.c_str(), &actions, attributes.Get(), argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("rsyslog runner: cannot start " + program);

  bool exited = false;
  const auto ready = WaitUntil(
      [&] {
        int status;
        if (waitpid(FPid, &status, WNOHANG) == FPid) {
          exited = true;
          return true;
        }
        return IsBound("udp", FPorts[0]) && IsBound("tcp", FPorts[1]) && IsBound("tcp", FPorts[2]) &&
               IsBound("tcp", FPorts[3]);
      },
      std::chrono::seconds(20));
  if (ready && !exited) return true;
  if (exited) FPid = -1;
  Stop();
  return false;
}

void TRsyslogRunner::Stop() {
  if (FPid <= 0) return;
  kill(FPid, SIGTERM);
  int status;
  const bool ended = WaitUntil([&] { return waitpid(FPid, &status, WNOHANG) == FPid; }, std::chrono::seconds(10));
  if (!ended) {
    kill(FPid, SIGKILL);
    waitpid(FPid, &status, 0);
  }
  FPid = -1;
}

void TRsyslogRunner::Kill() {
  if (FPid <= 0) return;
  kill(FPid, SIGKILL);
  int status;
  waitpid(FPid, &status, 0);
  FPid = -1;
}

std::vector<std::string> TRsyslogRunner::Lines(TInput AInput) const {
  std::vector<std::string> lines;
  std::istringstream text(ReadAll(OutputFile(AInput)));
  std::string line;
  while (std::getline(text, line)) lines.push_back(line);
  return lines;
}

testing::AssertionResult TRsyslogRunner::WaitForLines(TInput AInput, size_t ACount,
                                                       std::chrono::milliseconds ATimeout) {
  auto result = WaitUntil([&] { return Lines(AInput).size() >= ACount; }, ATimeout,
                          std::to_string(ACount) + " lines from rsyslogd");
  if (!result) result << " (have " << Lines(AInput).size() << ")\n" << ReadAll(FFolder / "rsyslogd.out");
  return result;
}

}  // namespace zor::test
