#include "syslog/SysLogSender.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <utility>

#include "support/Log.h"
#include "syslog/IndySecureBlockingSocket.h"
#include "syslog/RawBlockingSocket.h"

namespace zor {

namespace {

using TClockPoint = std::chrono::steady_clock::time_point;

const char* TransportName(TSysLogTransport ATransport) {
  switch (ATransport) {
    case TSysLogTransport::sltUDP: return "UDP";
    case TSysLogTransport::sltTCP: return "TCP";
    case TSysLogTransport::sltTLSv1: return "TLS 1.0";
    case TSysLogTransport::sltTLSv1_1: return "TLS 1.1";
    case TSysLogTransport::sltTLSv1_2: return "TLS 1.2";
  }
  return "UDP";
}

// A millisecond count as a finite wait time (INFINITE is reserved).
uint32_t ToWait(int64_t AMilliseconds) {
  if (AMilliseconds <= 0) return 0;
  return AMilliseconds >= static_cast<int64_t>(INFINITE) ? INFINITE - 1 : static_cast<uint32_t>(AMilliseconds);
}

}  // namespace

std::filesystem::path SysLogCopyFileName(const std::filesystem::path& ASvcConfigDir,
                                         const std::string& AReceiverName) {
  std::string name = AReceiverName;
  for (char& c : name)
    if (c == '/' || c == '\\' || c == '\0') c = '_';
  if (name == "." || name == "..") name = "_";
  return ASvcConfigDir / "SysLogData" / (name + ".bsd");
}

TSysLogSender::TSysLogSender(std::string AHost, uint16_t APort, TSysLogTransport ATransport,
                             TSyslogDelimiter ADelimiter, std::string ASenderName,
                             const TSyslogSenderOptions& ASenderOptions, TSysLogSenderTuning ATuning)
    : FHost(std::move(AHost)),
      FPort(APort),
      FTransport(ATransport),
      FDelimiter(ADelimiter),
      FSenderOptions(ASenderOptions),
      FTuning(std::move(ATuning)),
      FFramer(TSyslogFramer::TOptions{ATransport, ADelimiter, ASenderOptions.NoDelimOnLast,
                                      ASenderOptions.Persistent, ASenderOptions.ForwardHeader,
                                      ASenderOptions.ForwardIPList}),
      FName(std::move(ASenderName)),
      FBackOff(FTuning.RetryInitialMilliseconds, FTuning.RetryMaxMilliseconds) {
  if (FSenderOptions.Persistent && FTransport != TSysLogTransport::sltUDP) {
    LogInfo("Creating Persistent Client Connection to %s:%d", FHost.c_str(), FPort);
    // A receiver that is down now must not stop the pipeline from starting:
    // the first flush connects again.
    try {
      (void)Socket().ConnectSocket();
    } catch (const std::exception& e) {
      LogError("[Senders] %s", e.what());
    }
  }
  LogInfo("Thread Created");
}

TSysLogSender::~TSysLogSender() {
  (void)ThreadStop(true, INFINITE);
  size_t unsent;
  {
    TCriticalSectionGuard guard(FQueueLock);
    unsent = FMsgQueue.size();
    FMsgQueue.clear();
  }
  if (unsent != 0) {
    FDropped += unsent;
    LogError("[Senders] %s:%d stopped with %zu unsent messages; they are dropped", FHost.c_str(), FPort, unsent);
  }
  DropSocket();
  LogInfo("Thread Clenup");
}

std::string TSysLogSender::AddMessage(TMessage&& AMessage) {
  if (!AMessage) return {};
  std::string text = AMessage->ToString();
  size_t dropped;
  {
    TCriticalSectionGuard guard(FQueueLock);
    FMsgQueue.push_back(std::move(AMessage));
    dropped = TrimQueue();
    FMsgEvent.Set();
  }
  LogDropped(dropped);
  return text;
}

void TSysLogSender::AddMessageBatch(TMessageList&& AMessageBatch) {
  size_t dropped;
  {
    TCriticalSectionGuard guard(FQueueLock);
    for (TMessage& message : AMessageBatch)
      if (message) FMsgQueue.push_back(std::move(message));
    dropped = TrimQueue();
    FMsgEvent.Set();
  }
  AMessageBatch.clear();
  LogDropped(dropped);
}

TSysLogSender::TMessageList TSysLogSender::TakeQueued() {
  TMessageList queued;
  TCriticalSectionGuard guard(FQueueLock);
  queued.reserve(FMsgQueue.size());
  for (TMessage& message : FMsgQueue) queued.push_back(std::move(message));
  FMsgQueue.clear();
  return queued;
}

TSyslogDeliveryCounts TSysLogSender::Counts() const {
  return TSyslogDeliveryCounts{FSent.load(), FRetried.load(), FDropped.load(), FFailedAttempts.load()};
}

size_t TSysLogSender::QueuedCount() const {
  TCriticalSectionGuard guard(FQueueLock);
  return FMsgQueue.size();
}

TClockPoint TSysLogSender::Now() const { return FTuning.Clock ? FTuning.Clock() : std::chrono::steady_clock::now(); }

uint32_t TSysLogSender::ElapsedMilliseconds(TClockPoint ASince) const {
  return ToWait(std::chrono::duration_cast<std::chrono::milliseconds>(Now() - ASince).count());
}

bool TSysLogSender::Execute() {
  // Both thresholds set: flush when the count is reached at a message event,
  // or when the period ends. Otherwise every message event flushes at once.
  const bool timed = FSenderOptions.QueueCountThreshold != 0 && FSenderOptions.QueueSecondsThreshold != 0;
  const uint32_t period = timed ? ToWait(int64_t{FSenderOptions.QueueSecondsThreshold} * 1000) : INFINITE;
  // The period runs from the last flush, not from the last wake-up: a trickle
  // of messages below the count threshold must not postpone the flush forever.
  TClockPoint periodStart = Now();
  for (;;) {
    LogDebug("Back to wait");
    uint32_t timeout = timed ? ToWait(int64_t{period} - ElapsedMilliseconds(periodStart)) : INFINITE;
    bool retryTimer = false;
    if (FRetryAt) {
      const uint32_t untilRetry =
          ToWait(std::chrono::duration_cast<std::chrono::milliseconds>(*FRetryAt - Now()).count());
      if (untilRetry < timeout) {
        timeout = untilRetry;
        retryTimer = true;
      }
    }
    const uint32_t result = WaitForAny({FShouldFinishEvent.get(), &FMsgEvent}, timeout);
    if (result == WAIT_OBJECT_0) break;
    if (result == WAIT_TIMEOUT) {
      SafeFlush();
      if (!retryTimer) periodStart = Now();
      continue;
    }
    if (result != WAIT_OBJECT_0 + 1) continue;

    LogDebug("Preparing to flush messages");
    FMsgEvent.Reset();
    if (!timed) {
      SafeFlush();
      continue;
    }
    int64_t newWait = 0;
    if (QueuedCount() < FSenderOptions.QueueCountThreshold)
      newWait = int64_t{period} - ElapsedMilliseconds(periodStart);
    LogDebug("New Wait Time = %d msec", static_cast<int>(std::clamp<int64_t>(newWait, INT_MIN, INT_MAX)));
    if (newWait > 0) continue;
    SafeFlush();
    periodStart = Now();
  }
  return true;
}

void TSysLogSender::SafeFlush() {
  try {
    Flush();
  } catch (const std::exception& e) {
    LogError("Unknown Exception Flushing Messages");
    LogDebug("[Senders] %s:%d: %s", FHost.c_str(), FPort, e.what());
  }
}

TBlockingSocket& TSysLogSender::Socket() {
  if (FBlockingSocket) return *FBlockingSocket;
  if (FTuning.SocketFactory) {
    FBlockingSocket = FTuning.SocketFactory();
    return *FBlockingSocket;
  }
  const TSocketTimeouts& timeouts = FTuning.SocketTimeouts;
  switch (FTransport) {
    case TSysLogTransport::sltTLSv1:
    case TSysLogTransport::sltTLSv1_1:
    case TSysLogTransport::sltTLSv1_2: {
      // 256, 257, 258: TLS 1.0, 1.1, 1.2.
      const auto version = static_cast<uint16_t>(
          0x100 + static_cast<int>(FTransport) - static_cast<int>(TSysLogTransport::sltTLSv1));
      LogDebug("Connecting to SysLog Receiver using %s", TransportName(FTransport));
      FBlockingSocket = std::make_unique<TIndySecureBlockingSocket>(FHost, FPort, version, timeouts);
      break;
    }
    case TSysLogTransport::sltTCP:
      LogDebug("Connecting to SysLog Receiver using TCP");
      FBlockingSocket = std::make_unique<TBlockingTCPSocket>(FHost, FPort, timeouts);
      break;
    default:
      LogDebug("Connecting to SysLog Receiver using UDP");
      FBlockingSocket = std::make_unique<TBlockingUDPSocket>(FHost, FPort, timeouts);
      break;
  }
  return *FBlockingSocket;
}

void TSysLogSender::DropSocket() {
  if (!FBlockingSocket) return;
  FBlockingSocket->DisconnectSocket();
  FBlockingSocket.reset();
}

void TSysLogSender::Flush() {
  // While backing off, messages wait in the queue for the next attempt.
  if (FRetryAt && Now() < *FRetryAt) return;
  std::deque<TMessage> batch;
  {
    TCriticalSectionGuard guard(FQueueLock);
    batch.swap(FMsgQueue);
  }
  if (batch.empty()) {
    FRetryAt.reset();
    LogDebug("No Logs to Flush");
    return;
  }

  const bool saving = !FSenderOptions.FileName.empty();
  std::vector<std::string> saved;
  const int total = static_cast<int>(batch.size());
  int sent = 0;
  const auto started = std::chrono::steady_clock::now();

  std::string failure;
  try {
    TBlockingSocket& socket = Socket();
    if (!socket.Connected() && !socket.ConnectSocket())
      failure = "Connect Failed. " + std::string(std::strerror(socket.LastError()));
  } catch (const std::exception& e) {
    failure = e.what();
  }

  if (failure.empty()) {
    LogDebug("Flushing Messagees");
    while (!batch.empty()) {
      TBaseSysLogMessage& message = *batch.front();
      std::string text;
      try {
        text = message.SendMessageOnly() ? message.MessageContent() : message.EncodedMessage();
      } catch (const std::exception& e) {
        // A message without wire text will not get one by waiting: drop it.
        LogError("Error sending message to host %s: %s", FHost.c_str(), e.what());
        ++FDropped;
        batch.pop_front();
        continue;
      }
      std::string error;
      const TSendResult result = SendBytes(FFramer.Frame(text, message.Framing(), batch.size() == 1), error);
      if (result == TSendResult::Retry) {
        LogError("Error sending message to host %s: %s", FHost.c_str(), error.c_str());
        failure = error;
        break;
      }
      if (result == TSendResult::Drop) {
        LogError("Error sending message to host %s: %s", FHost.c_str(), error.c_str());
        ++FDropped;
      } else {
        ++sent;
        ++FSent;
        if (saving) saved.push_back(std::move(text));
      }
      batch.pop_front();
    }
  }

  if (!failure.empty()) {
    // A connection that failed once is not trusted again: the next attempt
    // starts with a new socket.
    DropSocket();
    KeepForRetry(std::move(batch), failure);
  } else {
    FBackOff.Reset();
    FRetryAt.reset();
    if (!FSenderOptions.Persistent) DropSocket();
  }

  const double elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  LogCountLine(sent, total, elapsed);
  if (saving && !saved.empty()) AppendToFile(saved);
  if (!FSenderOptions.Persistent) LogDebug("Disconnected from SysLog Receiver");
}

TSysLogSender::TSendResult TSysLogSender::SendBytes(const std::string& ABytes, std::string& AError) {
  TBlockingSocket& socket = *FBlockingSocket;
  if (ABytes.size() > static_cast<size_t>(INT_MAX)) {
    AError = "message of " + std::to_string(ABytes.size()) + " bytes is too large";
    return TSendResult::Drop;
  }
  const int length = static_cast<int>(ABytes.size());
  try {
    if (socket.SendMessage(reinterpret_cast<const uint8_t*>(ABytes.data()), length) == length)
      return TSendResult::Sent;
    AError = std::strerror(socket.LastError());
  } catch (const std::exception& e) {
    AError = e.what();
    if (socket.LastError() != 0) AError += std::string(": ") + std::strerror(socket.LastError());
  }
  if (FTransport == TSysLogTransport::sltUDP && socket.LastError() == EMSGSIZE) {
    // Sending the same datagram again can never succeed.
    AError = "datagram of " + std::to_string(length) + " bytes is too large: " + AError;
    return TSendResult::Drop;
  }
  return TSendResult::Retry;
}

void TSysLogSender::KeepForRetry(std::deque<TMessage>&& AUnsent, const std::string& AReason) {
  const size_t kept = AUnsent.size();
  size_t dropped;
  {
    TCriticalSectionGuard guard(FQueueLock);
    for (auto message = AUnsent.rbegin(); message != AUnsent.rend(); ++message)
      FMsgQueue.push_front(std::move(*message));
    dropped = TrimQueue();
  }
  AUnsent.clear();
  FRetried += kept;
  ++FFailedAttempts;
  const uint32_t delay = FBackOff.NextBackOffMs();
  FRetryAt = Now() + std::chrono::milliseconds(delay);
  LogError("[Senders] %s:%d did not take %zu messages (%s); next attempt in %u ms", FHost.c_str(), FPort, kept,
           AReason.c_str(), delay);
  LogDropped(dropped);
}

size_t TSysLogSender::TrimQueue() {
  size_t dropped = 0;
  while (FMsgQueue.size() > FTuning.MaxQueuedMessages) {
    FMsgQueue.pop_front();
    ++dropped;
  }
  FDropped += dropped;
  return dropped;
}

void TSysLogSender::LogDropped(size_t ACount) {
  if (ACount == 0) return;
  LogError("[Senders] Queue for %s:%d is full (%zu messages): dropped the %zu oldest", FHost.c_str(), FPort,
           FTuning.MaxQueuedMessages, ACount);
}

void TSysLogSender::AppendToFile(const std::vector<std::string>& ATexts) {
  std::string text;
  for (const std::string& line : ATexts) {
    text += line;
    text += "\r\n";
  }
  std::ofstream file(FSenderOptions.FileName, std::ios::binary | std::ios::app);
  if (file) file.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (file) file.close();
  if (!file)
    LogError("Could not Append text to file %s. %s.", FSenderOptions.FileName.c_str(), std::strerror(errno));
}

void TSysLogSender::LogCountLine(int ASent, int ATotal, double AMilliseconds) {
  LogDebug("[Senders] Sent %d of %d messages to host %s in %.3f  millisconds using %s", ASent, ATotal,
           FHost.c_str(), AMilliseconds, TransportName(FTransport));
}

}  // namespace zor
