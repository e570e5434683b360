#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "beats/BulkPoster.h"
#include "beats/EndpointClient.h"
#include "beats/LogBeat.h"
#include "delivery/SenderWorker.h"
#include "platform/Event.h"

namespace zor {

// Options of one beat sender, copied into it.
struct TBeatSenderOptions {
  int32_t ESVersion = 6;
  // Each document's action line carries its deterministic "_id"
  // (BulkDocumentId), so a document sent again replaces its first copy.
  bool DocumentId = false;
  std::string Protocol = "http";
  bool CreateTemplate = true;
  std::string TemplateName = "template_winlogbeat";
  uint32_t QueueCountThreshold = 0;
  uint32_t QueueSecondsThreshold = 0;
  // Over https: check the endpoint's certificate, against CAFile (PEM) or the
  // system's trust store when CAFile is empty.
  bool VerifyCertificate = false;
  std::string CAFile;
};

// Settings that the service leaves at their defaults and tests and
// benchmarks change.
struct TBeatSenderTuning {
  // Time source of the flush thresholds and the retry back-off (null: the
  // steady clock).
  TDeliveryTuning::TClock Clock;
  uint32_t RetryInitialMilliseconds = 1000;
  uint32_t RetryMaxMilliseconds = 60000;
  // The most documents a sender keeps queued; beyond it the oldest are
  // dropped. The readers are held back long before (the pipeline's backlog
  // probe), so this only bounds memory.
  size_t MaxQueuedDocuments = 100000;
  // Bulk requests in flight at once, each on its own connection.
  size_t Posters = 2;
  // The most documents of one bulk request.
  size_t MaxBulkDocuments = 2000;
  // Where the template files lie (empty: SvcConfigDir).
  std::string TemplateFolder;
  // Time-outs of the HTTP client (the certificate check comes from the
  // options).
  TEndpointClientOptions ClientOptions;
  // Where the sender counts (null: counters of its own).
  std::shared_ptr<TDestinationCounters> Counters;
};

// The worker thread that delivers beat documents to one Elasticsearch-style
// endpoint (one host and port): the HTTP part on top of the delivery core
// (TSenderWorker: queue, thresholds, back-off, outcome per document).
//
// Producers (the registry) hand documents over with AddBeatBatch and AddBeat
// from any thread. On a flush the sender thread takes up to MaxBulkDocuments
// documents at a time off the head of the queue and gives each such bulk
// request to an idle poster of its own small pool (TBulkPoster, Posters
// threads), which builds the body (each document's action line names the
// index of its UTC day, "winlogbeat-YYYY-MM-DD") and posts it on its kept
// connection. The sender thread never waits for the network.
//
// Delivery: the answer is read per document (TBulkResponse). Documents the
// endpoint indexed are sent; documents it refused for good (a 4xx other than
// 429, e.g. a mapping error) are logged with the error's type and reason and
// dropped; all others (429, 5xx, no answer, a dropped connection, an answer
// that is not a bulk response) are kept: no new request starts until every
// request in flight has ended, then the kept documents go back to the head of
// the queue in their order, ahead of anything newer, and the sender tries
// again after the back-off (1 s doubling to 60 s, one log line per attempt).
// So documents that must be retried are never overtaken by later ones beyond
// the requests already in flight.
//
// Template: with CreateTemplate, the first thing the sender does is ask the
// endpoint for the template and upload winlogbeat_template_<ESVersion>.json
// when it is missing. No bulk request goes out before that is settled; while
// the endpoint does not answer, the question is asked again after the
// back-off. A missing or unreadable template file is one ERROR line, and
// delivery goes on without a template.
//
// Stop: the thread lets the requests in flight end and puts their undelivered
// documents back in the queue before it finishes, so the owner takes every
// document that was not delivered with TakeQueued.
class TBeatSender : public TSenderWorker<TLogBeat> {
 public:
  TBeatSender(std::string AHost, uint16_t APort, std::string AUserName, std::string APassword,
              const TBeatSenderOptions& ASenderOptions, TBeatSenderTuning ATuning = {});
  ~TBeatSender() override;

  // Takes every document of ABatch, in list order; ABatch is left empty.
  void AddBeatBatch(TItemList&& ABatch) { AddBatch(std::move(ABatch)); }
  // Takes ADocument and queues it; returns its JSON text.
  std::string AddBeat(TItemPtr&& ADocument);

  const std::string& Host() const { return FHost; }
  uint16_t Port() const { return FPort; }
  const std::string& DestinationHost() const { return FHost; }
  uint16_t DestinationPort() const { return FPort; }
  const TBeatSenderOptions& SenderOptions() const { return FSenderOptions; }

  // Documents queued, in requests in flight, and kept for a retry.
  size_t QueuedCount() const override;

 protected:
  bool BeforeThreadStart(bool AWaitTillStarted) override;
  bool Execute() override;
  void Flush() override;
  TEvent* WorkDoneEvent() override { return &FDoneEvent; }
  void WorkDone() override;

 private:
  // Starts what can be started: the template question, or bulk requests on
  // idle posters while documents are queued.
  void Pump();
  TBulkPoster* IdlePoster();
  // Sorts the outcome of one finished bulk request into AAttempt (sent,
  // dropped) and FKept (retry); returns why documents were kept, or "".
  std::string SortOutcome(TBulkJob& AJob, TDeliveryAttempt<TLogBeat>& AAttempt);

  const std::string FHost;
  const uint16_t FPort;
  const TBeatSenderOptions FSenderOptions;
  const TBeatSenderTuning FTuning;
  TEvent FDoneEvent;
  std::vector<std::unique_ptr<TBulkPoster>> FPosters;
  // Documents in requests in flight and kept for a retry.
  std::atomic<size_t> FInHand{0};

  // The sender thread's own.
  std::deque<std::unique_ptr<TBulkJob>> FJobs;  // in the order they started
  std::deque<TItemPtr> FKept;                   // to retry, oldest first
  std::string FKeptReason;
  bool FTemplateSettled;
  bool FDraining = false;
  bool FStopping = false;
};

}  // namespace zor
