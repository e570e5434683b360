#include "support/ConfigServer.h"

#include <httplib.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "support/BasicAuthorization.h"
#include "support/HttpServerThread.h"

namespace zor::test {

struct TConfigServer::TState {
  mutable std::mutex Mutex;
  std::condition_variable Released;
  std::function<TConfigAnswer(int)> Answers = [](int) { return TConfigAnswer{}; };
  bool Holding = false;
  bool Stopping = false;
  int Requests = 0;
  std::string LastBody;
  std::string LastAuthorization;
};

TConfigServer::TConfigServer(TOptions AOptions) : FOptions(std::move(AOptions)), FState(std::make_unique<TState>()) {
  if (FOptions.Certificate)
    FServer = MakeHttpServer<httplib::SSLServer>(FOptions.Certificate, FOptions.Key);
  else
    FServer = MakeHttpServer<httplib::Server>();
  TState& state = *FState;
  const TOptions& options = FOptions;
  FServer->Post("/api/config", [&state, &options](const httplib::Request& ARequest, httplib::Response& AResponse) {
    std::unique_lock lock(state.Mutex);
    const int number = ++state.Requests;
    state.LastBody = ARequest.body;
    state.LastAuthorization = ARequest.get_header_value("Authorization");
    state.Released.wait(lock, [&] { return !state.Holding || state.Stopping; });
    if (!options.UserName.empty() &&
        state.LastAuthorization != BasicAuthorization(options.UserName, options.Password)) {
      AResponse.status = 401;
      return;
    }
    const TConfigAnswer answer = state.Answers(number);
    AResponse.status = answer.Status;
    AResponse.set_content(answer.Body, "application/json; charset=UTF-8");
  });
  const int bound = FServer->bind_to_any_port("127.0.0.1");
  if (bound <= 0) throw std::runtime_error("config server: cannot listen on 127.0.0.1");
  FPort = static_cast<uint16_t>(bound);
  FThread = HttpServerThread(*FServer);
}

TConfigServer::~TConfigServer() {
  {
    std::lock_guard lock(FState->Mutex);
    FState->Stopping = true;
  }
  FState->Released.notify_all();
  FServer->stop();
  if (FThread.joinable()) FThread.join();
}

std::string TConfigServer::Url() const {
  return std::string(FOptions.Certificate ? "https" : "http") + "://127.0.0.1:" + std::to_string(FPort);
}

void TConfigServer::SetAnswer(TConfigAnswer AAnswer) {
  SetAnswers([AAnswer = std::move(AAnswer)](int) { return AAnswer; });
}

void TConfigServer::SetAnswers(std::function<TConfigAnswer(int)> AAnswers) {
  std::lock_guard lock(FState->Mutex);
  FState->Answers = std::move(AAnswers);
}

void TConfigServer::Hold() {
  std::lock_guard lock(FState->Mutex);
  FState->Holding = true;
}

void TConfigServer::Release() {
  {
    std::lock_guard lock(FState->Mutex);
    FState->Holding = false;
  }
  FState->Released.notify_all();
}

int TConfigServer::Requests() const {
  std::lock_guard lock(FState->Mutex);
  return FState->Requests;
}

std::string TConfigServer::LastBody() const {
  std::lock_guard lock(FState->Mutex);
  return FState->LastBody;
}

std::string TConfigServer::LastAuthorization() const {
  std::lock_guard lock(FState->Mutex);
  return FState->LastAuthorization;
}

std::string TConfigServer::CollectorAnswer(const std::string& ACollector) {
  return R"({"type": "collector", "newVersion": "2", "collector": )" + ACollector + "}";
}

std::string TConfigServer::PendingAnswer(const std::string& AError) {
  return R"({"type": "pendingCollector", "pendingCollector": {"id": 7, "type": 1, "hostName": "h"}, "error": ")" +
         AError + "\"}";
}

}  // namespace zor::test
