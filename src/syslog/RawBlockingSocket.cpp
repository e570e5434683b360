#include "syslog/RawBlockingSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/SocketIo.h"
#include "support/Log.h"
#include "support/Utilities.h"

namespace zor {

namespace {

timeval ToTimeval(uint32_t AMilliseconds) {
  timeval result{};
  result.tv_sec = static_cast<time_t>(AMilliseconds / 1000);
  result.tv_usec = static_cast<suseconds_t>((AMilliseconds % 1000) * 1000);
  return result;
}

std::string AddressText(const sockaddr_storage& AAddress) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (AAddress.ss_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(AAddress).sin_addr, text, sizeof text);
  else if (AAddress.ss_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(AAddress).sin6_addr, text, sizeof text);
  return text;
}

}  // namespace

int TSocketHandle::Close() {
  if (FFd < 0) return 0;
  const int result = ::close(FFd);
  FFd = -1;
  return result;
}

TRawBlockingSocket::TRawBlockingSocket(std::string AHost, uint16_t APort, const TSocketTimeouts& ATimeouts)
    : TBlockingSocket(std::move(AHost), APort), FTimeouts(ATimeouts) {}

TRawBlockingSocket::~TRawBlockingSocket() { DisconnectSocket(); }

bool TRawBlockingSocket::InitSocket(int AProtocol, int ASocketType) {
  FProtocol = AProtocol;
  FSocketType = ASocketType;
  FAddressLength = 0;

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = ASocketType;
  hints.ai_protocol = AProtocol;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(Port());
  const int lookup = getaddrinfo(Host().c_str(), port.c_str(), &hints, &found);
  if (lookup != 0) {
    const int error = lookup == EAI_SYSTEM ? errno : lookup;
    SetLastError(lookup == EAI_SYSTEM ? errno : EHOSTUNREACH);
    LogFatal(TUtilities::Format("GetHostByName failed with error code %d: %s", error,
                        lookup == EAI_SYSTEM ? std::strerror(error) : gai_strerror(lookup)));
    return false;
  }
  if (found == nullptr || found->ai_addrlen > sizeof FAddress) {
    if (found != nullptr) freeaddrinfo(found);
    SetLastError(EHOSTUNREACH);
    LogFatal(TUtilities::Format("No IP Address found for host %s", Host().c_str()));
    return false;
  }
  std::memcpy(&FAddress, found->ai_addr, found->ai_addrlen);
  FAddressLength = found->ai_addrlen;
  freeaddrinfo(found);
  LogDebug("Got IP Address %s for host %s", AddressText(FAddress).c_str(), Host().c_str());
  return CreateSocket();
}

bool TRawBlockingSocket::CreateSocket() {
  const int fd = ::socket(FAddress.ss_family, FSocketType | SOCK_CLOEXEC, FProtocol);
  if (fd < 0) {
    SetLastError(errno);
    FSocket.Close();
    LogFatal(TUtilities::Format("Socket Failed. Error Code: %d. %s", LastError(), std::strerror(LastError())));
    return false;
  }
  FSocket.Reset(fd);
  // A closing socket waits a bounded time for data still unsent.
  linger lingerOption{};
  lingerOption.l_onoff = 1;
  lingerOption.l_linger = FTimeouts.LingerSeconds;
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &lingerOption, sizeof lingerOption);
  const timeval sendLimit = ToTimeval(FTimeouts.SendMilliseconds);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &sendLimit, sizeof sendLimit);
  return true;
}

bool TRawBlockingSocket::ConnectSocket() {
  // A connection the peer has ended is replaced, not connected again.
  if (FConnected) DisconnectSocket();
  bool ready = FAddressLength != 0;
  if (!ready) SetLastError(EDESTADDRREQ);
  if (ready && !FSocket.Valid()) ready = CreateSocket();
  if (ready) ready = ConnectWithTimeout();
  if (!ready) {
    // The state of a socket after a failed connect is unspecified: start the
    // next attempt with a fresh one.
    FSocket.Close();
    FConnected = false;
    LogFatal(TUtilities::Format("Connect Failed. Error Code: %d. %s", LastError(), std::strerror(LastError())));
    return false;
  }
  FConnected = true;
  SetLastError(0);
  return true;
}

bool TRawBlockingSocket::ConnectWithTimeout() {
  const int fd = FSocket.Get();
  const int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&FAddress), FAddressLength);
  int error = result == 0 ? 0 : errno;
  if (result != 0 && error == EINPROGRESS) {
    pollfd waitFor{fd, POLLOUT, 0};
    do {
      result = poll(&waitFor, 1, static_cast<int>(FTimeouts.ConnectMilliseconds));
    } while (result < 0 && errno == EINTR);
    if (result == 0) {
      error = ETIMEDOUT;
    } else if (result < 0) {
      error = errno;
    } else {
      socklen_t length = sizeof error;
      if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    }
  }
  fcntl(fd, F_SETFL, flags);
  SetLastError(error);
  return error == 0;
}

bool TRawBlockingSocket::Connected() const {
  if (!FConnected || !FSocket.Valid()) return false;
  if (FSocketType != SOCK_STREAM) return true;
  // The receiver never talks back on a syslog stream: anything readable is an
  // end of stream or an error.
  pollfd probe{FSocket.Get(), POLLIN | POLLRDHUP, 0};
  if (poll(&probe, 1, 0) <= 0) return true;
  if (probe.revents & (POLLRDHUP | POLLHUP | POLLERR)) return false;
  char peek;
  return recv(FSocket.Get(), &peek, 1, MSG_PEEK | MSG_DONTWAIT) != 0;
}

void TRawBlockingSocket::DisconnectSocket() {
  if (!FSocket.Valid()) return;
  if (FSocket.Close() != 0)
    LogError("CloseSocket failed. Error Code: %d. %s", errno, std::strerror(errno));
  FConnected = false;
}

int TRawBlockingSocket::SendMessage(const uint8_t* AMsg, int ALength) {
  if (ALength < 0) {
    SetLastError(EINVAL);
    return -1;
  }
  return SendBytes(AMsg, ALength) == ALength ? ALength : -1;
}

int TRawBlockingSocket::SendBytes(const uint8_t* AData, int ALength) {
  if (!FSocket.Valid() || ALength < 0) {
    SetLastError(ENOTCONN);
    return 0;
  }
  int sent = 0;
  while (sent < ALength) {
    const ssize_t result = SendNoSignal(FSocket.Get(), AData + sent, static_cast<size_t>(ALength - sent));
    if (result < 0) {
      // EAGAIN here is the send time-out running out.
      SetLastError(errno == EAGAIN ? ETIMEDOUT : errno);
      return sent;
    }
    sent += static_cast<int>(result);
  }
  SetLastError(0);
  return sent;
}

TBlockingTCPSocket::TBlockingTCPSocket(std::string AHost, uint16_t APort, const TSocketTimeouts& ATimeouts)
    : TRawBlockingSocket(std::move(AHost), APort, ATimeouts) {
  (void)InitSocket(IPPROTO_TCP, SOCK_STREAM);
}

TBlockingUDPSocket::TBlockingUDPSocket(std::string AHost, uint16_t APort, const TSocketTimeouts& ATimeouts)
    : TRawBlockingSocket(std::move(AHost), APort, ATimeouts) {
  (void)InitSocket(IPPROTO_UDP, SOCK_DGRAM);
}

}  // namespace zor
