#include "management/EvtSyslogSvcEndPoint.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "management/AsciiCase.h"
#include "collection/WinEvt.h"
#include "management/MetricsExposition.h"
#include "management/ServiceStatus.h"
#include "platform/ProcessFigures.h"
#include "platform/ServicePaths.h"
#include "support/FileLogger.h"
#include "support/Json.h"
#include "support/Log.h"

namespace zor {

namespace {

constexpr const char* ServiceType = "ZOR Event Log Exporter";
constexpr const char* RootFallback = "ZOR Windows Event Collector Engine";


bool IsCommand(const std::vector<std::string>& APieces, const char* ACommand, size_t ACount) {
  return APieces.size() == ACount && UpperAscii(APieces[1]) == ACommand;
}

std::string JoinLines(const std::vector<std::string>& ALines) {
  std::string text;
  for (size_t i = 0; i < ALines.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += ALines[i];
  }
  return text;
}

// The lines of index.html beside the program, joined with CR LF; false when
// there is no such file.
bool ReadIndexPage(std::string& AText) {
  std::ifstream file(std::filesystem::path(ServicePaths().HomeDir) / "index.html", std::ios::binary);
  if (!file) return false;
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  AText = JoinLines(lines);
  return true;
}

bool CaseInsensitiveLess(const std::string& AFirst, const std::string& ASecond) {
  return std::lexicographical_compare(AFirst.begin(), AFirst.end(), ASecond.begin(), ASecond.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) < std::tolower(static_cast<unsigned char>(b));
  });
}

}  // namespace

TEvtSyslogSvcEndPoint::TEvtSyslogSvcEndPoint(const std::string& AIP, uint16_t APort, const std::string& AProtocol,
                                             const std::string& ACertFile, const std::string& AKeyFile,
                                             const std::string& ARootCertFile, const std::string& AUserName,
                                             const std::string& APassword, TCurrentConfig& AConfig,
                                             const std::string& AClientCAFile, const TEndPointLimits& ALimits)
    : TEndPointBase(AIP, APort, AProtocol, ACertFile, AKeyFile, ARootCertFile, AUserName, APassword, AClientCAFile,
                    ALimits),
      FConfig(AConfig) {}

TEvtSyslogSvcEndPoint::~TEvtSyslogSvcEndPoint() { Stop(); }

std::vector<std::string> TEvtSyslogSvcEndPoint::SplitPath(const std::string& AURI) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    const size_t slash = AURI.find('/', start);
    pieces.push_back(AURI.substr(start, slash - start));
    if (slash == std::string::npos) return pieces;
    start = slash + 1;
  }
}

std::string TEvtSyslogSvcEndPoint::LogPage(const std::vector<std::string>& ALines) {
  std::string page = "<html><head><title>LogFile</title></head><body><pre>";
  for (size_t i = 0; i < ALines.size(); ++i) {
    if (i > 0) page += "\r\n";
    // Log lines carry text from events and configurations.
    for (char c : ALines[i]) {
      switch (c) {
        case '&': page += "&amp;"; break;
        case '<': page += "&lt;"; break;
        case '>': page += "&gt;"; break;
        default: page += c;
      }
    }
  }
  return page + "</pre></body></html>";
}

void TEvtSyslogSvcEndPoint::HandleGet(const TEndPointRequest& ARequest, TEndPointResponse& AResponse) {
  if (ARequest.URI == "/") {
    if (ReadIndexPage(AResponse.Body))
      AResponse.ContentType = "text/html; charset=utf-8";
    else
      AResponse.Body = RootFallback;
    return;
  }
  const std::vector<std::string> pieces = SplitPath(ARequest.URI);
  if (pieces.size() < 2) return;
  if (IsCommand(pieces, "CONFIG", 2)) {
    AResponse.Body = FConfig.Snapshot()->AsJSONString();
    AResponse.ContentType = "application/json";
  } else if (IsCommand(pieces, "STATUS", 2)) {
    TServiceStatus status;
    status.SetServiceType(ServiceType);
    status.Refresh();
    AResponse.Body = status.AsJSONString();
    AResponse.ContentType = "application/json";
  } else if (IsCommand(pieces, "API", 3) && UpperAscii(pieces[2]) == "LOG") {
    const std::vector<std::string> lines = TFileLogger::CurrentLogFileContents();
    if (std::find(ARequest.Params.begin(), ARequest.Params.end(), "textOnly") != ARequest.Params.end()) {
      AResponse.Body = JoinLines(lines);
      AResponse.ContentType = "text/plain; charset=utf-8";
    } else {
      AResponse.Body = LogPage(lines);
      AResponse.ContentType = "text/html; charset=utf-8";
    }
  } else if (IsCommand(pieces, "METRICS", 2)) {
    AnswerMetrics(AResponse);
  } else if (IsCommand(pieces, "HEALTH", 2)) {
    AnswerHealth(AResponse);
  } else if (UpperAscii(pieces[1]) == "CHANNEL") {
    TJSONValue names = TJSONValue::array();
    for (const std::string& name : ListChannels()) names.push_back(name);
    AResponse.Body = Json::Compact(names);
    AResponse.ContentType = "application/json";
  }
}

void TEvtSyslogSvcEndPoint::HandlePut(const TEndPointRequest& ARequest, TEndPointResponse& AResponse) {
  if (!IsCommand(SplitPath(ARequest.URI), "CONFIG", 2)) return;
  const TConfigChange change = FConfig.ApplyJson(ARequest.Body);
  if (change.Outcome == TConfigChange::TOutcome::coRejected) {
    TJSONValue problems = TJSONValue::array();
    for (const std::string& problem : change.Problems) problems.push_back(problem);
    AResponse.Status = 400;
    AResponse.Body = Json::Compact(problems);
    AResponse.ContentType = "application/json";
    LogError("[EndPoint] Config from %s refused: %d problems", ARequest.ClientAddress.c_str(),
             static_cast<int>(change.Problems.size()));
    return;
  }
  LogInfo("[EndPoint] Config Saved");
}

void TEvtSyslogSvcEndPoint::HandlePost(const TEndPointRequest& ARequest, TEndPointResponse&) {
  const auto started = std::chrono::steady_clock::now();
  if (IsCommand(SplitPath(ARequest.URI), "CONFIG", 2)) FConfig.RequestReconfigure();
  const double elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  LogInfo("[EndPoint] Processed Post Command from %s to %s in %.3f  millisconds", ARequest.ClientAddress.c_str(),
          ARequest.URI.c_str(), elapsed);
}

void TEvtSyslogSvcEndPoint::HandleDelete(const TEndPointRequest& ARequest, TEndPointResponse&) {
  const std::vector<std::string> pieces = SplitPath(ARequest.URI);
  if (!IsCommand(pieces, "SUBSCRIBER", 3)) return;
  // The name as sent, without percent-decoding.
  (void)FConfig.RemoveReader(pieces[2]);
  LogInfo("[EndPoint] Subscriber %s removed from config", pieces[2].c_str());
}

void TEvtSyslogSvcEndPoint::AnswerMetrics(TEndPointResponse& AResponse) const {
  if (FMetrics == nullptr) {
    AResponse.Status = 503;
    return;
  }
  AResponse.Body = TMetricsExposition::PrometheusText(FMetrics->Snapshot(), TProcessFigures::Read());
  AResponse.ContentType = "text/plain; version=0.0.4; charset=utf-8";
}

void TEvtSyslogSvcEndPoint::AnswerHealth(TEndPointResponse& AResponse) const {
  AResponse.ContentType = "application/json";
  if (FMetrics == nullptr) {
    AResponse.Status = 503;
    AResponse.Body = R"({"status":"starting","reason":"no figures kept"})";
    return;
  }
  const TMetricsSnapshot snapshot = FMetrics->Snapshot();
  AResponse.Status = TMetricsExposition::HealthStatus(snapshot);
  AResponse.Body = Json::Compact(TMetricsExposition::HealthJson(snapshot));
}

std::vector<std::string> TEvtSyslogSvcEndPoint::ListChannels() {
  std::vector<std::string> names;
  try {
    TWinEvt* api = TWinEvt::Load();
    EVT_HANDLE channels = api->EvtOpenChannelEnum(nullptr, 0);
    if (channels == nullptr) {
      const uint32_t code = TWinEvt::GetLastError();
      LogError("[EndPoint] Error in EvtOpenChannelEnum: %d. %s.", static_cast<int>(code),
               TWinEvt::SysErrorMessage(code).c_str());
    } else {
      for (;;) {
        uint32_t used = 0;
        if (api->EvtNextChannelPath(channels, 0, nullptr, &used)) continue;
        const uint32_t code = TWinEvt::GetLastError();
        if (code == ERROR_NO_MORE_ITEMS) break;
        std::string name(used + 1, '\0');
        if (code != ERROR_INSUFFICIENT_BUFFER ||
            !api->EvtNextChannelPath(channels, static_cast<uint32_t>(name.size()), name.data(), &used)) {
          const uint32_t error = TWinEvt::GetLastError();
          LogError("[EndPoint] Error in EvtNextChannelPath: %d. %s.", static_cast<int>(error),
                   TWinEvt::SysErrorMessage(error).c_str());
          break;
        }
        name.resize(std::min<size_t>(name.find('\0'), name.size()));
        names.push_back(std::move(name));
      }
      (void)api->EvtClose(channels);
    }
  } catch (const std::exception& error) {
    LogError("[EndPoint] Exception Loading WinEvt api %s.", error.what());
  }
  std::sort(names.begin(), names.end(), CaseInsensitiveLess);
  return names;
}

}  // namespace zor
