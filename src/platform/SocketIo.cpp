#include "platform/SocketIo.h"

#include <sys/socket.h>

#include <cerrno>

namespace zor {

ssize_t SendNoSignal(int AHandle, const void* AData, size_t ASize) {
  ssize_t result;
  do result = ::send(AHandle, AData, ASize, MSG_NOSIGNAL);
  while (result < 0 && errno == EINTR);
  return result;
}

ssize_t ReceiveSome(int AHandle, void* ABuffer, size_t ASize) {
  ssize_t result;
  do result = ::recv(AHandle, ABuffer, ASize, 0);
  while (result < 0 && errno == EINTR);
  return result;
}

}  // namespace zor
