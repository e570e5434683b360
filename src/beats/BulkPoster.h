#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "beats/BulkResponse.h"
#include "beats/EndpointClient.h"
#include "beats/LogBeat.h"
#include "core/CustomThread.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"

namespace zor {

// One piece of network work of a beat sender: the template question, or one
// bulk request. The sender thread fills it and owns it; while a poster works
// on it, only that poster touches it, and it hands it back by setting Done.
struct TBulkJob {
  enum class TKind : uint8_t { bjTemplate = 0, bjBulk = 1 };

  explicit TBulkJob(TKind AKind) : Kind(AKind) {}

  const TKind Kind;
  // Bulk: the documents, oldest first.
  std::vector<std::unique_ptr<TLogBeat>> Documents;

  // Written by the poster before Done.
  // Bulk: one result per document (a failed request gives every document
  // the same one).
  TBulkResponse Response;
  // Template: false when the endpoint did not answer, so the question must
  // be asked again later.
  bool TemplateSettled = false;
  // Why the request failed, for the sender's retry line.
  std::string Failure;
  std::atomic<bool> Done{false};
};

// What a poster needs to know of its sender's receiver.
struct TBulkPosterSettings {
  // "http://host" or "https://host".
  std::string Endpoint;
  uint16_t Port = 0;
  std::string UserName;
  std::string Password;
  int32_t ESVersion = 6;
  // Every action line carries the document's BulkDocumentId as "_id".
  bool DocumentId = false;
  bool CreateTemplate = true;
  std::string TemplateName;
  // Where winlogbeat_template_<ESVersion>.json lies.
  std::string TemplateFolder;
  TEndpointClientOptions ClientOptions;
};

// The bulk action line of a document for the index of ADay ("YYYY-MM-DD"):
// with "_type" for servers of version 7 and below, which expect it, and
// without for 8 and later, which refuse it; with "_id" when ADocumentId is
// not empty (it must need no JSON escaping).
[[nodiscard]] std::string BulkActionLine(int32_t AESVersion, const std::string& ADay,
                                         const std::string& ADocumentId = {});
// The deterministic document id of ADocument: the SHA-256 digest of its
// IdentityText in 64 lower-case hex digits, so the same event gets the same
// id from any run; empty when the document has no identity.
[[nodiscard]] std::string BulkDocumentId(const TLogBeat& ADocument);
// "YYYY-MM-DD" of the UTC day of ADate.
[[nodiscard]] std::string BeatDayText(TDateTime ADate);

// A thread of a beat sender's small fixed pool: it runs one TBulkJob at a
// time on its own HTTP client (so the connection is kept from one request to
// the next) and sets the sender's done event when the job is done. The sender
// thread never waits for the network.
//
// Threads: Post and Idle are for the sender thread; the body runs the jobs.
// The job and the done event are borrowed; the job is the poster's from Post
// until it sets Done. The owner stops the poster (waiting) before freeing it.
class TBulkPoster : public TCustomThread {
 public:
  TBulkPoster(const TBulkPosterSettings& ASettings, TEvent* ADoneEvent);
  ~TBulkPoster() override;

  // Hands AJob over; the poster must be idle.
  void Post(TBulkJob* AJob) EXCLUDES(FLock);
  // No job, or the last one is done.
  [[nodiscard]] bool Idle() const EXCLUDES(FLock);

 protected:
  bool Execute() override;

 private:
  void Run(TBulkJob& AJob);
  void RunBulk(TBulkJob& AJob);
  void RunTemplate(TBulkJob& AJob);
  // The compact template text to upload; empty (logged) when there is none.
  std::string TemplateText();
  TEndpointClient& Client();

  const TBulkPosterSettings FSettings;
  TEvent* const FDoneEvent;
  mutable TCriticalSection FLock;
  TBulkJob* FJob GUARDED_BY(FLock) = nullptr;
  TEvent FJobEvent;
  // The poster thread's own.
  std::unique_ptr<TEndpointClient> FClient;
  std::string FBody;
};

}  // namespace zor
