#include "management/HttpConnection.h"

#include <openssl/err.h>

#include <cstring>
#include <string_view>

namespace zor {

namespace {

using TClock = TTcpConnection::TClock;

// The reason phrase the handler on this thread asked for; see SetReasonPhrase.
thread_local std::string* tReasonPhrase = nullptr;

}  // namespace

// The byte stream that cpp-httplib reads requests from and writes answers
// to: plain or TLS over a non-blocking socket, every read bounded by the
// deadline of the current request, every write by the write time-out.
class THttpConnection::TStream final : public httplib::Stream {
 public:
  TStream(TTcpConnection& AConnection, SSL* ASsl, const TEndPointLimits& ALimits)
      : FConnection(AConnection), FSsl(ASsl), FLimits(ALimits) {}

  void StartRequest() {
    FReadDeadline = TClock::now() + FLimits.RequestTimeout;
    FReason.clear();
  }
  std::string* ReasonSlot() { return &FReason; }

  bool is_readable() const override {
    return (FSsl != nullptr && SSL_pending(FSsl) > 0) || FConnection.WaitReadable(FReadDeadline);
  }
  bool is_writable() const override { return FConnection.WaitWritable(TClock::now() + FLimits.WriteTimeout); }

  ssize_t read(char* ABuffer, size_t ASize) override {
    if (FSsl == nullptr) return FConnection.Read(ABuffer, ASize, FReadDeadline);
    const int size = static_cast<int>(std::min<size_t>(ASize, 1 << 30));
    for (;;) {
      const int count = SSL_read(FSsl, ABuffer, size);
      if (count > 0) return count;
      switch (SSL_get_error(FSsl, count)) {
        case SSL_ERROR_WANT_READ:
          if (!FConnection.WaitReadable(FReadDeadline)) return -1;
          break;
        case SSL_ERROR_WANT_WRITE:
          if (!FConnection.WaitWritable(FReadDeadline)) return -1;
          break;
        case SSL_ERROR_ZERO_RETURN:
          return 0;
        default:
          ERR_clear_error();
          return -1;
      }
    }
  }

  ssize_t write(const char* ABuffer, size_t ASize) override {
    std::string rewritten;
    if (!FReason.empty() && WithReason(std::string_view(ABuffer, ASize), rewritten)) {
      ABuffer = rewritten.data();
      ASize = rewritten.size();
    }
    const auto deadline = TClock::now() + FLimits.WriteTimeout;
    if (FSsl == nullptr) return FConnection.Write(ABuffer, ASize, deadline);
    size_t written = 0;
    while (written < ASize) {
      const int size = static_cast<int>(std::min<size_t>(ASize - written, 1 << 30));
      const int count = SSL_write(FSsl, ABuffer + written, size);
      if (count > 0) {
        written += static_cast<size_t>(count);
        continue;
      }
      const int error = SSL_get_error(FSsl, count);
      if (error == SSL_ERROR_WANT_WRITE) {
        if (!FConnection.WaitWritable(deadline)) return -1;
      } else if (error == SSL_ERROR_WANT_READ) {
        if (!FConnection.WaitReadable(deadline)) return -1;
      } else {
        ERR_clear_error();
        return -1;
      }
    }
    return static_cast<ssize_t>(written);
  }

  void get_remote_ip_and_port(std::string& AAddress, int& APort) const override {
    AAddress = FConnection.PeerAddress();
    APort = FConnection.PeerPort();
  }
  void get_local_ip_and_port(std::string& AAddress, int& APort) const override {
    AAddress = FConnection.LocalAddress();
    APort = FConnection.LocalPort();
  }
  socket_t socket() const override { return FConnection.Handle(); }

 private:
  // The answer's head goes out in one write that starts with the status
  // line; its fixed reason phrase is replaced by the handler's.
  bool WithReason(std::string_view AData, std::string& AResult) {
    if (!AData.starts_with("HTTP/1.1 ") || AData.size() < 13) return false;
    const size_t end = AData.find("\r\n");
    if (end == std::string_view::npos) return false;
    AResult.assign(AData.substr(0, 13));  // "HTTP/1.1 500 "
    AResult += FReason;
    AResult += AData.substr(end);
    FReason.clear();
    return true;
  }

  TTcpConnection& FConnection;
  SSL* const FSsl;
  const TEndPointLimits& FLimits;
  TClock::time_point FReadDeadline = TClock::now();
  std::string FReason;
};

THttpConnection::THttpConnection(TTcpConnection& AConnection, SSL_CTX* ATls, const TEndPointLimits& ALimits)
    : FConnection(AConnection), FTls(ATls), FLimits(ALimits) {}

THttpConnection::~THttpConnection() {
  if (FSsl != nullptr) {
    (void)SSL_shutdown(FSsl);  // one close notify, not waited for
    SSL_free(FSsl);
    ERR_clear_error();
  }
}

bool THttpConnection::Handshake() {
  FSsl = SSL_new(FTls);
  if (FSsl == nullptr || SSL_set_fd(FSsl, FConnection.Handle()) != 1) return false;
  const auto deadline = TClock::now() + FLimits.RequestTimeout;
  for (;;) {
    const int result = SSL_accept(FSsl);
    if (result == 1) return true;
    const int error = SSL_get_error(FSsl, result);
    if (error == SSL_ERROR_WANT_READ) {
      if (!FConnection.WaitReadable(deadline)) return false;
    } else if (error == SSL_ERROR_WANT_WRITE) {
      if (!FConnection.WaitWritable(deadline)) return false;
    } else {
      ERR_clear_error();
      return false;
    }
  }
}

void THttpConnection::Serve(THttpProcessor& AProcessor, const std::function<bool()>& AOthersWaiting) {
  if (FTls != nullptr && !Handshake()) return;
  TStream stream(FConnection, FSsl, FLimits);
  for (size_t count = 0; count < FLimits.MaxRequestsPerConnection; ++count) {
    if (count > 0 && !(FSsl != nullptr && SSL_pending(FSsl) > 0) &&
        !FConnection.WaitReadable(TClock::now() + FLimits.KeepAliveTimeout))
      return;
    stream.StartRequest();
    const bool last = count + 1 == FLimits.MaxRequestsPerConnection || AOthersWaiting();
    bool closed = false;
    tReasonPhrase = stream.ReasonSlot();
    const bool served = AProcessor.Process(stream, last, closed);
    tReasonPhrase = nullptr;
    if (!served || closed || last) return;
  }
}

void SetReasonPhrase(const std::string& AReason) {
  if (tReasonPhrase == nullptr) return;
  tReasonPhrase->clear();
  for (char c : AReason) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) *tReasonPhrase += c;
  }
}

}  // namespace zor
