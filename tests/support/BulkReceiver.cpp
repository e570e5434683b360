#include "support/BulkReceiver.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <sys/socket.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <unordered_map>

#include "support/BasicAuthorization.h"
#include "support/BulkBody.h"
#include "support/HttpServerThread.h"

namespace zor::test {

namespace {

using TClock = std::chrono::steady_clock;

// The error body of a request the server refuses as a whole.
std::string ErrorBody(int AStatus, const std::string& AType, const std::string& AReason) {
  const nlohmann::json cause = {{"type", AType}, {"reason", AReason}};
  return nlohmann::json{{"error", {{"root_cause", {cause}}, {"type", AType}, {"reason", AReason}}}, {"status", AStatus}}
      .dump();
}

std::string ErrorTypeOf(int AStatus) {
  switch (AStatus) {
    case 429: return "es_rejected_execution_exception";
    case 503: return "unavailable_shards_exception";
    default: return AStatus >= 500 ? "internal_server_error" : "illegal_argument_exception";
  }
}

// Closes the server's side of the connections to APort on 127.0.0.1: the one
// from AClientPort, or every one when AClientPort is -1. The server library
// hands its handlers no socket and keeps idle connections until their
// keep-alive time ends, so the sockets are found among the process's
// descriptors.
void DropConnection(uint16_t APort, int AClientPort) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    int fd = -1;
    try {
      fd = std::stoi(entry.path().filename().string());
    } catch (const std::exception&) {
      continue;
    }
    sockaddr_in local{}, peer{};
    socklen_t localLength = sizeof(local), peerLength = sizeof(peer);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 || local.sin_family != AF_INET)
      continue;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) continue;
    if (ntohs(local.sin_port) == APort && (AClientPort < 0 || ntohs(peer.sin_port) == AClientPort)) {
      shutdown(fd, SHUT_RDWR);
      if (AClientPort >= 0) return;
    }
  }
}

}  // namespace

struct TBulkReceiver::TState {
  std::mutex Mutex;
  // Controls.
  int FailStatus = 0;
  int FailCount = 0;
  TClock::time_point FailUntil{};
  std::function<bool(std::string_view, std::string_view)> Reject;
  std::chrono::milliseconds Delay{0};
  int DropCount = 0;
  bool DropAfterStoring = false;
  // Observations.
  std::map<std::string, std::vector<std::string>> Documents;
  // Documents that came with an "_id": per index, the id's place in
  // Documents (when stored) and its version.
  struct TIdentified {
    size_t Position = 0;
    uint64_t Version = 1;
  };
  std::map<std::string, std::unordered_map<std::string, TIdentified>> Identified;
  std::map<std::string, std::string> Templates;
  std::set<std::string> Connections;
  std::string LastAuthorization;
  std::string LastGrammarError;
  size_t TemplateHeads = 0;
  size_t TemplatePuts = 0;
  uint64_t NextId = 1;
  // Counters read without the lock.
  std::atomic<size_t> DocumentCount{0};
  std::atomic<size_t> BulkRequests{0};
  std::atomic<size_t> GrammarErrors{0};
  std::atomic<size_t> TypedActions{0};
  std::atomic<size_t> RejectedDocuments{0};
  std::atomic<size_t> Unauthorised{0};
  std::atomic<size_t> UpdatedDocuments{0};
};

TBulkReceiver::TBulkReceiver(TBulkReceiverOptions AOptions)
    : FOptions(std::move(AOptions)), FPort(FOptions.Port), FState(std::make_unique<TState>()) {
  Listen();
}

TBulkReceiver::~TBulkReceiver() { Stop(); }

std::string TBulkReceiver::Endpoint() const {
  return FOptions.Certificate ? "https://127.0.0.1" : "http://127.0.0.1";
}

void TBulkReceiver::Listen() {
  if (FOptions.Certificate)
    FServer = MakeHttpServer<httplib::SSLServer>(FOptions.Certificate, FOptions.Key);
  else
    FServer = MakeHttpServer<httplib::Server>();
  httplib::Server& server = *FServer;
  // Like the real server: connections stay open for any number of requests.
  server.set_keep_alive_max_count(1000000);
  server.set_keep_alive_timeout(60);
  server.set_read_timeout(60, 0);
  server.set_write_timeout(60, 0);
  TState& state = *FState;
  const TBulkReceiverOptions& options = FOptions;
  const uint16_t* port = &FPort;

  // Records the connection and the credentials; false when the request is
  // answered already (401).
  auto admit = [&state, &options](const httplib::Request& ARequest, httplib::Response& AResponse) {
    const std::string authorization = ARequest.get_header_value("Authorization");
    std::chrono::milliseconds delay;
    {
      std::lock_guard lock(state.Mutex);
      state.Connections.insert(ARequest.remote_addr + ":" + std::to_string(ARequest.remote_port));
      state.LastAuthorization = authorization;
      delay = state.Delay;
    }
    if (delay.count() > 0) std::this_thread::sleep_for(delay);
    if (options.UserName.empty() || authorization == BasicAuthorization(options.UserName, options.Password))
      return true;
    ++state.Unauthorised;
    AResponse.status = 401;
    AResponse.set_header("WWW-Authenticate", "Basic realm=\"security\" charset=\"UTF-8\"");
    AResponse.set_content(ErrorBody(401, "security_exception", "missing authentication credentials"),
                          "application/json; charset=UTF-8");
    return false;
  };

  // The server library routes HEAD to the GET handlers (and sends no body).
  server.Get(R"(/_template/([^/]+))", [&state, admit](const httplib::Request& ARequest, httplib::Response& AResponse) {
    if (!admit(ARequest, AResponse)) return;
    std::lock_guard lock(state.Mutex);
    if (ARequest.method == "HEAD") ++state.TemplateHeads;
    const auto found = state.Templates.find(ARequest.matches[1]);
    if (found == state.Templates.end()) {
      AResponse.status = 404;
      return;
    }
    AResponse.set_content(found->second, "application/json; charset=UTF-8");
  });

  server.Put(R"(/_template/([^/]+))", [&state, admit](const httplib::Request& ARequest, httplib::Response& AResponse) {
    if (!admit(ARequest, AResponse)) return;
    std::lock_guard lock(state.Mutex);
    ++state.TemplatePuts;
    if (!TBulkBody::IsJson(ARequest.body) || ARequest.body.find('{') == std::string::npos) {
      AResponse.status = 400;
      AResponse.set_content(ErrorBody(400, "parse_exception", "the template is not a JSON object"), "application/json");
      return;
    }
    state.Templates[ARequest.matches[1]] = ARequest.body;
    AResponse.set_content(R"({"acknowledged":true})", "application/json; charset=UTF-8");
  });

  server.Post(R"(/(?:[^/]+/)?_bulk)", [&state, &options, port, admit](const httplib::Request& ARequest,
                                                                     httplib::Response& AResponse,
                                                                     const httplib::ContentReader& AReader) {
    bool dropping = false;
    bool dropAfterStoring = false;
    {
      std::lock_guard lock(state.Mutex);
      if (state.DropCount > 0) {
        --state.DropCount;
        dropping = true;
        dropAfterStoring = state.DropAfterStoring;
      }
    }
    std::string body;
    AReader([&](const char* AData, size_t ALength) {
      body.append(AData, ALength);
      if (dropping && !dropAfterStoring) {
        DropConnection(*port, ARequest.remote_port);
        return false;
      }
      return true;
    });
    ++state.BulkRequests;
    if (dropping && !dropAfterStoring) {
      AResponse.status = 500;
      return;
    }
    if (!admit(ARequest, AResponse)) return;

    int failStatus = 0;
    {
      std::lock_guard lock(state.Mutex);
      if (state.FailCount > 0) {
        --state.FailCount;
        failStatus = state.FailStatus;
      } else if (TClock::now() < state.FailUntil) {
        failStatus = state.FailStatus;
      }
    }
    if (failStatus != 0) {
      AResponse.status = failStatus;
      AResponse.set_content(ErrorBody(failStatus, ErrorTypeOf(failStatus), "failing as asked"), "application/json");
      return;
    }

    const auto start = TClock::now();
    std::unique_ptr<TBulkBody> parsed;
    try {
      parsed = std::make_unique<TBulkBody>(body);
    } catch (const EBulkBodyError& e) {
      ++state.GrammarErrors;
      {
        std::lock_guard lock(state.Mutex);
        state.LastGrammarError = e.what();
      }
      AResponse.status = 400;
      AResponse.set_content(ErrorBody(400, "illegal_argument_exception", e.what()), "application/json");
      return;
    }
    const auto& items = parsed->Items();
    for (size_t i = 0; i < items.size(); ++i) {
      if (!items[i].Action->HasType) continue;
      ++state.TypedActions;
      if (options.RejectTypes) {
        const std::string reason =
            "Action/metadata line [" + std::to_string(2 * i + 1) + "] contains an unknown parameter [_type]";
        AResponse.status = 400;
        AResponse.set_content(ErrorBody(400, "illegal_argument_exception", reason), "application/json");
        return;
      }
    }

    std::string answer;
    answer.reserve(64 + items.size() * 240);
    bool errors = false;
    {
      std::lock_guard lock(state.Mutex);
      for (const TBulkBodyItem& item : items) {
        const std::string& index = item.Action->Index;
        const bool rejected = state.Reject && state.Reject(index, item.Document);
        const uint64_t seqNo = state.NextId++;
        const std::string& givenId = item.Action->Id;
        const std::string id = givenId.empty() ? std::to_string(seqNo) : givenId;
        answer += answer.empty() ? "" : ",";
        answer += "{\"" + item.Action->Name + "\":{\"_index\":\"" + index + "\",\"_type\":\"_doc\",\"_id\":" +
                  nlohmann::json(id).dump() + ",";
        if (rejected) {
          errors = true;
          ++state.RejectedDocuments;
          answer +=
              "\"status\":400,\"error\":{\"type\":\"mapper_parsing_exception\",\"reason\":\"failed to parse the "
              "document\"}}}";
          continue;
        }
        // A known id: "index" replaces the document (counted once), "create"
        // is a conflict, as the real server answers.
        TState::TIdentified* known = nullptr;
        if (!givenId.empty()) {
          auto& ids = state.Identified[index];
          const auto found = ids.find(givenId);
          if (found != ids.end()) known = &found->second;
        }
        if (known != nullptr && item.Action->Name == "create") {
          errors = true;
          answer += "\"status\":409,\"error\":{\"type\":\"version_conflict_engine_exception\",\"reason\":"
                    "\"document already exists\"}}}";
          continue;
        }
        const uint64_t version = known != nullptr ? known->Version + 1 : 1;
        answer += "\"_version\":" + std::to_string(version) + ",\"result\":\"" +
                  (known != nullptr ? "updated" : "created") +
                  "\",\"_shards\":{\"total\":2,\"successful\":1,\"failed\":0},\"_seq_no\":" +
                  std::to_string(seqNo - 1) + ",\"_primary_term\":1,\"status\":" + (known != nullptr ? "200" : "201") +
                  "}}";
        if (known != nullptr) {
          known->Version = version;
          ++state.UpdatedDocuments;
          if (options.StoreDocuments) state.Documents[index][known->Position] = item.Document;
          continue;
        }
        const size_t position = state.DocumentCount++;
        if (options.StoreDocuments) {
          std::vector<std::string>& stored = state.Documents[index];
          if (!givenId.empty()) state.Identified[index][givenId] = TState::TIdentified{stored.size(), 1};
          stored.emplace_back(item.Document);
        } else if (!givenId.empty()) {
          state.Identified[index][givenId] = TState::TIdentified{position, 1};
        }
      }
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();
    auto content = std::make_shared<std::string>("{\"took\":" + std::to_string(took) +
                                                 ",\"errors\":" + (errors ? "true" : "false") + ",\"items\":[" +
                                                 answer + "]}");
    if (!dropping) {
      AResponse.set_content(std::move(*content), "application/json; charset=UTF-8");
      return;
    }
    // Half of the answer, then the connection closes.
    AResponse.set_content_provider(content->size(), "application/json; charset=UTF-8",
                                   [content](size_t AOffset, size_t, httplib::DataSink& ASink) {
                                     if (AOffset == 0) ASink.write(content->data(), content->size() / 2);
                                     return false;
                                   });
  });

  int bound = -1;
  if (FPort == 0)
    bound = server.bind_to_any_port("127.0.0.1");
  else if (server.bind_to_port("127.0.0.1", FPort))
    bound = FPort;
  if (bound <= 0) {
    FServer.reset();
    throw std::runtime_error("bulk receiver: cannot listen on 127.0.0.1:" + std::to_string(FPort));
  }
  FPort = static_cast<uint16_t>(bound);
  // The socket listens from here on.
  FThread = HttpServerThread(server);
}

void TBulkReceiver::Stop() {
  if (!FServer) return;
  FServer->stop();
  // Idle keep-alive connections would hold the server's workers (and so
  // this call) until their time-out.
  DropConnection(FPort, -1);
  if (FThread.joinable()) FThread.join();
  FServer.reset();
}

void TBulkReceiver::Start() {
  if (!FServer) Listen();
}

void TBulkReceiver::FailRequests(int AStatus, int ACount) {
  std::lock_guard lock(FState->Mutex);
  FState->FailStatus = AStatus;
  FState->FailCount = ACount;
}

void TBulkReceiver::FailRequestsFor(int AStatus, std::chrono::milliseconds ADuration) {
  std::lock_guard lock(FState->Mutex);
  FState->FailStatus = AStatus;
  FState->FailUntil = TClock::now() + ADuration;
}

void TBulkReceiver::RejectDocuments(std::function<bool(std::string_view, std::string_view)> APredicate) {
  std::lock_guard lock(FState->Mutex);
  FState->Reject = std::move(APredicate);
}

void TBulkReceiver::SetDelay(std::chrono::milliseconds ADelay) {
  std::lock_guard lock(FState->Mutex);
  FState->Delay = ADelay;
}

void TBulkReceiver::DropConnections(int ACount, bool AAfterStoring) {
  std::lock_guard lock(FState->Mutex);
  FState->DropCount = ACount;
  FState->DropAfterStoring = AAfterStoring;
}

void TBulkReceiver::AddTemplate(const std::string& AName, const std::string& ABody) {
  std::lock_guard lock(FState->Mutex);
  FState->Templates[AName] = ABody;
}

size_t TBulkReceiver::DocumentCount() const { return FState->DocumentCount; }

std::map<std::string, std::vector<std::string>> TBulkReceiver::Documents() const {
  std::lock_guard lock(FState->Mutex);
  return FState->Documents;
}

std::vector<std::string> TBulkReceiver::Documents(const std::string& AIndex) const {
  std::lock_guard lock(FState->Mutex);
  const auto found = FState->Documents.find(AIndex);
  return found == FState->Documents.end() ? std::vector<std::string>{} : found->second;
}

size_t TBulkReceiver::BulkRequests() const { return FState->BulkRequests; }
size_t TBulkReceiver::GrammarErrors() const { return FState->GrammarErrors; }

std::string TBulkReceiver::LastGrammarError() const {
  std::lock_guard lock(FState->Mutex);
  return FState->LastGrammarError;
}

size_t TBulkReceiver::TypedActions() const { return FState->TypedActions; }
size_t TBulkReceiver::RejectedDocuments() const { return FState->RejectedDocuments; }

size_t TBulkReceiver::UpdatedDocuments() const { return FState->UpdatedDocuments; }
size_t TBulkReceiver::Unauthorised() const { return FState->Unauthorised; }

std::map<std::string, std::string> TBulkReceiver::Templates() const {
  std::lock_guard lock(FState->Mutex);
  return FState->Templates;
}

size_t TBulkReceiver::TemplateHeads() const {
  std::lock_guard lock(FState->Mutex);
  return FState->TemplateHeads;
}

size_t TBulkReceiver::TemplatePuts() const {
  std::lock_guard lock(FState->Mutex);
  return FState->TemplatePuts;
}

size_t TBulkReceiver::Connections() const {
  std::lock_guard lock(FState->Mutex);
  return FState->Connections.size();
}

std::string TBulkReceiver::LastAuthorization() const {
  std::lock_guard lock(FState->Mutex);
  return FState->LastAuthorization;
}

}  // namespace zor::test
