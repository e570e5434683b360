#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct relpEngine_s;
struct relpClt_s;

namespace zor {

// Limits of one RELP session, in whole seconds (the library's unit).
struct TRelpLimits {
  // Of the TCP connect.
  uint32_t ConnectSeconds = 10;
  // Of the open handshake, and of a send waiting for room in the window.
  uint32_t ResponseSeconds = 30;
  // Messages sent and not yet acknowledged at most (at least 2).
  int Window = 128;
};

// One RELP session to a receiver, on librelp: the library's engine and client,
// owned. Each message is one "syslog" command; the receiver answers every
// command in order.
//
// Acknowledgements: the library keeps the commands the receiver has not yet
// acknowledged and, when the window holds Window() of them, makes Send wait
// until an answer frees a place. So once Send returned for a message, every
// message sent more than Window() messages before it was acknowledged. The
// library has no call that tells more; its debug channel does report the
// length of its list of unacknowledged commands each time a command joins it
// and each time an answer takes one off, and Unacknowledged() gives that
// length (none until the library reported both kinds of change, as a library
// whose debug lines differ would not: then only the window rule is left). Answers are read only inside the library's calls:
// while sending, and by Close, which waits for the answer to "close" and so
// for every answer before it.
//
// Failures: Open and Send return "" or the reason. After a failure the
// session is broken: free the client; a new one starts a new session (the
// library's own resending of unacknowledged messages is not used: the caller
// sends them again, in order).
//
// Not thread-safe: one thread uses a client. A thread that calls it keeps
// SIGPIPE blocked from then on (BlockBrokenPipeSignal): the library writes
// without MSG_NOSIGNAL. The destructor closes an open
// session with the close handshake (waiting at most ResponseSeconds).
class TRelpClient {
 public:
  TRelpClient(std::string AHost, uint16_t APort, TRelpLimits ALimits);
  ~TRelpClient();
  TRelpClient(const TRelpClient&) = delete;
  TRelpClient& operator=(const TRelpClient&) = delete;

  [[nodiscard]] std::string Open();
  // Sends AText (the message's bytes) as one "syslog" command.
  [[nodiscard]] std::string Send(std::string_view AText);
  [[nodiscard]] int Window() const { return FLimits.Window; }
  // Commands of this session the receiver has not acknowledged, as the
  // library last reported (see above); none before its first report.
  [[nodiscard]] std::optional<int> Unacknowledged() const { return FUnacknowledged; }
  // The close handshake; the client is of no further use after it.
  void Close();

 private:
  // The reason of a failed call: the library's own error text when it gave
  // one, else the name of its code.
  std::string Failure(const char* AWhat, int ACode);
  // Closes the session (when open) and frees the library's objects.
  void Release();
  static void OnError(void* AUser, char* AObject, char* AMessage, int ACode);
  // The library's debug channel (see above).
  static void OnDebugLine(char* AFormat, ...);

  const std::string FHost;
  const uint16_t FPort;
  const TRelpLimits FLimits;
  relpEngine_s* FEngine = nullptr;
  relpClt_s* FClient = nullptr;
  // The library's last error text, for Failure.
  std::string FLastError;
  std::optional<int> FUnacknowledged;
  // What the debug channel showed (OnDebugLine).
  bool FSeenAdded = false;
  bool FSeenRemoved = false;
  bool FClosing = false;
  bool FCloseListed = false;
};

}  // namespace zor
