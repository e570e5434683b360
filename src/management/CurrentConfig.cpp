#include "management/CurrentConfig.h"

#include <cctype>
#include <filesystem>
#include <system_error>

#include "management/AsciiCase.h"
#include "management/ConfigValidator.h"
#include "platform/MessageQueue.h"
#include "support/Json.h"

namespace zor {

namespace {


TConfigChange Rejected(std::vector<std::string>&& AProblems) {
  return TConfigChange{TConfigChange::TOutcome::coRejected, std::move(AProblems)};
}

}  // namespace

TCurrentConfig::TCurrentConfig(std::string AFileName, TControlWindow* AControlWindow)
    : FFileName(std::move(AFileName)), FControlWindow(AControlWindow), FCurrent(std::make_shared<TCollector>()) {}

std::shared_ptr<const TCollector> TCurrentConfig::Snapshot() const {
  TCriticalSectionGuard guard(FSnapshotLock);
  return FCurrent;
}

void TCurrentConfig::MakeCurrent(std::unique_ptr<TCollector>&& ACollector) {
  std::shared_ptr<const TCollector> next(std::move(ACollector));
  TCriticalSectionGuard guard(FSnapshotLock);
  // The previous collector goes when its last reader lets go of it.
  FCurrent.swap(next);
}

std::shared_ptr<const TCollector> TCurrentConfig::Load(bool AFresh) {
  TCriticalSectionGuard guard(FChangeLock);
  std::unique_ptr<TCollector> collector;
  if (AFresh) {
    collector = std::make_unique<TCollector>();
    collector->LoadFromJson(FFileName);
  } else {
    collector = std::make_unique<TCollector>(*Snapshot());
    std::error_code error;
    if (std::filesystem::exists(FFileName, error)) collector->LoadFromJson(FFileName);
  }
  MakeCurrent(std::move(collector));
  return Snapshot();
}

TConfigChange TCurrentConfig::ApplyJson(std::string_view ABody) {
  const TJSONValue body = Json::Parse(ABody);
  JSONConfig::RequireObject(body);

  TCriticalSectionGuard guard(FChangeLock);
  // The body's keys over the current configuration's own JSON form: the same
  // as applying the body to the collector, and the form check-config reads.
  TJSONValue merged = *Snapshot()->ToJSONObject();
  for (const auto& [key, value] : body.items()) merged[key] = value;
  TConfigChecker::TResult result = TConfigValidator::CheckDocument(std::move(merged));
  if (!result.Problems.empty() || !result.Effective) return Rejected(std::move(result.Problems));
  Commit(std::move(result.Effective));
  return TConfigChange{TConfigChange::TOutcome::coApplied, {}};
}

TConfigChange TCurrentConfig::RemoveReader(const std::string& AName) {
  TConfigChange change;
  {
    TCriticalSectionGuard guard(FChangeLock);
    auto candidate = std::make_unique<TCollector>(*Snapshot());
    const std::string name = UpperAscii(AName);
    for (int i = 0; i < candidate->InterfaceCount(); ++i) {
      if (UpperAscii(candidate->GetInterface(i).Name()) != name) continue;
      candidate->DeleteInterface(i);
      candidate->SaveAsJson(FFileName);
      MakeCurrent(std::move(candidate));
      change.Outcome = TConfigChange::TOutcome::coApplied;
      break;
    }
  }
  RequestReconfigure();
  return change;
}

TConfigChange TCurrentConfig::Adopt(const TCollector& AReceived) {
  TCriticalSectionGuard guard(FChangeLock);
  const std::shared_ptr<const TCollector> current = Snapshot();
  TCollector received(AReceived);
  // The local connection to the server survives every answer of the server.
  received.SetUseConfigServer(current->UseConfigServer());
  received.SetConfigServer(current->ConfigServer());
  received.SetConfigServerUserName(current->ConfigServerUserName());
  received.SetConfigServerPassword(current->ConfigServerPassword());
  received.SetConfigServerVerifyCertificate(current->ConfigServerVerifyCertificate());
  received.SetConfigServerCAFile(current->ConfigServerCAFile());

  // Checked and compared in the form the file keeps: a key the file does not
  // write would otherwise differ at every query and restart every time.
  TConfigChecker::TResult result = TConfigValidator::CheckDocument(*received.ToJSONObject());
  if (!result.Effective) return Rejected(std::move(result.Problems));
  if (!TCollector::HasChanged(*result.Effective, *current)) return TConfigChange{};
  if (!result.Problems.empty()) return Rejected(std::move(result.Problems));
  Commit(std::move(result.Effective));
  return TConfigChange{TConfigChange::TOutcome::coApplied, {}};
}

void TCurrentConfig::Commit(std::unique_ptr<TCollector>&& ACandidate) {
  ACandidate->SaveAsJson(FFileName);
  MakeCurrent(std::move(ACandidate));
  RequestReconfigure();
}

void TCurrentConfig::RequestReconfigure() {
  if (TControlWindow* window = FControlWindow.load()) window->PostMessage(WM_RECONFIGURE);
}

}  // namespace zor
