#include "syslog/SysLogSender.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <optional>
#include <utility>

#include "support/Log.h"
#include "syslog/IndySecureBlockingSocket.h"
#include "syslog/RawBlockingSocket.h"

namespace zor {

namespace {

// A stream sender writes its messages in pieces of about this size.
constexpr size_t StreamWriteBytes = 256 * 1024;

const char* TransportName(TSysLogTransport ATransport) {
  switch (ATransport) {
    case TSysLogTransport::sltUDP: return "UDP";
    case TSysLogTransport::sltTCP: return "TCP";
    case TSysLogTransport::sltTLSv1: return "TLS 1.0";
    case TSysLogTransport::sltTLSv1_1: return "TLS 1.1";
    case TSysLogTransport::sltTLSv1_2: return "TLS 1.2";
    case TSysLogTransport::sltRELP: return "RELP";
  }
  return "UDP";
}

// Milliseconds as whole seconds, rounded up (at least 1).
uint32_t WholeSeconds(uint32_t AMilliseconds) { return std::max<uint32_t>(1, (AMilliseconds + 999) / 1000); }

TRelpLimits RelpLimits(const TSysLogSenderTuning& ATuning) {
  return TRelpLimits{WholeSeconds(ATuning.SocketTimeouts.ConnectMilliseconds),
                     WholeSeconds(ATuning.SocketTimeouts.SendMilliseconds), ATuning.RelpWindow};
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
    : TSenderWorker(AHost + ":" + std::to_string(APort), "messages",
                    TFlushThresholds{ASenderOptions.QueueCountThreshold, ASenderOptions.QueueSecondsThreshold},
                    TDeliveryTuning{std::move(ATuning.Clock), ATuning.RetryInitialMilliseconds,
                                    ATuning.RetryMaxMilliseconds, ATuning.MaxQueuedMessages,
                                    std::move(ATuning.Counters)}),
      FHost(std::move(AHost)),
      FPort(APort),
      FTransport(ATransport),
      FDelimiter(ADelimiter),
      FSenderOptions(ASenderOptions),
      FSocketTimeouts(ATuning.SocketTimeouts),
      FRelpLimits(RelpLimits(ATuning)),
      FSocketFactory(std::move(ATuning.SocketFactory)),
      FFramer(TSyslogFramer::TOptions{ATransport, ADelimiter, ASenderOptions.NoDelimOnLast,
                                      ASenderOptions.Persistent, ASenderOptions.ForwardHeader,
                                      ASenderOptions.ForwardIPList}),
      FName(std::move(ASenderName)) {
  // A RELP session is always kept, and opened by the first flush.
  if (FSenderOptions.Persistent && FTransport != TSysLogTransport::sltUDP && FTransport != TSysLogTransport::sltRELP) {
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
  // The thread goes before the socket it uses; the core drops what is still
  // queued.
  (void)ThreadStop(true, INFINITE);
  DropSocket();
  LogInfo("Thread Clenup");
}

std::string TSysLogSender::AddMessage(TMessage&& AMessage) {
  if (!AMessage) return {};
  std::string text = AMessage->ToString();
  AddItem(std::move(AMessage));
  return text;
}

TBlockingSocket& TSysLogSender::Socket() {
  if (FBlockingSocket) return *FBlockingSocket;
  if (FSocketFactory) {
    FBlockingSocket = FSocketFactory();
    return *FBlockingSocket;
  }
  const TSocketTimeouts& timeouts = FSocketTimeouts;
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

size_t TSysLogSender::QueuedCount() const { return TSenderWorker::QueuedCount() + FHeldCount.load(); }

bool TSysLogSender::Execute() {
  const bool result = TSenderWorker::Execute();
  if (!FRelp) return result;
  // The close handshake reads the answers still due; messages whose
  // acknowledgement is still not seen stay unsent.
  TAttempt attempt;
  std::vector<std::string> saved;
  std::vector<std::string>* const savedTexts = FSenderOptions.FileName.empty() ? nullptr : &saved;
  FRelp->Close();
  SettleAcknowledged(attempt, savedTexts);
  std::deque<TMessage> held;
  ReturnHeld(held);
  const std::string failure =
      held.empty() ? std::string() : "the sender stopped before their acknowledgement was seen";
  Settle(attempt, std::move(held), failure);
  if (!saved.empty()) AppendToFile(saved);
  return result;
}

void TSysLogSender::Flush() {
  // While backing off, messages wait in the queue for the next attempt.
  if (BackingOff()) return;
  std::deque<TMessage> batch = TakeQueuedItems();
  if (FTransport == TSysLogTransport::sltRELP) {
    FlushRelp(std::move(batch));
    return;
  }
  TAttempt attempt;
  if (batch.empty()) {
    Settle(attempt, {}, {});
    LogDebug("No Logs to Flush");
    return;
  }

  const bool saving = !FSenderOptions.FileName.empty();
  std::vector<std::string> saved;
  const int total = static_cast<int>(batch.size());
  const uint64_t sentBefore = FSent.load();
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
    std::vector<std::string>* const savedTexts = saving ? &saved : nullptr;
    try {
      failure = FTransport == TSysLogTransport::sltUDP ? SendDatagrams(batch, attempt, savedTexts)
                                                       : SendStream(batch, attempt, savedTexts);
    } catch (const std::exception& e) {
      // Whatever went wrong, the messages not sent yet (framed ones first)
      // are kept like those of any failed attempt.
      ReturnToBatch(batch, 0);
      failure = std::string("Unexpected error: ") + e.what();
    }
  }

  // A connection that failed once is not trusted again: the next attempt
  // starts with a new socket.
  if (!failure.empty() || !FSenderOptions.Persistent) DropSocket();
  // With a copy file, a message counts as taken once its line is written too.
  if (saving && !saved.empty()) AppendToFile(saved);
  Settle(attempt, std::move(batch), failure);
  LogCountLine(total, sentBefore, started);
  if (!FSenderOptions.Persistent) LogDebug("Disconnected from SysLog Receiver");
}

void TSysLogSender::FlushRelp(std::deque<TMessage>&& ABatch) {
  TAttempt attempt;
  const bool saving = !FSenderOptions.FileName.empty();
  std::vector<std::string> saved;
  const int total = static_cast<int>(ABatch.size());
  const uint64_t sentBefore = FSent.load();
  const auto started = std::chrono::steady_clock::now();

  std::string failure;
  if (!ABatch.empty()) try {
    if (!FRelp) {
      LogDebug("Connecting to SysLog Receiver using RELP");
      FRelp = std::make_unique<TRelpClient>(FHost, FPort, FRelpLimits);
      failure = FRelp->Open();
    }
    if (failure.empty()) failure = SendRelp(ABatch, attempt, saving ? &saved : nullptr);
    // Nothing more to send: the close handshake reads the answers still due,
    // so the last messages do not wait for later ones. Only when the library
    // reports its count: otherwise closing would tell nothing.
    if (failure.empty() && !FHeld.empty() && TSenderWorker::QueuedCount() == 0 &&
        FRelp->Unacknowledged().has_value()) {
      FRelp->Close();
      SettleAcknowledged(attempt, saving ? &saved : nullptr);
      if (!FHeld.empty()) failure = "no acknowledgement of " + std::to_string(FHeld.size()) + " messages at close";
      FRelp.reset();
    }
  } catch (const std::exception& e) {
    failure = e.what();
  }
  // A broken session is not used again: what it held is sent again, first.
  if (!failure.empty()) {
    LogError("Error sending message to host %s: %s", FHost.c_str(), failure.c_str());
    ReturnHeld(ABatch);
  }
  if (!FRelp) LogDebug("Disconnected from SysLog Receiver");
  Settle(attempt, std::move(ABatch), failure);

  if (total > 0) LogCountLine(total, sentBefore, started);
  if (saving && !saved.empty()) AppendToFile(saved);
}

std::string TSysLogSender::SendRelp(std::deque<TMessage>& ABatch, TAttempt& AAttempt,
                                    std::vector<std::string>* ASaved) {
  std::string encoded;
  std::string bytes;
  std::string_view text;
  while (HeadWireText(ABatch, AAttempt, encoded, text)) {
    const TBaseSysLogMessage& message = *ABatch.front();
    bytes.clear();
    FFramer.AppendFrame(bytes, text, message.Framing(), true);
    std::string failure = FRelp->Send(bytes);
    if (!failure.empty()) return failure;
    FHeld.push_back(THeldMessage{std::move(ABatch.front()), ASaved ? std::string(text) : std::string()});
    ABatch.pop_front();
    SettleAcknowledged(AAttempt, ASaved);
  }
  return {};
}

void TSysLogSender::SettleAcknowledged(TAttempt& AAttempt, std::vector<std::string>* ASaved) {
  // The library let the last one go, so at most a window of them were
  // unacknowledged; it may have said how many exactly. The receiver answers
  // in order: the older ones are taken.
  size_t keep = std::min(FHeld.size(), static_cast<size_t>(FRelp->Window()));
  if (const std::optional<int> unacknowledged = FRelp->Unacknowledged())
    keep = std::min(keep, static_cast<size_t>(std::max(*unacknowledged, 0)));
  while (FHeld.size() > keep) {
    AAttempt.Sent.push_back(std::move(FHeld.front().Message));
    if (ASaved) ASaved->push_back(std::move(FHeld.front().Text));
    FHeld.pop_front();
  }
  FHeldCount = FHeld.size();
  SettleDecided(AAttempt);
}

void TSysLogSender::ReturnHeld(std::deque<TMessage>& ABatch) {
  for (auto held = FHeld.rbegin(); held != FHeld.rend(); ++held) ABatch.push_front(std::move(held->Message));
  FHeld.clear();
  FHeldCount = 0;
  FRelp.reset();
}

bool TSysLogSender::WireText(const TBaseSysLogMessage& AMessage, std::string& AHolder, std::string_view& AText) {
  try {
    if (AMessage.SendMessageOnly()) {
      AText = AMessage.MessageContent();
    } else {
      AHolder = AMessage.EncodedMessage();
      AText = AHolder;
    }
    return true;
  } catch (const std::exception& e) {
    // A message without wire text will not get one by waiting: drop it.
    LogError("Error sending message to host %s: %s", FHost.c_str(), e.what());
    return false;
  }
}

bool TSysLogSender::HeadWireText(std::deque<TMessage>& ABatch, TAttempt& AAttempt, std::string& AHolder,
                                 std::string_view& AText) {
  while (!ABatch.empty()) {
    if (WireText(*ABatch.front(), AHolder, AText)) return true;
    AAttempt.Dropped.push_back(std::move(ABatch.front()));
    ABatch.pop_front();
  }
  return false;
}

std::string TSysLogSender::SendDatagrams(std::deque<TMessage>& ABatch, TAttempt& AAttempt,
                                         std::vector<std::string>* ASaved) {
  std::string& datagram = FWrite.Bytes;
  std::string encoded;
  while (!ABatch.empty()) {
    TBaseSysLogMessage& message = *ABatch.front();
    std::string_view text;
    TSendResult result = TSendResult::Drop;
    if (WireText(message, encoded, text)) {
      datagram.clear();
      FFramer.AppendFrame(datagram, text, message.Framing(), ABatch.size() == 1);
      std::string error;
      result = SendDatagram(datagram, error);
      if (result != TSendResult::Sent) LogError("Error sending message to host %s: %s", FHost.c_str(), error.c_str());
      if (result == TSendResult::Retry) return error;
      if (result == TSendResult::Sent && ASaved) ASaved->emplace_back(text);
    }
    (result == TSendResult::Sent ? AAttempt.Sent : AAttempt.Dropped).push_back(std::move(ABatch.front()));
    ABatch.pop_front();
    // With a copy file, the flush settles them once their lines are written.
    if (!ASaved) SettleDecided(AAttempt);
  }
  datagram.clear();
  return {};
}

std::string TSysLogSender::SendStream(std::deque<TMessage>& ABatch, TAttempt& AAttempt,
                                      std::vector<std::string>* ASaved) {
  std::string error;
  std::string encoded;
  std::string_view text;
  while (HeadWireText(ABatch, AAttempt, encoded, text)) {
    const TBaseSysLogMessage& message = *ABatch.front();
    // A message that would overfill the write goes in the next one. It stays
    // at the head until framed, so a failure puts the write's messages back
    // in front of it.
    if (!FWrite.Bytes.empty() && FWrite.Bytes.size() + text.size() > StreamWriteBytes &&
        !WriteStream(ABatch, AAttempt, ASaved, error))
      return error;
    const size_t start = FWrite.Bytes.size();
    FFramer.AppendFrame(FWrite.Bytes, text, message.Framing(), ABatch.size() == 1);
    if (FWrite.Bytes.size() - start > static_cast<size_t>(INT_MAX)) {
      LogError("Error sending message to host %s: message of %zu bytes is too large", FHost.c_str(),
               FWrite.Bytes.size() - start);
      FWrite.Bytes.resize(start);
      AAttempt.Dropped.push_back(std::move(ABatch.front()));
      ABatch.pop_front();
      continue;
    }
    FWrite.Ends.push_back(FWrite.Bytes.size());
    if (ASaved) FWrite.Texts.emplace_back(text);
    FWrite.Messages.push_back(std::move(ABatch.front()));
    ABatch.pop_front();
    if (FWrite.Bytes.size() >= StreamWriteBytes && !WriteStream(ABatch, AAttempt, ASaved, error)) return error;
  }
  if (!FWrite.Messages.empty() && !WriteStream(ABatch, AAttempt, ASaved, error)) return error;
  // One very large message must not keep its buffer for the life of the sender.
  if (FWrite.Bytes.capacity() > 4 * StreamWriteBytes) std::string().swap(FWrite.Bytes);
  return {};
}

bool TSysLogSender::WriteStream(std::deque<TMessage>& ABatch, TAttempt& AAttempt, std::vector<std::string>* ASaved,
                                std::string& AError) {
  TBlockingSocket& socket = *FBlockingSocket;
  const int length = static_cast<int>(FWrite.Bytes.size());
  int accepted = 0;
  try {
    accepted = socket.SendBytes(reinterpret_cast<const uint8_t*>(FWrite.Bytes.data()), length);
    if (accepted < length) AError = std::strerror(socket.LastError());
  } catch (const std::exception& e) {
    // No count of what went out before the failure: none of it counts.
    accepted = 0;
    AError = e.what();
    if (socket.LastError() != 0) AError += std::string(": ") + std::strerror(socket.LastError());
  }
  accepted = std::clamp(accepted, 0, length);
  FCounters->Bytes.fetch_add(static_cast<uint64_t>(accepted), std::memory_order_relaxed);
  // Messages that ended at or before the count went out whole.
  const size_t whole = static_cast<size_t>(
      std::upper_bound(FWrite.Ends.begin(), FWrite.Ends.end(), static_cast<size_t>(accepted)) - FWrite.Ends.begin());
  for (size_t i = 0; i < whole; ++i) AAttempt.Sent.push_back(std::move(FWrite.Messages[i]));
  // Counted as soon as the socket took them, not at the end of the flush
  // (with a copy file, once their lines are written).
  if (!ASaved) SettleDecided(AAttempt);
  if (ASaved)
    for (size_t i = 0; i < whole; ++i) ASaved->push_back(std::move(FWrite.Texts[i]));
  // The rest (a partly written message too: it goes again whole) back at the
  // head, in order.
  const size_t unsent = FWrite.Messages.size() - whole;
  ReturnToBatch(ABatch, whole);
  if (unsent == 0) return true;
  LogError("Error sending message to host %s: %s", FHost.c_str(), AError.c_str());
  return false;
}

void TSysLogSender::ReturnToBatch(std::deque<TMessage>& ABatch, size_t AFirst) {
  for (size_t i = FWrite.Messages.size(); i > AFirst; --i) ABatch.push_front(std::move(FWrite.Messages[i - 1]));
  FWrite.Bytes.clear();
  FWrite.Messages.clear();
  FWrite.Ends.clear();
  FWrite.Texts.clear();
}

TSysLogSender::TSendResult TSysLogSender::SendDatagram(const std::string& ABytes, std::string& AError) {
  TBlockingSocket& socket = *FBlockingSocket;
  if (ABytes.size() > static_cast<size_t>(INT_MAX)) {
    AError = "message of " + std::to_string(ABytes.size()) + " bytes is too large";
    return TSendResult::Drop;
  }
  const int length = static_cast<int>(ABytes.size());
  try {
    if (socket.SendMessage(reinterpret_cast<const uint8_t*>(ABytes.data()), length) == length) {
      FCounters->Bytes.fetch_add(static_cast<uint64_t>(length), std::memory_order_relaxed);
      return TSendResult::Sent;
    }
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

void TSysLogSender::LogCountLine(int ATotal, uint64_t ASentBefore, std::chrono::steady_clock::time_point AStarted) {
  const int sent = static_cast<int>(FSent.load() - ASentBefore);
  const double milliseconds =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - AStarted).count();
  LogDebug("[Senders] Sent %d of %d messages to host %s in %.3f  millisconds using %s", sent, ATotal,
           FHost.c_str(), milliseconds, TransportName(FTransport));
}

}  // namespace zor
