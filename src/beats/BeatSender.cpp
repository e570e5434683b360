#include "beats/BeatSender.h"

#include <utility>

#include "platform/ServicePaths.h"
#include "support/Log.h"

namespace zor {

namespace {

TBulkPosterSettings PosterSettings(const std::string& AHost, uint16_t APort, std::string AUserName,
                                   std::string APassword, const TBeatSenderOptions& AOptions,
                                   const TBeatSenderTuning& ATuning) {
  TBulkPosterSettings settings;
  settings.Endpoint = AOptions.Protocol + "://" + AHost;
  settings.Port = APort;
  settings.UserName = std::move(AUserName);
  settings.Password = std::move(APassword);
  settings.ESVersion = AOptions.ESVersion;
  settings.DocumentId = AOptions.DocumentId;
  settings.CreateTemplate = AOptions.CreateTemplate;
  settings.TemplateName = AOptions.TemplateName;
  settings.TemplateFolder = ATuning.TemplateFolder.empty() ? SvcConfigDir() : ATuning.TemplateFolder;
  settings.ClientOptions = ATuning.ClientOptions;
  settings.ClientOptions.VerifyCertificate = AOptions.VerifyCertificate;
  settings.ClientOptions.CAFile = AOptions.CAFile;
  return settings;
}

}  // namespace

TBeatSender::TBeatSender(std::string AHost, uint16_t APort, std::string AUserName, std::string APassword,
                         const TBeatSenderOptions& ASenderOptions, TBeatSenderTuning ATuning)
    : TSenderWorker(AHost + ":" + std::to_string(APort), "documents",
                    TFlushThresholds{ASenderOptions.QueueCountThreshold, ASenderOptions.QueueSecondsThreshold},
                    TDeliveryTuning{ATuning.Clock, ATuning.RetryInitialMilliseconds, ATuning.RetryMaxMilliseconds,
                                    ATuning.MaxQueuedDocuments, ATuning.Counters}),
      FHost(std::move(AHost)),
      FPort(APort),
      FSenderOptions(ASenderOptions),
      FTuning(std::move(ATuning)),
      FTemplateSettled(!ASenderOptions.CreateTemplate) {
  const TBulkPosterSettings settings =
      PosterSettings(FHost, FPort, std::move(AUserName), std::move(APassword), FSenderOptions, FTuning);
  const size_t posters = FTuning.Posters == 0 ? 1 : FTuning.Posters;
  for (size_t i = 0; i < posters; ++i) FPosters.push_back(std::make_unique<TBulkPoster>(settings, &FDoneEvent));
}

TBeatSender::~TBeatSender() {
  // The sender thread settles its requests before it ends; then the posters
  // go, before the event they set.
  (void)ThreadStop(true, INFINITE);
  FPosters.clear();
}

std::string TBeatSender::AddBeat(TItemPtr&& ADocument) {
  if (!ADocument) return {};
  std::string text = ADocument->AsJSONString();
  AddItem(std::move(ADocument));
  return text;
}

size_t TBeatSender::QueuedCount() const { return TSenderWorker::QueuedCount() + FInHand.load(); }

bool TBeatSender::BeforeThreadStart(bool AWaitTillStarted) {
  (void)AWaitTillStarted;
  for (auto& poster : FPosters) (void)poster->ThreadStart(false, 0);
  return true;
}

bool TBeatSender::Execute() {
  // The template question comes first, before any document arrives.
  Pump();
  (void)TSenderWorker::Execute();
  // Stopping: start nothing new, let the requests in flight end, and put
  // back what they did not deliver.
  FStopping = true;
  while (!FJobs.empty()) {
    if (!FDoneEvent.WaitFor(1000)) continue;
    FDoneEvent.Reset();
    WorkDone();
  }
  return true;
}

void TBeatSender::Flush() {
  if (FTemplateSettled && FJobs.empty() && FKept.empty() && TSenderWorker::QueuedCount() == 0) {
    LogDebug("No Beats to Flush");
    return;
  }
  FDraining = true;
  Pump();
}

TBulkPoster* TBeatSender::IdlePoster() {
  for (auto& poster : FPosters)
    if (poster->Idle()) return poster.get();
  return nullptr;
}

void TBeatSender::Pump() {
  if (FStopping || BackingOff() || !FKept.empty()) return;
  if (!FTemplateSettled) {
    if (!FJobs.empty()) return;  // the question is out
    TBulkPoster* poster = IdlePoster();
    if (poster == nullptr) return;
    FJobs.push_back(std::make_unique<TBulkJob>(TBulkJob::TKind::bjTemplate));
    poster->Post(FJobs.back().get());
    return;
  }
  // Finished requests wait in FJobs until those before them have finished;
  // that bounds what is in hand to twice the pool.
  while (FJobs.size() < 2 * FPosters.size()) {
    TBulkPoster* poster = IdlePoster();
    if (poster == nullptr) break;
    std::deque<TItemPtr> documents = TakeQueuedItems(FTuning.MaxBulkDocuments == 0 ? 1 : FTuning.MaxBulkDocuments);
    if (documents.empty()) break;
    auto job = std::make_unique<TBulkJob>(TBulkJob::TKind::bjBulk);
    job->Documents.reserve(documents.size());
    for (TItemPtr& document : documents) job->Documents.push_back(std::move(document));
    FInHand += job->Documents.size();
    LogInfo("Dequeued %d messages", static_cast<int>(job->Documents.size()));
    FJobs.push_back(std::move(job));
    poster->Post(FJobs.back().get());
  }
  FDraining = TSenderWorker::QueuedCount() != 0;
}

void TBeatSender::WorkDone() {
  TDeliveryAttempt<TLogBeat> attempt;
  std::string failure;
  // In the order the requests started, so kept documents stay in order.
  while (!FJobs.empty() && FJobs.front()->Done.load(std::memory_order_acquire)) {
    std::unique_ptr<TBulkJob> job = std::move(FJobs.front());
    FJobs.pop_front();
    if (job->Kind == TBulkJob::TKind::bjTemplate) {
      if (job->TemplateSettled) {
        FTemplateSettled = true;
        FDraining = true;
      } else {
        ++FFailedAttempts;
        NoteAttempt(job->Failure);
        const uint32_t delay = StartBackOff();
        LogError("[Senders] %s: %s; next attempt in %u ms", Destination().c_str(), job->Failure.c_str(), delay);
      }
      continue;
    }
    const std::string reason = SortOutcome(*job, attempt);
    if (!reason.empty() && FKeptReason.empty()) FKeptReason = reason;
  }
  if (!FKept.empty() && FJobs.empty()) {
    // Every request of the round has ended: the kept documents go back in
    // front of the queue in one piece, and the back-off starts.
    FInHand -= FKept.size();
    failure = FKeptReason.empty() ? "not indexed" : FKeptReason;
    FKeptReason.clear();
    Settle(attempt, std::move(FKept), failure);
    FKept.clear();
  } else if (!FKept.empty()) {
    SettleDecided(attempt);
  } else if (!attempt.Sent.empty() || !attempt.Dropped.empty()) {
    Settle(attempt, {}, {});
  }
  if (FDraining) Pump();
}

std::string TBeatSender::SortOutcome(TBulkJob& AJob, TDeliveryAttempt<TLogBeat>& AAttempt) {
  const std::vector<TBulkItemResult>& results = AJob.Response.Items();
  FCounters->LastStatus.store(AJob.Response.StatusCode(), std::memory_order_relaxed);
  std::string kept;
  for (size_t i = 0; i < AJob.Documents.size(); ++i) {
    TItemPtr& document = AJob.Documents[i];
    const TBulkOutcome outcome = i < results.size() ? results[i].Outcome : TBulkOutcome::boRetry;
    switch (outcome) {
      case TBulkOutcome::boAccepted:
        AAttempt.Sent.push_back(std::move(document));
        --FInHand;
        break;
      case TBulkOutcome::boRejected:
        LogError("[Senders] %s refused a document for index winlogbeat-%s (status %d): %s: %s",
                 Destination().c_str(), BeatDayText(document->LogDate()).c_str(), results[i].Status,
                 results[i].ErrorType.c_str(), results[i].ErrorReason.c_str());
        FCounters->NoteRejected(results[i].ErrorType);
        AAttempt.Dropped.push_back(std::move(document));
        --FInHand;
        break;
      case TBulkOutcome::boRetry:
        if (kept.empty())
          kept = !AJob.Failure.empty()       ? AJob.Failure
                 : i < results.size()        ? "status " + std::to_string(results[i].Status) + " " +
                                                   results[i].ErrorType
                                             : "no result";
        FKept.push_back(std::move(document));
        break;
    }
  }
  return kept;
}

}  // namespace zor
