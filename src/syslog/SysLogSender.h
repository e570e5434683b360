#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/SenderWorker.h"
#include "syslog/BaseSysLogMessage.h"
#include "syslog/BlockingSocket.h"
#include "syslog/RelpClient.h"
#include "syslog/SyslogFramer.h"
#include "syslog/SyslogGlobal.h"

namespace zor {

// Options of one sender, copied into it.
struct TSyslogSenderOptions {
  // Leave the delimiter off the last message of a flush (not when Persistent).
  bool NoDelimOnLast = false;
  // Put in front of every message ("%s %s " with ForwardIPList) when not blank.
  std::string ForwardHeader;
  std::string ForwardIPList;
  // When not empty, the text of every message sent is appended to this file.
  std::string FileName;
  // Keep the connection open between flushes.
  bool Persistent = false;
  // Flush as soon as this many messages are queued / at the latest after this
  // many seconds; both must be non-zero to delay flushing at all.
  uint32_t QueueCountThreshold = 0;
  uint32_t QueueSecondsThreshold = 0;

  void Clear() { *this = TSyslogSenderOptions(); }
};

// Settings that the service leaves at their defaults and tests change.
struct TSysLogSenderTuning {
  using TClock = TDeliveryTuning::TClock;
  // Time source of the flush thresholds and the retry back-off (null: the
  // steady clock).
  TClock Clock;
  uint32_t RetryInitialMilliseconds = 1000;
  uint32_t RetryMaxMilliseconds = 60000;
  // The most messages a sender keeps; beyond it the oldest are dropped.
  size_t MaxQueuedMessages = 100000;
  // Over TCP, TLS and RELP (RELP rounds them up to whole seconds).
  TSocketTimeouts SocketTimeouts;
  // Over RELP: messages sent and not yet acknowledged at most (at least 2).
  int RelpWindow = 128;
  // Makes the sender's socket (null: the socket of the transport, with
  // SocketTimeouts). Lets a test put a scripted socket in the sender's place.
  std::function<std::unique_ptr<TBlockingSocket>()> SocketFactory;
  // Where the sender counts (null: counters of its own).
  std::shared_ptr<TDestinationCounters> Counters;
};

// What became of the messages handed to one sender (TDeliveryCounts): Sent
// means taken whole by the receiver's socket; Dropped counts queue overflow,
// a datagram too large, a message without wire text, and messages still
// queued when the sender was freed.
using TSyslogDeliveryCounts = TDeliveryCounts;

// Path of the copy file of a receiver that saves to file:
// ASvcConfigDir/SysLogData/<AReceiverName>.bsd. Path separators and NULs in
// the name become "_", so a receiver name cannot point outside that folder.
std::filesystem::path SysLogCopyFileName(const std::filesystem::path& ASvcConfigDir,
                                         const std::string& AReceiverName);

// The worker thread that owns the traffic to one syslog receiver (one host and
// port): the socket-writing part on top of the delivery core (TSenderWorker:
// queue, thresholds, back-off, outcome per message).
//
// Producers (the sender registry) hand messages over with AddMessage and
// AddMessageBatch from any thread; they take the queue lock only to append.
// The sender thread flushes on its count and time thresholds: it takes the
// queue out under the lock and sends outside it, so producers never wait for
// the network. The socket, framer and copy file belong to the sender thread
// alone.
//
// Writes: over UDP each message is one datagram. Over TCP and TLS a flush's
// messages are framed one after another into writes of about 256 KiB, each
// handed to the socket in one call (TBlockingSocket::SendBytes).
//
// Delivery: a message counts as sent only when the socket took all its bytes.
// When a write fails part way, the messages it held whole before the failure
// point count as sent; a message cut by the failure is sent again whole with
// the rest (the receiver may then get part of it twice).
// When the receiver cannot be reached or a send fails, the unsent messages go
// back to the head of the queue, in order, and the sender tries again after
// TRetryBackOff's wait (1 s doubling to 60 s; one log line per attempt) until
// the receiver takes them or the sender stops. The queue keeps at most
// MaxQueuedMessages; when it overflows, the oldest are dropped with an error
// line that counts them. A datagram too large for UDP, and a message whose
// wire text cannot be produced, is logged and dropped. Counts() has the totals.
//
// Over RELP (TRelpClient) each message is one command of a session, and it
// counts as sent only once the receiver acknowledged it. Sent messages are
// held (QueuedCount includes them) until their acknowledgement is seen: by
// the window rule, by the library's count of unacknowledged commands, and,
// when a flush leaves nothing queued, by the close handshake that ends the
// session (the next flush opens a new one). When the session breaks, the held
// messages go back to the head of the queue with the unsent ones and a new
// session sends them again, in order: the receiver may get up to RelpWindow
// messages twice, and loses none. Held messages whose acknowledgement was not
// seen when the thread ends go back to the queue too (an owner that takes the
// queue back sends them again).
//
// The copy file is written in UTF-8 (no byte-order mark), each text followed
// by CR LF.
//
// The owner stops the thread (ThreadStop with waiting) before freeing the
// sender; the destructor also does so. Messages still queued then are dropped
// and logged.
class TSysLogSender : public TSenderWorker<TBaseSysLogMessage> {
 public:
  using TMessage = TItemPtr;
  using TMessageList = TItemList;

  // A persistent TCP or TLS sender connects at once; a failure is logged and
  // the first flush tries again.
  TSysLogSender(std::string AHost, uint16_t APort, TSysLogTransport ATransport, TSyslogDelimiter ADelimiter,
                std::string ASenderName, const TSyslogSenderOptions& ASenderOptions,
                TSysLogSenderTuning ATuning = {});
  ~TSysLogSender() override;

  // Takes AMessage and queues it; returns its name=value text.
  std::string AddMessage(TMessage&& AMessage);
  // Takes every message of AMessageBatch, in list order, and wakes the sender
  // once (also for an empty list). AMessageBatch is left empty.
  void AddMessageBatch(TMessageList&& AMessageBatch) { AddBatch(std::move(AMessageBatch)); }

  // The name is set before the thread starts.
  const std::string& SenderName() const { return FName; }
  void SetSenderName(const std::string& AValue) { FName = AValue; }
  const std::string& DestinationHost() const { return FHost; }
  uint16_t DestinationPort() const { return FPort; }
  TSysLogTransport DestinationTransport() const { return FTransport; }
  TSyslogDelimiter Delimiter() const { return FDelimiter; }

  // TakeQueued and Counts: see TSenderWorker. QueuedCount also counts the
  // messages held for their acknowledgement over RELP.
  size_t QueuedCount() const override;

 protected:
  bool Execute() override;
  void Flush() override;

 private:
  enum class TSendResult { Sent, Retry, Drop };
  using TAttempt = TDeliveryAttempt<TBaseSysLogMessage>;

  // The socket for the next send, created (and logged) when there is none.
  TBlockingSocket& Socket();
  void DropSocket();
  // The wire text of AMessage, viewed in its content or in AHolder. False when
  // it has none: logged (the caller drops it).
  bool WireText(const TBaseSysLogMessage& AMessage, std::string& AHolder, std::string_view& AText);
  // Moves the messages at the head of ABatch that have no wire text to
  // AAttempt's dropped ones. False when ABatch is left empty; otherwise AText
  // is the wire text of its head (viewed as in WireText).
  bool HeadWireText(std::deque<TMessage>& ABatch, TAttempt& AAttempt, std::string& AHolder, std::string_view& AText);
  // Sends ABatch from its head, one datagram per message; each message is
  // settled (sent or dropped) through AAttempt as soon as that is known, so
  // Counts() follows the socket. On a failure that a retry can mend,
  // returns the reason and leaves the unsent messages in ABatch; otherwise
  // returns "" with ABatch empty.
  std::string SendDatagrams(std::deque<TMessage>& ABatch, TAttempt& AAttempt, std::vector<std::string>* ASaved);
  TSendResult SendDatagram(const std::string& ABytes, std::string& AError);
  // The same for a stream: consecutive messages are framed into one write of
  // about StreamWriteBytes.
  std::string SendStream(std::deque<TMessage>& ABatch, TAttempt& AAttempt, std::vector<std::string>* ASaved);
  // Writes FWrite. The messages whose bytes the socket took whole count as
  // sent; on a failure the others go back to the head of ABatch, in order,
  // and the result is false with AError set. FWrite is empty after it.
  bool WriteStream(std::deque<TMessage>& ABatch, TAttempt& AAttempt, std::vector<std::string>* ASaved,
                   std::string& AError);
  // Puts FWrite's messages from index AFirst on back at the head of ABatch,
  // in order, and empties FWrite.
  void ReturnToBatch(std::deque<TMessage>& ABatch, size_t AFirst);
  // Over RELP: FlushRelp is the whole flush; SendRelp sends ABatch from its
  // head (held messages that are pushed out count as sent) and returns "" or
  // the failure, leaving the unsent messages in ABatch.
  void FlushRelp(std::deque<TMessage>&& ABatch);
  std::string SendRelp(std::deque<TMessage>& ABatch, TAttempt& AAttempt, std::vector<std::string>* ASaved);
  // Settles the held messages the receiver is known to have taken (oldest
  // first) as sent through AAttempt.
  void SettleAcknowledged(TAttempt& AAttempt, std::vector<std::string>* ASaved);
  // Puts the held messages back at the head of ABatch, in order, and closes
  // the session.
  void ReturnHeld(std::deque<TMessage>& ABatch);
  void AppendToFile(const std::vector<std::string>& ATexts);
  // The debug line of one flush: what was sent of ATotal since FSent stood at
  // ASentBefore, and how long it took since AStarted.
  void LogCountLine(int ATotal, uint64_t ASentBefore, std::chrono::steady_clock::time_point AStarted);

  // Constant after construction.
  const std::string FHost;
  const uint16_t FPort;
  const TSysLogTransport FTransport;
  const TSyslogDelimiter FDelimiter;
  const TSyslogSenderOptions FSenderOptions;
  const TSocketTimeouts FSocketTimeouts;
  const TRelpLimits FRelpLimits;
  const std::function<std::unique_ptr<TBlockingSocket>()> FSocketFactory;
  const TSyslogFramer FFramer;
  std::string FName;

  // The sender thread's own (and the constructor's, before the thread starts).
  std::unique_ptr<TBlockingSocket> FBlockingSocket;
  // The write being built: the framed bytes of Messages, where message i
  // ends at Ends[i]; Texts their wire texts when the copy file is on.
  struct TStreamWrite {
    std::string Bytes;
    std::vector<TMessage> Messages;
    std::vector<size_t> Ends;
    std::vector<std::string> Texts;
  };
  TStreamWrite FWrite;
  // Over RELP: the session, and the messages it sent whose acknowledgement
  // was not seen yet, oldest first (Text kept when the copy file is on).
  struct THeldMessage {
    TMessage Message;
    std::string Text;
  };
  std::unique_ptr<TRelpClient> FRelp;
  std::deque<THeldMessage> FHeld;
  // FHeld's size, for QueuedCount on other threads.
  std::atomic<size_t> FHeldCount{0};
};

}  // namespace zor
