#include "platform/TcpConnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/SocketIo.h"

namespace zor {

namespace {

void AddressOf(const sockaddr_storage& AAddress, std::string& AText, int& APort) {
  char text[INET6_ADDRSTRLEN] = {};
  if (AAddress.ss_family == AF_INET) {
    const auto& address = reinterpret_cast<const sockaddr_in&>(AAddress);
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    APort = ntohs(address.sin_port);
  } else if (AAddress.ss_family == AF_INET6) {
    const auto& address = reinterpret_cast<const sockaddr_in6&>(AAddress);
    ::inet_ntop(AF_INET6, &address.sin6_addr, text, sizeof text);
    APort = ntohs(address.sin6_port);
  }
  AText = text;
}

// Waits for AEvents on AHandle until ADeadline; true when they came.
bool WaitFor(int AHandle, short AEvents, TTcpConnection::TClock::time_point ADeadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(ADeadline - TTcpConnection::TClock::now());
    if (left.count() < 0) return false;
    pollfd descriptor{AHandle, AEvents, 0};
    // Rounded up, so that a wait never ends a little before its deadline.
    const int ready = ::poll(&descriptor, 1, static_cast<int>(left.count()) + 1);
    if (ready > 0) return (descriptor.revents & (AEvents | POLLHUP | POLLERR)) != 0;
    if (ready < 0 && errno != EINTR) return false;
  }
}

}  // namespace

TTcpConnection::TTcpConnection(int AHandle) : FHandle(AHandle) {
  const int flags = ::fcntl(FHandle, F_GETFL, 0);
  if (flags >= 0) (void)::fcntl(FHandle, F_SETFL, flags | O_NONBLOCK);
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getpeername(FHandle, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    AddressOf(address, FPeerAddress, FPeerPort);
  length = sizeof address;
  if (::getsockname(FHandle, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    AddressOf(address, FLocalAddress, FLocalPort);
}

TTcpConnection::~TTcpConnection() { ::close(FHandle); }

bool TTcpConnection::PeerIsLoopback() const { return IsLoopbackAddress(FPeerAddress); }

bool TTcpConnection::WaitReadable(TClock::time_point ADeadline) const { return WaitFor(FHandle, POLLIN, ADeadline); }

bool TTcpConnection::WaitWritable(TClock::time_point ADeadline) const { return WaitFor(FHandle, POLLOUT, ADeadline); }

ssize_t TTcpConnection::Read(char* ABuffer, size_t ASize, TClock::time_point ADeadline) {
  for (;;) {
    const ssize_t count = ReceiveSome(FHandle, ABuffer, ASize);
    if (count >= 0) return count;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    if (!WaitReadable(ADeadline)) return -1;
  }
}

ssize_t TTcpConnection::Write(const char* ABuffer, size_t ASize, TClock::time_point ADeadline) {
  size_t written = 0;
  while (written < ASize) {
    const ssize_t count = SendNoSignal(FHandle, ABuffer + written, ASize - written);
    if (count > 0) {
      written += static_cast<size_t>(count);
      continue;
    }
    if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    if (!WaitWritable(ADeadline)) return -1;
  }
  return static_cast<ssize_t>(written);
}

void TTcpConnection::StopReading() { (void)::shutdown(FHandle, SHUT_RD); }

bool IsLoopbackAddress(const std::string& AAddress) {
  in_addr v4{};
  if (::inet_pton(AF_INET, AAddress.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (::inet_pton(AF_INET6, AAddress.c_str(), &v6) != 1) return false;
  if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
  return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

}  // namespace zor
