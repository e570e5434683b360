#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "core/CustomThread.h"
#include "core/velSlimReadWriteLock.h"
#include "syslog/SysLogSender.h"
#include "syslog/SyslogMessageQueue.h"

namespace zor {

// The registry of syslog senders and the dispatcher that feeds them. Its
// thread consumes the outbound syslog queue (filled by the processing threads
// and the trainers): each time the queue signals, it takes everything queued,
// groups the messages by destination ("host:port", compared exactly) and
// hands each group to its sender as one batch, so a burst costs one lock and
// one wake-up per sender. It never waits for the network.
//
// Life: the pipeline set-up adds one sender per destination, then starts the
// registry, which starts every sender. Stopping the registry tells every
// sender to stop; Clear then waits for each sender's thread, puts the
// messages the senders had not sent back at the head of the outbound queue
// (so the registry of the next start-up sends them, not the bin), and frees
// the senders.
//
// Ownership: the registry owns its senders; the queue is borrowed and must
// outlive the registry.
//
// Threads: AddSender, Clear, HasUDPSender and HasTCPSender are for the owner,
// while the registry is not started (the dictionary changes only then).
// SendMessage may be called from any thread.
class TSysLogSenders : public TCustomThread {
 public:
  explicit TSysLogSenders(TSyslogMessageQueue* AQueue);
  ~TSysLogSenders() override;

  // "host:port", the key of a sender and of a message's destination.
  [[nodiscard]] static std::string DestinationKey(const std::string& AHost, uint16_t APort);

  // Registers ASender under its destination key. Throws EZorError when a
  // sender with that key exists.
  void AddSender(std::unique_ptr<TSysLogSender>&& ASender);
  // Hands AMessage to the sender registered as ASenderName and returns true;
  // logs "Could not find sender %s" and returns false, leaving AMessage with
  // the caller, when there is none.
  bool SendMessage(std::unique_ptr<TBaseSysLogMessage>& AMessage, const std::string& ASenderName);
  // Whether a sender for AIP:APort exists over UDP / over any stream transport.
  [[nodiscard]] bool HasUDPSender(const std::string& AIP, uint16_t APort);
  [[nodiscard]] bool HasTCPSender(const std::string& AIP, uint16_t APort);
  // The sender registered under AKey, or null. Borrowed; valid until Clear.
  [[nodiscard]] TSysLogSender* FindSender(const std::string& AKey);
  [[nodiscard]] size_t Count();
  // Messages waiting in the senders' queues, all destinations together.
  [[nodiscard]] size_t QueuedCount();
  // Does nothing while the senders are started; see the class comment.
  void Clear();

 protected:
  bool BeforeThreadStart(bool AWaitTillStarted) override;
  bool BeforeThreadStop(bool AWaitTillFinished) override;
  bool Execute() override;

 private:
  using TSenderDict = std::map<std::string, std::unique_ptr<TSysLogSender>>;

  [[nodiscard]] bool HasSender(const std::string& AIP, uint16_t APort, bool AUdp);
  void Dispatch();

  TSyslogMessageQueue* const FQueue;
  TvelSlimReadWriteLock FMulitReadWriteLock;
  TSenderDict FSenderDict GUARDED_BY(FMulitReadWriteLock);
  bool FSendersStarted GUARDED_BY(FMulitReadWriteLock) = false;
};

}  // namespace zor
