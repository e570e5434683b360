#include "syslog/IndySecureBlockingSocket.h"

#include <arpa/inet.h>
#include <openssl/err.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "support/SocketBio.h"

namespace zor {

namespace {

constexpr char SendErrorText[] = "Socket Error sending message";

// The first queued OpenSSL error as text, or AFallback.
std::string TakeSslError(const std::string& AFallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return AFallback;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

bool IsAddressLiteral(const std::string& AHost) {
  unsigned char buffer[sizeof(in6_addr)];
  return inet_pton(AF_INET, AHost.c_str(), buffer) == 1 || inet_pton(AF_INET6, AHost.c_str(), buffer) == 1;
}

}  // namespace

TIndySecureBlockingSocket::TIndySecureBlockingSocket(std::string AHost, uint16_t APort, uint16_t ATLSVersion,
                                                     const TSocketTimeouts& ATimeouts)
    : TBlockingSocket(std::move(AHost), APort),
      FTCPClient(std::make_unique<TBlockingTCPSocket>(Host(), Port(), ATimeouts)) {
  if ((ATLSVersion >> 8) == 1) {
    switch (ATLSVersion & 0xFF) {
      case 0: FTlsVersion = TLS1_VERSION; break;
      case 1: FTlsVersion = TLS1_1_VERSION; break;
      case 2: FTlsVersion = TLS1_2_VERSION; break;
      default: break;
    }
  }
  (void)InitSocket(0, 0);
}

TIndySecureBlockingSocket::~TIndySecureBlockingSocket() { DisconnectSocket(); }

bool TIndySecureBlockingSocket::InitSocket(int, int) {
  FContext.reset(SSL_CTX_new(TLS_client_method()));
  if (!FContext) return false;
  SSL_CTX_set_min_proto_version(FContext.get(), FTlsVersion);
  SSL_CTX_set_max_proto_version(FContext.get(), FTlsVersion);
  if (FTlsVersion < TLS1_2_VERSION) {
    SSL_CTX_set_security_level(FContext.get(), 0);
    SSL_CTX_set_cipher_list(FContext.get(), "DEFAULT:@SECLEVEL=0");
  }
  SSL_CTX_set_verify(FContext.get(), SSL_VERIFY_NONE, nullptr);
  return true;
}

bool TIndySecureBlockingSocket::Connected() const { return FSsl != nullptr && FTCPClient->Connected(); }

bool TIndySecureBlockingSocket::ConnectSocket() {
  const std::string where = Host() + ":" + std::to_string(Port());
  DisconnectSocket();
  if (!FContext) throw ESocketError("TLS context could not be created for " + where);
  if (!FTCPClient->ConnectSocket()) {
    SetLastError(FTCPClient->LastError());
    throw ESocketError("Could not connect to " + where + ": " + std::strerror(LastError()));
  }
  TSslPtr ssl(SSL_new(FContext.get()));
  BIO* bio = ssl ? NewSocketBio(FTCPClient->Handle()) : nullptr;
  if (bio == nullptr) {
    FTCPClient->DisconnectSocket();
    throw ESocketError("TLS session could not be created for " + where + ": " + TakeSslError("out of memory"));
  }
  SSL_set_bio(ssl.get(), bio, bio);  // the session owns the BIO from here
  if (!IsAddressLiteral(Host())) SSL_set_tlsext_host_name(ssl.get(), Host().c_str());
  ERR_clear_error();
  errno = 0;
  if (SSL_connect(ssl.get()) != 1) {
    const int error = errno;
    const std::string reason = TakeSslError(error != 0 ? std::strerror(error) : "connection closed by peer");
    FTCPClient->DisconnectSocket();
    SetLastError(error != 0 ? error : ECONNRESET);
    throw ESocketError("TLS handshake with " + where + " failed: " + reason);
  }
  FSsl = std::move(ssl);
  SetLastError(0);
  return true;
}

void TIndySecureBlockingSocket::DisconnectSocket() {
  if (FSsl) {
    // Send close_notify without waiting for the receiver's answer.
    ERR_clear_error();
    SSL_shutdown(FSsl.get());
    ERR_clear_error();
    FSsl.reset();
  }
  FTCPClient->DisconnectSocket();
}

int TIndySecureBlockingSocket::SendMessage(const std::string& AMsg) {
  const std::string line = AMsg + "\r\n";
  return SendMessage(reinterpret_cast<const uint8_t*>(line.data()), static_cast<int>(line.size()));
}

int TIndySecureBlockingSocket::SendMessage(const uint8_t* AMsg, int ALength) {
  if (!FSsl || ALength < 0) {
    SetLastError(ENOTCONN);
    throw ESocketError(SendErrorText);
  }
  if (SendBytes(AMsg, ALength) != ALength) throw ESocketError(SendErrorText);
  return ALength;
}

int TIndySecureBlockingSocket::SendBytes(const uint8_t* AData, int ALength) {
  if (!FSsl || ALength < 0) {
    SetLastError(ENOTCONN);
    return 0;
  }
  // The largest TLS record payload: one piece is one record.
  constexpr int PieceBytes = 16384;
  int sent = 0;
  while (sent < ALength) {
    const int piece = std::min(PieceBytes, ALength - sent);
    ERR_clear_error();
    errno = 0;
    // Without partial writes, SSL_write on a blocking BIO takes all or fails.
    if (SSL_write(FSsl.get(), AData + sent, piece) != piece) {
      SetLastError(errno != 0 ? errno : EIO);
      ERR_clear_error();
      // The session is unusable after a failed write: let the next flush start over.
      FSsl.reset();
      FTCPClient->DisconnectSocket();
      return sent;
    }
    sent += piece;
  }
  SetLastError(0);
  return sent;
}

int TIndySecureBlockingSocket::NegotiatedVersion() const { return FSsl ? SSL_version(FSsl.get()) : 0; }

}  // namespace zor
