#include "beats/BulkPoster.h"

#include <openssl/sha.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "support/Json.h"
#include "support/Log.h"
#include "support/TextFile.h"
#include "support/Utilities.h"

namespace zor {

namespace {

constexpr const char* JsonType = "application/json";

// A body this large is not kept for the next request.
constexpr size_t KeptBodyBytes = 64 * 1024 * 1024;

bool IsSpaceOrControl(char AChar) { return static_cast<unsigned char>(AChar) <= 32; }

std::string Trimmed(const std::string& AText) {
  size_t first = 0, last = AText.size();
  while (first < last && IsSpaceOrControl(AText[first])) ++first;
  while (last > first && IsSpaceOrControl(AText[last - 1])) --last;
  return AText.substr(first, last - first);
}

// A status that says the endpoint could not answer the question now.
bool AnswerLater(int AStatus) { return AStatus < 0 || AStatus == 429 || AStatus >= 500; }

}  // namespace

std::string BulkActionLine(int32_t AESVersion, const std::string& ADay, const std::string& ADocumentId) {
  std::string line = "{\"index\":{\"_index\":\"winlogbeat-" + ADay + "\"";
  if (AESVersion <= 7) line += ", \"_type\":\"winLogBeat\"";
  if (!ADocumentId.empty()) line += ",\"_id\":\"" + ADocumentId + "\"";
  return line + "}}";
}

std::string BulkDocumentId(const TLogBeat& ADocument) {
  const std::string identity = ADocument.IdentityText();
  if (identity.empty()) return {};
  std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
  SHA256(reinterpret_cast<const unsigned char*>(identity.data()), identity.size(), digest.data());
  static constexpr char Hex[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * digest.size());
  for (const unsigned char byte : digest) {
    text += Hex[byte >> 4];
    text += Hex[byte & 15];
  }
  return text;
}

std::string BeatDayText(TDateTime ADate) {
  return TUtilities::DateTimeToISOTimestampString(ADate).substr(0, 10);
}

TBulkPoster::TBulkPoster(const TBulkPosterSettings& ASettings, TEvent* ADoneEvent)
    : FSettings(ASettings), FDoneEvent(ADoneEvent) {}

TBulkPoster::~TBulkPoster() { (void)ThreadStop(true, INFINITE); }

void TBulkPoster::Post(TBulkJob* AJob) {
  TCriticalSectionGuard guard(FLock);
  FJob = AJob;
  FJobEvent.Set();
}

bool TBulkPoster::Idle() const {
  TCriticalSectionGuard guard(FLock);
  return FJob == nullptr;
}

bool TBulkPoster::Execute() {
  for (;;) {
    const uint32_t result = WaitForAny({FShouldFinishEvent.get(), &FJobEvent}, INFINITE);
    if (result == WAIT_OBJECT_0) break;
    if (result != WAIT_OBJECT_0 + 1) continue;
    FJobEvent.Reset();
    TBulkJob* job;
    {
      TCriticalSectionGuard guard(FLock);
      job = FJob;
    }
    if (job == nullptr) continue;
    Run(*job);
    // Idle before Done: once Done, the sender may free the job.
    {
      TCriticalSectionGuard guard(FLock);
      FJob = nullptr;
    }
    job->Done.store(true, std::memory_order_release);
    FDoneEvent->Set();
  }
  return true;
}

TEndpointClient& TBulkPoster::Client() {
  if (!FClient)
    FClient = std::make_unique<TEndpointClient>(FSettings.Endpoint, FSettings.Port, FSettings.UserName,
                                                FSettings.Password, "_bulk", FSettings.ClientOptions);
  return *FClient;
}

void TBulkPoster::Run(TBulkJob& AJob) {
  try {
    if (AJob.Kind == TBulkJob::TKind::bjTemplate)
      RunTemplate(AJob);
    else
      RunBulk(AJob);
  } catch (const std::exception& e) {
    // Nothing is known of what the endpoint did: the whole job again later.
    AJob.Failure = e.what();
    AJob.TemplateSettled = false;
    AJob.Response = TBulkResponse::FromExchange(-1, e.what(), {}, AJob.Documents.size());
    FClient.reset();
  }
}

void TBulkPoster::RunBulk(TBulkJob& AJob) {
  FBody.clear();
  std::string indexes;
  double lastDay = NAN;
  std::string action, dayText;
  for (const auto& document : AJob.Documents) {
    // Documents of one request mostly share their day: the action line is
    // made again only when the day changes.
    const double day = std::floor(document->LogDate());
    if (day != lastDay) {
      lastDay = day;
      dayText = BeatDayText(document->LogDate());
      action = BulkActionLine(FSettings.ESVersion, dayText);
      if (indexes.find(dayText) == std::string::npos) indexes += (indexes.empty() ? "" : ",") + dayText;
    }
    if (FSettings.DocumentId)
      FBody += BulkActionLine(FSettings.ESVersion, dayText, BulkDocumentId(*document));
    else
      FBody += action;
    FBody += "\r\n";
    document->AppendJSON(FBody);
    FBody += "\r\n";
  }
  TEndpointClient& client = Client();
  const std::string answer = client.Post("_bulk", FBody, JsonType, JsonType);
  AJob.Response =
      TBulkResponse::FromExchange(client.StatusCode(), client.StatusText(), answer, AJob.Documents.size());
  if (AJob.Response.RequestFailed()) {
    const std::string reason = client.LastError().empty() ? client.StatusText() : client.LastError();
    LogError("POST Failed for key %s with message %s: %s", indexes.c_str(), client.FullURL().c_str(),
             reason.c_str());
    AJob.Failure = reason.empty() ? "no answer" : reason;
  } else {
    LogInfo("POST %d messages to index %s at %s sucessful",
            static_cast<int>(AJob.Response.Count(TBulkOutcome::boAccepted)), indexes.c_str(),
            client.FullURL().c_str());
  }
  if (FBody.capacity() > KeptBodyBytes) std::string().swap(FBody);
}

void TBulkPoster::RunTemplate(TBulkJob& AJob) {
  TEndpointClient& client = Client();
  const std::string resource = "_template/" + FSettings.TemplateName;
  const std::string url = client.EndpointURL() + "/" + resource;
  const int exists = client.Head(resource);
  if (exists == 200) {
    AJob.TemplateSettled = true;
    return;
  }
  if (AnswerLater(exists)) {
    AJob.Failure = "template check at " + url + ": " + (client.LastError().empty() ? "no answer" : client.LastError());
    return;
  }
  const std::string text = TemplateText();
  if (text.empty()) {
    AJob.TemplateSettled = true;
    return;
  }
  client.Put(resource, text, JsonType, JsonType);
  const int status = client.StatusCode();
  if (AnswerLater(status)) {
    AJob.Failure = "template upload to " + url + ": " + (client.LastError().empty() ? "no answer" : client.LastError());
    return;
  }
  AJob.TemplateSettled = true;
  if (status == 200)
    LogInfo("Template created!");
  else
    LogError("%s creation failed!", url.c_str());
}

std::string TBulkPoster::TemplateText() {
  char name[64];
  std::snprintf(name, sizeof name, "winlogbeat_template_%d.json", FSettings.ESVersion);
  const std::string path = (std::filesystem::path(FSettings.TemplateFolder) / name).string();
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    LogError("Template file %s does not exist", path.c_str());
    return {};
  }
  try {
    // Each line trimmed, the lines joined without a separator, as the file
    // has always been read.
    const std::string content = TextFile::ReadText(path);
    std::string joined;
    size_t start = 0;
    while (start <= content.size()) {
      size_t end = content.find('\n', start);
      if (end == std::string::npos) end = content.size();
      joined += Trimmed(content.substr(start, end - start));
      start = end + 1;
    }
    return Json::Compact(Json::Parse(Trimmed(joined)));
  } catch (const std::exception& e) {
    LogError("Template file %s cannot be uploaded: %s", path.c_str(), e.what());
    return {};
  }
}

}  // namespace zor
