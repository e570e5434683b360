#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace zor::test {

// One answer of the configuration server.
struct TConfigAnswer {
  int Status = 200;
  std::string Body;
};

// A configuration server for tests on 127.0.0.1, on a free port, over HTTP or
// HTTPS: answers POST of /api/config with the answer a test sets (or one
// computed from the number of the request), checks Basic credentials when a
// user name is given, counts the requests and keeps the last one. It can
// also hold its answers back, as a server that does not answer.
//
// Any method may be called from any thread.
class TConfigServer {
 public:
  struct TOptions {
    // HTTPS with these (borrowed; they must outlive the server); HTTP when null.
    X509* Certificate = nullptr;
    EVP_PKEY* Key = nullptr;
    // Basic credentials required when not empty (401 otherwise).
    std::string UserName;
    std::string Password;
  };

  // Starts listening; throws std::runtime_error when it cannot.
  explicit TConfigServer(TOptions AOptions);
  TConfigServer() : TConfigServer(TOptions{}) {}
  ~TConfigServer();
  TConfigServer(const TConfigServer&) = delete;
  TConfigServer& operator=(const TConfigServer&) = delete;

  [[nodiscard]] uint16_t Port() const { return FPort; }
  // "http://127.0.0.1:PORT" (https with a certificate): the "configServer" value.
  [[nodiscard]] std::string Url() const;

  // Every request is answered AAnswer from now on (before the first call: 200
  // with an empty body).
  void SetAnswer(TConfigAnswer AAnswer);
  // Request number N (1: the first the server got) is answered AAnswers(N).
  void SetAnswers(std::function<TConfigAnswer(int)> AAnswers);
  // Requests wait without an answer until Release (or the server stops).
  void Hold();
  void Release();

  // Requests to /api/config so far (held ones included).
  [[nodiscard]] int Requests() const;
  [[nodiscard]] std::string LastBody() const;
  [[nodiscard]] std::string LastAuthorization() const;

  // Answer bodies.
  [[nodiscard]] static std::string CollectorAnswer(const std::string& ACollector);
  [[nodiscard]] static std::string PendingAnswer(const std::string& AError);

 private:
  struct TState;
  TOptions FOptions;
  std::unique_ptr<TState> FState;
  std::unique_ptr<httplib::Server> FServer;
  std::thread FThread;
  uint16_t FPort = 0;
};

}  // namespace zor::test
