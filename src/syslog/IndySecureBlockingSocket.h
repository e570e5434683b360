#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <memory>
#include <string>

#include "syslog/RawBlockingSocket.h"

namespace zor {

struct TSslContextFree {
  void operator()(SSL_CTX* AContext) const { SSL_CTX_free(AContext); }
};
struct TSslFree {
  void operator()(SSL* ASsl) const { SSL_free(ASsl); }
};
using TSslContextPtr = std::unique_ptr<SSL_CTX, TSslContextFree>;
using TSslPtr = std::unique_ptr<SSL, TSslFree>;

// TLS client socket: a TCP connection (TBlockingTCPSocket, with its connect
// and send time-outs) carrying an OpenSSL TLS layer pinned to exactly one
// protocol version. The receiver's certificate is not checked and no client
// certificate is offered.
//
// TLS 1.0 and 1.1 are below OpenSSL 3's default security level; a socket asked
// for one of them lowers its context to level 0, since that is what the
// receiver's configuration asks for.
//
// Unlike the raw sockets this one throws ESocketError: from ConnectSocket
// when the connection or the handshake fails, and "Socket Error sending
// message" from the sends. The TLS records go through a BIO that writes with
// MSG_NOSIGNAL, so a receiver that went away never raises SIGPIPE.
class TIndySecureBlockingSocket : public TBlockingSocket {
 public:
  // ATLSVersion: high byte 1 selects by the low byte 0 TLS 1.0, 1 TLS 1.1,
  // 2 TLS 1.2 (256, 257, 258). Any other value leaves TLS 1.2.
  TIndySecureBlockingSocket(std::string AHost, uint16_t APort, uint16_t ATLSVersion,
                            const TSocketTimeouts& ATimeouts = {});
  ~TIndySecureBlockingSocket() override;

  bool Connected() const override;
  // Prepares the TLS context; the arguments are ignored.
  [[nodiscard]] bool InitSocket(int AProtocol, int ASocketType) override;
  // Connects and shakes hands; throws ESocketError on failure. True after a
  // successful handshake.
  [[nodiscard]] bool ConnectSocket() override;
  void DisconnectSocket() override;
  // Writes the text and a CR LF line end. Returns the bytes written.
  int SendMessage(const std::string& AMsg) override;
  int SendMessage(const uint8_t* AMsg, int ALength) override;
  // Writes in pieces of at most one TLS record, so that a failure can say how
  // many bytes went out before it; does not throw. A failed write ends the
  // session, as for SendMessage.
  int SendBytes(const uint8_t* AData, int ALength) override;

  // The negotiated protocol version (TLS1_2_VERSION, ...), 0 when not connected.
  int NegotiatedVersion() const;

 private:
  int FTlsVersion = TLS1_2_VERSION;
  std::unique_ptr<TBlockingTCPSocket> FTCPClient;
  TSslContextPtr FContext;
  TSslPtr FSsl;
};

}  // namespace zor
