#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "delivery/SenderRegistry.h"
#include "syslog/SysLogSender.h"
#include "syslog/SyslogMessageQueue.h"

namespace zor {

// The registry of syslog senders and the dispatcher that feeds them from the
// outbound syslog queue (filled by the processing threads and the trainers):
// TSenderRegistry with the syslog names. See TSenderRegistry for life,
// ownership and threads; HasUDPSender and HasTCPSender are for the owner.
class TSysLogSenders : public TSenderRegistry<TSysLogSender, TBaseSysLogMessage> {
 public:
  explicit TSysLogSenders(TSyslogMessageQueue* AQueue);

  // Hands AMessage to the sender registered as ASenderName and returns true;
  // logs "Could not find sender %s" and returns false, leaving AMessage with
  // the caller, when there is none.
  bool SendMessage(std::unique_ptr<TBaseSysLogMessage>& AMessage, const std::string& ASenderName) {
    return SendItem(AMessage, ASenderName);
  }
  // Whether a sender for AIP:APort exists over UDP / over any stream transport.
  [[nodiscard]] bool HasUDPSender(const std::string& AIP, uint16_t APort) { return HasSender(AIP, APort, true); }
  [[nodiscard]] bool HasTCPSender(const std::string& AIP, uint16_t APort) { return HasSender(AIP, APort, false); }

 private:
  [[nodiscard]] bool HasSender(const std::string& AIP, uint16_t APort, bool AUdp);
};

}  // namespace zor
