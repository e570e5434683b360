#include "syslog/SysLogSenders.h"

#include "delivery/ReceiptListener.h"

namespace zor {

TSysLogSenders::TSysLogSenders(TSyslogMessageQueue* AQueue)
    : TSenderRegistry(AQueue, TSenderRegistryNames{"SysLogSenders", "messages", "Sender", "syslog sender"}) {
  // A message the receiver took, or that was given up, is acknowledged to
  // the reader batch it came from.
  SetListener(std::make_unique<TReceiptListener<TBaseSysLogMessage>>());
}

bool TSysLogSenders::HasSender(const std::string& AIP, uint16_t APort, bool AUdp) {
  bool found = false;
  ForEachSender([&](const std::string&, TSysLogSender& ASender) {
    if (ASender.DestinationHost() == AIP && ASender.DestinationPort() == APort &&
        (ASender.DestinationTransport() == TSysLogTransport::sltUDP) == AUdp)
      found = true;
  });
  return found;
}

}  // namespace zor
