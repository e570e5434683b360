#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>

#include "syslog/BlockingSocket.h"

namespace zor {

// Owns one socket descriptor and closes it when it goes. -1 means none.
class TSocketHandle {
 public:
  TSocketHandle() = default;
  explicit TSocketHandle(int AFd) : FFd(AFd) {}
  ~TSocketHandle() { Close(); }
  TSocketHandle(const TSocketHandle&) = delete;
  TSocketHandle& operator=(const TSocketHandle&) = delete;

  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  // Closes the descriptor; returns close's result (0 when there was none).
  int Close();
  // Closes the held descriptor and takes AFd.
  void Reset(int AFd) {
    Close();
    FFd = AFd;
  }

 private:
  int FFd = -1;
};

// The plain POSIX socket of the UDP and TCP senders. Never throws: every
// failure is logged and reported through a false or negative result, and
// LastError() keeps its errno.
//
// The receiver's name is looked up once, by InitSocket (run by the
// constructors of the two subclasses). A socket whose connect failed, or that
// was disconnected, gets a fresh descriptor at the next ConnectSocket, so a
// persistent sender can reconnect through the same object.
//
// Every send uses MSG_NOSIGNAL: a receiver that went away shows as an EPIPE
// result, never as a SIGPIPE.
class TRawBlockingSocket : public TBlockingSocket {
 public:
  ~TRawBlockingSocket() override;

  // A stream socket whose peer has closed or reset the connection reports
  // itself not connected, so the next flush reconnects instead of writing into
  // a dead connection.
  bool Connected() const override;
  // Looks the host up (IPv4 or IPv6, the first address getaddrinfo gives) and
  // creates the socket with the linger option. False, logged, on failure.
  [[nodiscard]] bool InitSocket(int AProtocol, int ASocketType) override;
  // Connects within TSocketTimeouts::ConnectMilliseconds. For UDP this only
  // fixes the default peer and sends nothing.
  [[nodiscard]] bool ConnectSocket() override;
  void DisconnectSocket() override;
  using TBlockingSocket::SendMessage;
  // Sends every byte, looping over partial sends; each send call is limited by
  // TSocketTimeouts::SendMilliseconds.
  int SendMessage(const uint8_t* AMsg, int ALength) override;
  // The same send; on a failure, the bytes the kernel took before it.
  int SendBytes(const uint8_t* AData, int ALength) override;

  // The descriptor, -1 when there is none. The TLS socket runs over it.
  int Handle() const { return FSocket.Get(); }

 protected:
  TRawBlockingSocket(std::string AHost, uint16_t APort, const TSocketTimeouts& ATimeouts);

 private:
  [[nodiscard]] bool CreateSocket();
  [[nodiscard]] bool ConnectWithTimeout();

  const TSocketTimeouts FTimeouts;
  TSocketHandle FSocket;
  sockaddr_storage FAddress{};
  socklen_t FAddressLength = 0;
  int FProtocol = 0;
  int FSocketType = 0;
  bool FConnected = false;
};

// TCP stream socket.
class TBlockingTCPSocket : public TRawBlockingSocket {
 public:
  TBlockingTCPSocket(std::string AHost, uint16_t APort, const TSocketTimeouts& ATimeouts = {});
};

// UDP datagram socket: each send is one datagram.
class TBlockingUDPSocket : public TRawBlockingSocket {
 public:
  TBlockingUDPSocket(std::string AHost, uint16_t APort, const TSocketTimeouts& ATimeouts = {});
};

}  // namespace zor
