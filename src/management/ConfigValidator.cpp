#include "management/ConfigValidator.h"

#include <arpa/inet.h>

#include <cctype>
#include <string>

#include "management/AsciiCase.h"
#include "collection/RegularExpression.h"
#include "management/CertFiles.h"

namespace zor {

namespace {

std::string ReaderPath(int AIndex) { return "interfaces[" + std::to_string(AIndex) + "]"; }

void CheckExclusionExpressions(int AIndex, const TCollectionInterface& AReader, std::vector<std::string>& AProblems) {
  const std::vector<std::string>& expressions = AReader.ExclusionRegex();
  for (size_t j = 0; j < expressions.size(); ++j) {
    if (expressions[j].empty()) continue;  // the subscriber skips empty ones
    try {
      TRegularExpression expression(expressions[j]);
    } catch (const ERegularExpressionError& error) {
      AProblems.push_back(ReaderPath(AIndex) + ".exclusionRegex[" + std::to_string(j) + "]: " + error.what());
    }
  }
}

template <class TList>
void CheckReceivers(const std::string& APath, const TList& AReceivers, std::vector<std::string>& AProblems) {
  int j = 0;
  for (const auto& receiver : AReceivers) {
    const std::string path = APath + "[" + std::to_string(j++) + "]";
    if (!JSONConfig::IsNotBlank(receiver->Host())) AProblems.push_back(path + ".host: a receiver needs a host");
    if (receiver->Port() == 0) AProblems.push_back(path + ".port: a receiver needs a port other than 0");
  }
}

bool IsIPAddress(const std::string& AText) {
  unsigned char buffer[16];
  return ::inet_pton(AF_INET, AText.c_str(), buffer) == 1 || ::inet_pton(AF_INET6, AText.c_str(), buffer) == 1;
}

bool IsHttps(const std::string& AProtocol) { return UpperAscii(AProtocol) == "HTTPS"; }

void CheckEndPoint(const TCollector& ACollector, std::vector<std::string>& AProblems) {
  if (!IsIPAddress(ACollector.LocalAPIIP()))
    AProblems.push_back("ip: \"" + ACollector.LocalAPIIP() + "\" is not an IP address the endpoint can listen on");
  if (!IsHttps(ACollector.LocalAPIProtocol())) return;
  if (LocateCertFile(ACollector.CertFile()).empty())
    AProblems.push_back("certFile: \"" + ACollector.CertFile() + "\" is not found; https needs a certificate file");
  if (LocateCertFile(ACollector.KeyFile()).empty())
    AProblems.push_back("keyFile: \"" + ACollector.KeyFile() + "\" is not found; https needs a key file");
  if (!ACollector.ClientCAFile().empty() && LocateCertFile(ACollector.ClientCAFile()).empty())
    AProblems.push_back("clientCaFile: \"" + ACollector.ClientCAFile() + "\" is not found");
}

}  // namespace

TConfigChecker::TResult TConfigValidator::CheckFile(const std::string& AFileName) {
  TConfigChecker::TResult result = TConfigChecker::CheckFile(AFileName);
  if (result.Effective) CheckStartUp(*result.Effective, result.Problems);
  return result;
}

TConfigChecker::TResult TConfigValidator::CheckDocument(TJSONValue ADocument) {
  TConfigChecker::TResult result = TConfigChecker::CheckDocument(std::move(ADocument));
  if (result.Effective) CheckStartUp(*result.Effective, result.Problems);
  return result;
}

void TConfigValidator::CheckStartUp(const TCollector& ACollector, std::vector<std::string>& AProblems) {
  CheckEndPoint(ACollector, AProblems);
  for (int i = 0; i < ACollector.InterfaceCount(); ++i) {
    const TCollectionInterface& reader = ACollector.GetInterface(i);
    CheckExclusionExpressions(i, reader, AProblems);
    CheckReceivers(ReaderPath(i) + ".syslogReceivers", reader.SyslogReceivers(), AProblems);
    CheckReceivers(ReaderPath(i) + ".beatReceivers", reader.BeatReceivers(), AProblems);
    if (reader.Enabled() && reader.SyslogReceivers().Count() == 0 && reader.BeatReceivers().Count() == 0)
      AProblems.push_back(ReaderPath(i) + ": an enabled reader needs a syslog or beat receiver");
  }
}

}  // namespace zor
