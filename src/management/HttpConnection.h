#pragma once

#include <openssl/ssl.h>

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "platform/TcpConnection.h"

namespace zor {

// How much of the machine one client may hold.
struct TEndPointLimits {
  // A whole request (TLS handshake, head and body) must arrive within this.
  std::chrono::milliseconds RequestTimeout{30000};
  // How long a kept-alive connection may wait for its next request.
  std::chrono::milliseconds KeepAliveTimeout{5000};
  // How long writing an answer may take (a stop waits for it).
  std::chrono::milliseconds WriteTimeout{10000};
  std::size_t MaxRequestsPerConnection = 100;
  // Connections served at once, and accepted ones that wait for a server.
  std::size_t MaxConnections = 16;
  std::size_t MaxWaitingConnections = 64;
  // The largest body taken (configuration files are bounded the same);
  // larger ones are answered 413.
  std::size_t MaxBodyBytes = std::size_t{16} << 20;
};

// The HTTP layer of the endpoint: cpp-httplib's request parsing, routing
// and answer writing, run over connections this program accepts and
// bounds itself (THttpConnection). Handlers are registered once, before the
// first connection; then any number of threads may Process at once.
class THttpProcessor : public httplib::Server {
 public:
  // Reads one request from AStream, routes it and writes the answer. False
  // when no request could be read. AConnectionClosed: the client asked to
  // close.
  bool Process(httplib::Stream& AStream, bool ACloseConnection, bool& AConnectionClosed) {
    return process_request(AStream, ACloseConnection, AConnectionClosed, nullptr);
  }
};

// Serves one accepted connection on the calling thread: the TLS handshake
// when ATls is given, then requests until the client closes, the limits
// end it, or AOthersWaiting says that other clients wait for a server
// (then the connection closes after its current answer).
//
// Borrows everything; the connection, the TLS context and the processor
// must outlive the call.
class THttpConnection {
 public:
  THttpConnection(TTcpConnection& AConnection, SSL_CTX* ATls, const TEndPointLimits& ALimits);
  ~THttpConnection();
  THttpConnection(const THttpConnection&) = delete;
  THttpConnection& operator=(const THttpConnection&) = delete;

  void Serve(THttpProcessor& AProcessor, const std::function<bool()>& AOthersWaiting);

 private:
  class TStream;
  [[nodiscard]] bool Handshake();

  TTcpConnection& FConnection;
  SSL_CTX* const FTls;
  const TEndPointLimits& FLimits;
  SSL* FSsl = nullptr;
};

// Sets the reason phrase of the status line of the answer being handled on
// the calling thread (a handler's 500 carries its error text there). Line
// breaks and other control characters are dropped. Does nothing outside a
// request.
void SetReasonPhrase(const std::string& AReason);

}  // namespace zor
