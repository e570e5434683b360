#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace zor::test {

// How a TBulkReceiver is set up.
struct TBulkReceiverOptions {
  // HTTPS with this certificate and key (both borrowed; they must outlive the
  // receiver); plain HTTP when null.
  X509* Certificate = nullptr;
  EVP_PKEY* Key = nullptr;
  // Basic authorisation required when UserName is not empty (401 otherwise).
  std::string UserName;
  std::string Password;
  // Keep every accepted document (Documents()); false: check and count only,
  // for a benchmark.
  bool StoreDocuments = true;
  // Answer an action line that names "_type" with 400, as servers of
  // version 8 and later do.
  bool RejectTypes = false;
  // 0: a free port.
  uint16_t Port = 0;
};

// An Elasticsearch-style bulk endpoint on 127.0.0.1 for tests and benchmarks:
// HEAD and PUT of _template/NAME and POST of _bulk (also INDEX/_bulk), over
// HTTP or HTTPS, with Basic authorisation. Every bulk body is read strictly
// (TBulkBody); a body that breaks the grammar is answered 400 and counted in
// GrammarErrors(). Accepted documents are kept per index; the answer carries
// "took", "errors" and one item per document with its status, as the real
// server's does. Documents with an "_id" are kept once per index and id.
//
// Tests steer it: fail whole requests with a status (for N requests or for a
// time), reject single documents (400 mapper_parsing_exception) by a
// predicate, answer slowly, drop the connection mid-body, or go down and come
// back on the same port.
//
// The server's threads serve requests; every method may be called from any
// thread.
class TBulkReceiver {
 public:
  // Starts listening at once. Throws std::runtime_error when it cannot.
  explicit TBulkReceiver(TBulkReceiverOptions AOptions = {});
  ~TBulkReceiver();
  TBulkReceiver(const TBulkReceiver&) = delete;
  TBulkReceiver& operator=(const TBulkReceiver&) = delete;

  uint16_t Port() const { return FPort; }
  // "http://127.0.0.1" or "https://127.0.0.1" (the port is separate).
  std::string Endpoint() const;

  // Down: stops listening and closes every connection. Start listens again
  // on the same port.
  void Stop();
  void Start();

  // --- controls ----------------------------------------------------------------
  // The next ACount bulk requests are answered AStatus (with an error body).
  void FailRequests(int AStatus, int ACount);
  // Bulk requests are answered AStatus until ADuration has passed.
  void FailRequestsFor(int AStatus, std::chrono::milliseconds ADuration);
  // Documents for which APredicate (index, document text) holds are answered
  // 400 mapper_parsing_exception and not stored. An empty function clears it.
  void RejectDocuments(std::function<bool(std::string_view, std::string_view)> APredicate);
  // Each request waits this long before it is answered.
  void SetDelay(std::chrono::milliseconds ADelay);
  // The next ACount bulk requests lose their connection: with AAfterStoring
  // false, while the body is still arriving (nothing stored); with true, after
  // the documents were stored, in the middle of the answer (the sender cannot
  // know that they arrived).
  void DropConnections(int ACount, bool AAfterStoring);
  // Installs a template as if a PUT had come.
  void AddTemplate(const std::string& AName, const std::string& ABody);

  // --- observations --------------------------------------------------------------
  // Documents accepted, over all indexes (also without StoreDocuments). A
  // document whose "_id" is already in its index replaces the stored one
  // (answered 200 "updated", counted in UpdatedDocuments, not here); with a
  // "create" action it is a conflict (409), as the real server answers.
  size_t DocumentCount() const;
  size_t UpdatedDocuments() const;
  // Accepted documents by index, in arrival order.
  std::map<std::string, std::vector<std::string>> Documents() const;
  std::vector<std::string> Documents(const std::string& AIndex) const;
  // Bulk requests answered, whatever the answer.
  size_t BulkRequests() const;
  // Bodies refused for breaking the grammar, and the last reason.
  size_t GrammarErrors() const;
  std::string LastGrammarError() const;
  // Action lines that named "_type".
  size_t TypedActions() const;
  // Documents answered 400 by the RejectDocuments predicate.
  size_t RejectedDocuments() const;
  // Requests refused for missing or wrong credentials.
  size_t Unauthorised() const;
  // Templates by name with their bodies; HEAD and PUT requests of templates.
  std::map<std::string, std::string> Templates() const;
  size_t TemplateHeads() const;
  size_t TemplatePuts() const;
  // Distinct client connections seen (by remote address and port).
  size_t Connections() const;
  // The Authorization header of the last request.
  std::string LastAuthorization() const;

 private:
  struct TState;
  void Listen();

  TBulkReceiverOptions FOptions;
  uint16_t FPort = 0;
  std::unique_ptr<TState> FState;
  std::unique_ptr<httplib::Server> FServer;
  std::thread FThread;
};

}  // namespace zor::test
