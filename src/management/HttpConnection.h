#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
  // The longest line of a request's head, and the most header lines.
  std::size_t MaxLineBytes = 8192;
  std::size_t MaxHeaders = 100;
};

// One HTTP/1.x request as read off a connection.
struct THttpRequest {
  std::string Method;
  std::string Target;  // as sent: path and query, not percent-decoded
  std::string Version;
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;
  std::string ClientAddress;

  // The first header of that name (any letter case), or null.
  [[nodiscard]] const std::string* Header(std::string_view AName) const;
};

// The answer to one request.
struct THttpAnswer {
  int Status = 200;
  std::string Reason;  // empty: the standard text of Status
  std::string ContentType;
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;
};

// What the endpoint does with a request. Screen runs once the head has
// arrived, before any body is read: false means AAnswer is final (a refused
// request; its body is never read). Handle runs with the whole request.
struct THttpHandlers {
  std::function<bool(const THttpRequest&, THttpAnswer&)> Screen;
  std::function<void(const THttpRequest&, THttpAnswer&)> Handle;
};

// Serves one accepted connection on the calling thread: the TLS handshake
// when ATls is given, then HTTP/1.1 requests (Content-Length bodies; a
// chunked body is answered 411) until the client closes, the limits end it,
// or AOthersWaiting says that other clients wait for a server (the
// connection then closes after its current answer).
//
// Borrows everything; the connection, the TLS context and the handlers
// must outlive the call.
class THttpConnection {
 public:
  THttpConnection(TTcpConnection& AConnection, SSL_CTX* ATls, const TEndPointLimits& ALimits);
  ~THttpConnection();
  THttpConnection(const THttpConnection&) = delete;
  THttpConnection& operator=(const THttpConnection&) = delete;

  void Serve(const THttpHandlers& AHandlers, const std::function<bool()>& AOthersWaiting);

  // Serves the requests held in ARequest, as if AClientAddress had sent them
  // on one connection, and returns the bytes of the answers. For tools and
  // tests.
  [[nodiscard]] static std::string ServeBytes(const THttpHandlers& AHandlers, std::string_view ARequest,
                                              const std::string& AClientAddress, const TEndPointLimits& ALimits);

 private:
  class TStream;
  [[nodiscard]] bool Handshake();

  TTcpConnection& FConnection;
  SSL_CTX* const FTls;
  const TEndPointLimits& FLimits;
  SSL* FSsl = nullptr;
};

}  // namespace zor
