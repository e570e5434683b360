#include "syslog/RelpClient.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

#include "platform/BrokenPipeSignal.h"
#include "support/Log.h"
#include "syslog/SyslogGlobal.h"

extern "C" {
#include <librelp.h>
}

namespace zor {

namespace {

// Names of the codes a client sees; others are shown as numbers.
const char* CodeName(relpRetVal ACode) {
  switch (ACode) {
    case RELP_RET_OUT_OF_MEMORY: return "out of memory";
    case RELP_RET_SESSION_BROKEN: return "session broken";
    case RELP_RET_SESSION_CLOSED: return "session closed";
    case RELP_RET_IO_ERR: return "I/O error";
    case RELP_RET_TIMED_OUT: return "timed out";
    case RELP_RET_INVALID_RSPHDR: return "invalid response";
    case RELP_RET_RSP_STATE_ERR: return "error response";
    case RELP_RET_INVALID_OFFER: return "invalid offer";
    case RELP_RET_INCOMPAT_OFFERS: return "incompatible offers";
    case RELP_RET_RQD_FEAT_MISSING: return "the receiver does not take syslog messages";
    case RELP_RET_CMD_DISABLED: return "the session does not allow syslog messages";
    case RELP_RET_DATA_TOO_LONG: return "message too long";
    default: return nullptr;
  }
}

// librelp's messages without a client: kept for the debug log.
void OnGenericError(char* AObject, char* AMessage, relpRetVal ACode) {
  LogDebug("[Senders] RELP %s: %s (%d)", AObject ? AObject : "", AMessage ? AMessage : "", ACode);
}

// The debug lines the library writes each time a command joins its list of
// unacknowledged ones, and each time an answer takes one off: session, then
// the list's length.
constexpr char AddedLine[] = "ADD sess %p unacked %d";
constexpr char RemovedLine[] = "DEL sess %p unacked %d";

// The client whose library call runs on this thread: the debug channel has no
// user pointer, and the library reads answers only inside calls made by the
// client's (one) thread.
thread_local TRelpClient* CallingClient = nullptr;

// The library writes without MSG_NOSIGNAL: a receiver that went away would
// end the process with SIGPIPE. Every call goes through a scope, which keeps
// the signal blocked in the calling thread, so the write fails instead.
class TCallScope {
 public:
  explicit TCallScope(TRelpClient* AClient) : FOuter(CallingClient) {
    BlockBrokenPipeSignal();
    CallingClient = AClient;
  }
  ~TCallScope() { CallingClient = FOuter; }
  TCallScope(const TCallScope&) = delete;
  TCallScope& operator=(const TCallScope&) = delete;

 private:
  TRelpClient* const FOuter;
};

}  // namespace

TRelpClient::TRelpClient(std::string AHost, uint16_t APort, TRelpLimits ALimits)
    : FHost(std::move(AHost)), FPort(APort), FLimits(ALimits) {
  if (FLimits.Window < 2) throw ESyslogError("RELP window of " + std::to_string(FLimits.Window) + " is too small");
  relpRetVal code = relpEngineConstruct(&FEngine);
  if (code == RELP_RET_OK) code = relpEngineSetOnErr(FEngine, &TRelpClient::OnError);
  if (code == RELP_RET_OK) code = relpEngineSetOnGenericErr(FEngine, OnGenericError);
  if (code == RELP_RET_OK) code = relpEngineSetDbgprint(FEngine, &TRelpClient::OnDebugLine);
  if (code == RELP_RET_OK)
    code = relpEngineSetEnableCmd(FEngine, reinterpret_cast<unsigned char*>(const_cast<char*>("syslog")),
                                  eRelpCmdState_Required);
  if (code == RELP_RET_OK) code = relpEngineCltConstruct(FEngine, &FClient);
  if (code == RELP_RET_OK) code = relpCltSetUsrPtr(FClient, this);
  if (code == RELP_RET_OK) code = relpCltSetTimeout(FClient, FLimits.ResponseSeconds);
  if (code == RELP_RET_OK) code = relpCltSetConnTimeout(FClient, static_cast<int>(FLimits.ConnectSeconds));
  if (code == RELP_RET_OK) code = relpCltSetWindowSize(FClient, FLimits.Window);
  if (code != RELP_RET_OK) {
    const std::string reason = Failure("set-up", code);
    Release();
    throw ESyslogError("RELP client for " + FHost + ":" + std::to_string(FPort) + ": " + reason);
  }
}

TRelpClient::~TRelpClient() { Release(); }

void TRelpClient::Release() {
  const TCallScope scope(this);
  if (FClient) (void)relpEngineCltDestruct(FEngine, &FClient);
  if (FEngine) (void)relpEngineDestruct(&FEngine);
  FClient = nullptr;
  FEngine = nullptr;
}

void TRelpClient::Close() {
  if (!FClient) return;
  const TCallScope scope(this);
  // The handshake's own "close" joins the list and, answered, may stay on it.
  FClosing = true;
  (void)relpEngineCltDestruct(FEngine, &FClient);
  FClient = nullptr;
  FClosing = false;
  if (FCloseListed && FUnacknowledged) FUnacknowledged = std::max(*FUnacknowledged - 1, 0);
}

void TRelpClient::OnDebugLine(char* AFormat, ...) {
  if (!CallingClient || !AFormat) return;
  const bool added = std::strncmp(AFormat, AddedLine, sizeof AddedLine - 1) == 0;
  if (!added && std::strncmp(AFormat, RemovedLine, sizeof RemovedLine - 1) != 0) return;
  va_list arguments;
  va_start(arguments, AFormat);
  (void)va_arg(arguments, void*);
  const int length = va_arg(arguments, int);
  va_end(arguments);
  TRelpClient& client = *CallingClient;
  (added ? client.FSeenAdded : client.FSeenRemoved) = true;
  if (added && client.FClosing) client.FCloseListed = true;
  // Trusted only once both kinds were seen (the open handshake shows both).
  if (client.FSeenAdded && client.FSeenRemoved) client.FUnacknowledged = length;
}

void TRelpClient::OnError(void* AUser, char* AObject, char* AMessage, relpRetVal ACode) {
  (void)AObject;
  (void)ACode;
  if (AUser && AMessage) static_cast<TRelpClient*>(AUser)->FLastError = AMessage;
}

std::string TRelpClient::Failure(const char* AWhat, relpRetVal ACode) {
  std::string reason = std::string("RELP ") + AWhat + " failed: ";
  if (!FLastError.empty()) {
    reason += FLastError;
    FLastError.clear();
  } else if (const char* name = CodeName(ACode)) {
    reason += name;
  } else {
    reason += "code " + std::to_string(ACode);
  }
  return reason;
}

std::string TRelpClient::Open() {
  const TCallScope scope(this);
  FLastError.clear();
  std::string port = std::to_string(FPort);
  const relpRetVal code = relpCltConnect(FClient, AF_UNSPEC, reinterpret_cast<unsigned char*>(port.data()),
                                         reinterpret_cast<unsigned char*>(const_cast<char*>(FHost.c_str())));
  return code == RELP_RET_OK ? std::string() : Failure("connect", code);
}

std::string TRelpClient::Send(std::string_view AText) {
  const TCallScope scope(this);
  if (!FClient) return "RELP send failed: session closed";
  // The library does not write through the pointer; its signature is not const.
  const relpRetVal code =
      relpCltSendSyslog(FClient, reinterpret_cast<unsigned char*>(const_cast<char*>(AText.data())), AText.size());
  return code == RELP_RET_OK ? std::string() : Failure("send", code);
}

}  // namespace zor

// LeakSanitizer builds only. librelp (1.11) does not free the send buffer of a
// command whose write fails: relpSessRawSendCommand keeps no hold of it when
// relpSendbufSendAll fails before the buffer joins the list of unacknowledged
// commands. That costs 128 bytes each time a session breaks while a message
// is being written (a receiver that goes away), and nothing outside the
// library can free them. The library has no symbols to name that function,
// so what is allocated inside librelp is left out of the leak report.
#if defined(__SANITIZE_ADDRESS__)
#define ZOR_RELP_LEAK_SUPPRESSION 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZOR_RELP_LEAK_SUPPRESSION 1
#endif
#endif
#ifdef ZOR_RELP_LEAK_SUPPRESSION
extern "C" const char* __lsan_default_suppressions() { return "leak:librelp.so\n"; }
#endif
