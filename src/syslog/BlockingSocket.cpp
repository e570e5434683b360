#include "syslog/BlockingSocket.h"

#include <utility>

namespace zor {

TBlockingSocket::TBlockingSocket(std::string AHost, uint16_t APort) : FHost(std::move(AHost)), FPort(APort) {}

int TBlockingSocket::SendMessage(const std::string& AMsg) {
  return SendMessage(reinterpret_cast<const uint8_t*>(AMsg.data()), static_cast<int>(AMsg.size()));
}

int TBlockingSocket::SendBytes(const uint8_t* AData, int ALength) {
  return SendMessage(AData, ALength) == ALength ? ALength : 0;
}

}  // namespace zor
