#include "syslog/SysLogSenders.h"

namespace zor {

TSysLogSenders::TSysLogSenders(TSyslogMessageQueue* AQueue)
    : TSenderRegistry(AQueue, TSenderRegistryNames{"SysLogSenders", "messages", "Sender", "syslog sender"}) {}

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
