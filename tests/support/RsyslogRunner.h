#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zor::test {

class TTestCertificate;

// A real rsyslogd as a syslog receiver: started in the foreground with a
// configuration written into AFolder, listening on 127.0.0.1 with a UDP input,
// a plain TCP input (LF and octet-counted framing), a TLS input (the ossl
// network stream driver with the test certificate) and a RELP input. Each
// input writes the raw message of everything it receives, one per line, to a
// file of its own. The RELP input's rule set has no queue of its own, so a
// message is in its file before rsyslogd acknowledges it.
// Its work folder and pid file stay inside AFolder.
//
// Ports are chosen by binding port 0 and releasing it; when rsyslogd cannot
// bind one (taken in between), it is started again with new ports.
class TRsyslogRunner {
 public:
  enum class TInput { Udp, Tcp, Tls, Relp };

  // Whether an rsyslogd program can be found.
  static bool Available();

  // Starts rsyslogd and waits until every input listens. Throws
  // std::runtime_error (with rsyslogd's own output) when it does not come up.
  TRsyslogRunner(const std::filesystem::path& AFolder, const TTestCertificate& ACertificate);
  ~TRsyslogRunner();
  TRsyslogRunner(const TRsyslogRunner&) = delete;
  TRsyslogRunner& operator=(const TRsyslogRunner&) = delete;

  uint16_t Port(TInput AInput) const;
  // The raw messages the input has written so far, one per entry.
  std::vector<std::string> Lines(TInput AInput) const;
  [[nodiscard]] testing::AssertionResult WaitForLines(TInput AInput, size_t ACount,
                                                      std::chrono::milliseconds ATimeout = std::chrono::seconds(30));
  // Stops rsyslogd with SIGTERM and waits for it (SIGKILL after a while).
  void Stop();
  // Ends rsyslogd at once with SIGKILL (a receiver that crashes).
  void Kill();
  // Starts a stopped rsyslogd again on the same ports (a receiver that comes
  // back); what it records is appended to what it recorded before. Throws
  // std::runtime_error when it does not come up.
  void Restart();

 private:
  bool Start(bool ANewPorts);
  std::filesystem::path OutputFile(TInput AInput) const;

  const std::filesystem::path FFolder;
  const TTestCertificate& FCertificate;
  uint16_t FPorts[4] = {0, 0, 0, 0};
  pid_t FPid = -1;
};

}  // namespace zor::test
