#include "platform/TcpListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/PlatformError.h"

namespace zor {

namespace {

constexpr int Backlog = 128;

}  // namespace

TTcpListener::TTcpListener(const std::string& AAddress, uint16_t APort) {
  sockaddr_storage address{};
  socklen_t length = 0;
  auto& v4 = reinterpret_cast<sockaddr_in&>(address);
  auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
  if (::inet_pton(AF_INET, AAddress.c_str(), &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    v4.sin_port = htons(APort);
    length = sizeof v4;
  } else if (::inet_pton(AF_INET6, AAddress.c_str(), &v6.sin6_addr) == 1) {
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(APort);
    length = sizeof v6;
  } else {
    throw EPlatformError("Cannot listen on \"" + AAddress + "\": not an IP address");
  }
  const std::string where = AAddress + ":" + std::to_string(APort);
  FHandle = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (FHandle < 0) throw EPlatformError::FromErrno("socket for " + where);
  const int yes = 1;
  (void)::setsockopt(FHandle, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (::bind(FHandle, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(FHandle, Backlog) != 0) {
    const int error = errno;
    ::close(FHandle);
    throw EPlatformError("Could not bind socket " + where + ": " + std::strerror(error), error);
  }
  length = sizeof address;
  (void)::getsockname(FHandle, reinterpret_cast<sockaddr*>(&address), &length);
  FPort = ntohs(address.ss_family == AF_INET ? v4.sin_port : v6.sin6_port);
}

TTcpListener::~TTcpListener() { ::close(FHandle); }

std::unique_ptr<TTcpConnection> TTcpListener::Accept(TEvent& AStop) {
  for (;;) {
    pollfd descriptors[2] = {{AStop.Handle(), POLLIN, 0}, {FHandle, POLLIN, 0}};
    const int ready = ::poll(descriptors, 2, -1);
    if (ready < 0 && errno != EINTR) throw EPlatformError::FromErrno("poll of a listening socket");
    if (AStop.IsSet()) return nullptr;
    if (ready <= 0 || (descriptors[1].revents & POLLIN) == 0) continue;
    const int handle = ::accept4(FHandle, nullptr, nullptr, SOCK_CLOEXEC);
    if (handle >= 0) return std::make_unique<TTcpConnection>(handle);
    // Out of descriptors or a client that gave up: wait a moment (or for the
    // stop) and go on; the pending connection stays in the backlog.
    if (errno != EINTR && errno != ECONNABORTED && errno != EAGAIN) (void)AStop.WaitFor(100);
  }
}

}  // namespace zor
