#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "management/HttpConnection.h"
#include "management/TlsServerContext.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/TcpListener.h"

namespace zor {

// What a handler reads of one request.
struct TEndPointRequest {
  std::string Method;
  std::string URI;                  // the path as sent, without the query, not percent-decoded
  std::vector<std::string> Params;  // the query's entries: "name" or "name=value", as sent
  std::string_view Body;            // valid during the handler's call
  std::string ClientAddress;
};

// What a handler writes: the body, the status (200 unless set), and the
// content type (none unless set).
struct TEndPointResponse {
  std::string Body;
  int Status = 200;
  std::string ContentType;
};

// Who may do what at the endpoint.
enum class TEndPointAccess : uint8_t {
  eaAllowed = 0,
  eaNoAuthInfo = 1,    // 401: credentials are checked and none came
  eaBadUserName = 2,   // 401
  eaBadPassword = 3,   // 401
  eaForbidden = 4,     // 403: a change from a remote client of an endpoint without credentials
};

// The decision, apart from the server so that it can be shown alone.
// Credentials are checked when ACheckCredentials (HTTPS, or a user name
// configured); both texts are compared in constant time. Without them,
// commands that change something (PUT, POST, DELETE) are taken only from
// loopback clients.
[[nodiscard]] TEndPointAccess DecideAccess(bool ACheckCredentials, const std::string& AUserName,
                                           const std::string& APassword, const std::string& AMethod,
                                           bool AClientIsLoopback, bool AHasAuthorization,
                                           const std::string& AGivenUserName, const std::string& AGivenPassword);

// A small HTTP or HTTPS server for the service's own management (HTTP/1.1
// read and written by THttpConnection over TLS from OpenSSL): it binds
// one address and port, wraps connections in TLS 1.2 for "https" (any
// letter case), checks Basic credentials, logs each request and hands it
// by method to one of four virtual handlers (the derived endpoint's
// commands).
//
// Threads: Start and Stop on the owner's thread. Start runs one accepting
// thread and Limits().MaxConnections serving threads; handlers run on the
// serving threads, concurrently with each other, and must protect what they
// share. Stop ends every connection and joins every thread; the destructor
// stops. A derived class must call Stop in its own destructor, so that no
// handler runs while it is being destroyed.
class TEndPointBase {
 public:
  // Builds the server; nothing listens yet. With "https", the certificate,
  // key and root certificate files are located (LocateCertFile) and logged.
  // AClientCAFile (HTTPS only, located the same way): when not empty,
  // clients must present a certificate that verifies against it.
  TEndPointBase(const std::string& AIP, uint16_t APort, const std::string& AProtocol, const std::string& ACertFile,
                const std::string& AKeyFile, const std::string& ARootCertFile, const std::string& AUserName,
                const std::string& APassword, const std::string& AClientCAFile = std::string(),
                const TEndPointLimits& ALimits = TEndPointLimits());
  virtual ~TEndPointBase();
  TEndPointBase(const TEndPointBase&) = delete;
  TEndPointBase& operator=(const TEndPointBase&) = delete;

  // Starts listening; false (with the FATAL line "Exception starting REST
  // Endpoint: %s") when the address, the port or the TLS files cannot be used.
  [[nodiscard]] bool Start();
  // Stops listening and serving; waits for running handlers. Never throws.
  void Stop();
  [[nodiscard]] bool Started() const { return FListener != nullptr; }
  // The port listened on (the chosen one when 0 was configured); 0 when
  // not started.
  [[nodiscard]] uint16_t Port() const { return FListener ? FListener->Port() : 0; }
  [[nodiscard]] const TEndPointLimits& Limits() const { return FLimits; }

  // Serves the requests given as bytes (from AClientAddress) through the
  // same HTTP layer, credentials and handlers as those of a connection, and
  // returns the answers' bytes. Needs no Start; any thread. For tools and
  // tests.
  [[nodiscard]] std::string Answer(std::string_view ARequest, const std::string& AClientAddress) const {
    return THttpConnection::ServeBytes(FHandlers, ARequest, AClientAddress, FLimits);
  }

 protected:
  virtual void HandleGet(const TEndPointRequest& ARequest, TEndPointResponse& AResponse);
  virtual void HandlePut(const TEndPointRequest& ARequest, TEndPointResponse& AResponse);
  virtual void HandlePost(const TEndPointRequest& ARequest, TEndPointResponse& AResponse);
  virtual void HandleDelete(const TEndPointRequest& ARequest, TEndPointResponse& AResponse);

 private:
  void Route(const THttpRequest& ARequest, THttpAnswer& AAnswer);
  [[nodiscard]] bool Authorised(const THttpRequest& ARequest, THttpAnswer& AAnswer) const;
  void AcceptLoop() EXCLUDES(FLock);
  void ServeLoop() EXCLUDES(FLock);
  [[nodiscard]] bool OthersWaiting() EXCLUDES(FLock);

  const std::string FIP;
  const uint16_t FPort;
  const std::string FProtocol;
  const bool FHttps;
  std::string FCertFile;
  std::string FKeyFile;
  std::string FRootCertFile;
  std::string FClientCAFile;
  const std::string FUserName;
  const std::string FPassword;
  const bool FCheckCredentials;
  const TEndPointLimits FLimits;

  THttpHandlers FHandlers;
  std::unique_ptr<TTlsServerContext> FTls;
  std::unique_ptr<TTcpListener> FListener;
  TEvent FStop;
  std::thread FAcceptThread;
  std::vector<std::thread> FServers;

  // Accepted connections waiting for a serving thread, and those served now.
  TCriticalSection FLock;
  std::condition_variable_any FArrived;
  std::deque<std::unique_ptr<TTcpConnection>> FWaiting GUARDED_BY(FLock);
  std::vector<TTcpConnection*> FServing GUARDED_BY(FLock);
  bool FStopping GUARDED_BY(FLock) = false;
};

}  // namespace zor
