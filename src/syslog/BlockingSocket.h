#pragma once

#include <cstdint>
#include <string>

#include "platform/Errors.h"

// The client socket a syslog sender talks to its receiver through. One sender
// thread creates, uses and destroys each socket object; nothing in it is shared,
// so no method takes a lock.

namespace zor {

// A socket operation that failed in a way the caller must hear about (the TLS
// socket's connect and send). The message names host and port where it can.
class ESocketError : public EZorError {
 public:
  using EZorError::EZorError;
};

// Time limits of one socket, so that a receiver that stops answering can hold a
// sender for a bounded time only.
struct TSocketTimeouts {
  // Limit of a TCP connect (the TLS handshake has SendMilliseconds on top).
  uint32_t ConnectMilliseconds = 10000;
  // Limit of each blocking send and of each read of the TLS handshake.
  uint32_t SendMilliseconds = 30000;
  // How long a closing stream socket may wait for unsent data.
  uint16_t LingerSeconds = 30;
};

// Abstract blocking client socket: connect, disconnect, a connected flag and the
// send operations. Host and port are fixed at construction.
class TBlockingSocket {
 public:
  TBlockingSocket(std::string AHost, uint16_t APort);
  virtual ~TBlockingSocket() = default;
  TBlockingSocket(const TBlockingSocket&) = delete;
  TBlockingSocket& operator=(const TBlockingSocket&) = delete;

  const std::string& Host() const { return FHost; }
  uint16_t Port() const { return FPort; }

  virtual bool Connected() const = 0;
  // Prepares the socket for AProtocol/ASocketType (IPPROTO_*, SOCK_*). False,
  // with the reason logged, when it cannot be used.
  [[nodiscard]] virtual bool InitSocket(int AProtocol, int ASocketType) = 0;
  [[nodiscard]] virtual bool ConnectSocket() = 0;
  // Closes the connection; does nothing when there is none.
  virtual void DisconnectSocket() = 0;
  // Sends the text's bytes (UTF-8 as held) with the socket's text convention.
  virtual int SendMessage(const std::string& AMsg);
  // Sends exactly ALength bytes from AMsg. Returns ALength when the socket took
  // every byte, -1 otherwise (LastError() says why).
  virtual int SendMessage(const uint8_t* AMsg, int ALength) = 0;
  // Sends ALength bytes from AData and returns how many of them the socket
  // took, in order from the first: ALength when it took every byte, fewer when
  // the send failed part way (LastError() says why). A sender writing several
  // messages at once learns from it which of them went out whole. The default
  // knows no partial counts: ALength or 0, from SendMessage (whose exceptions
  // pass through).
  virtual int SendBytes(const uint8_t* AData, int ALength);

  // The errno value of the last failed operation, 0 when it succeeded.
  int LastError() const { return FLastError; }

 protected:
  void SetLastError(int AError) { FLastError = AError; }

 private:
  const std::string FHost;
  const uint16_t FPort;
  int FLastError = 0;
};

}  // namespace zor
