#include "config/Collector.h"

#include <openssl/rand.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/ServicePaths.h"
#include "support/TextFile.h"

namespace zor {

namespace {

void CreateFolder(const std::filesystem::path& AFolder) {
  if (AFolder.empty()) return;
  std::error_code error;
  std::filesystem::create_directories(AFolder, error);
  if (error) throw EConfigFileError("Cannot create folder " + AFolder.string() + ": " + error.message());
}

// A random (version 4) GUID as 8-4-4-4-12 upper-case hex digits.
std::string NewGUID() {
  std::array<unsigned char, 16> bytes{};
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
    throw EConfigFileError("Cannot create a unique identifier: no random bytes");
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
    text += hex;
  }
  return text;
}

}  // namespace

const TJSONKeyTable<TCollector>& TCollector::Keys() {
  static const TJSONKeyTable<TCollector> table = [] {
    using TSelf = TCollector;
    TJSONKeyTable<TSelf> t;
    // Blank passwords and passwords that fail to encrypt are left out; a
    // stored text that does not decrypt leaves the password as it was.
    JSONConfig::TPasswordRules<TSelf> passwordRules;
    passwordRules.OmitWhenEncryptionFails = true;
    const auto apmEnabled = [](const TSelf& ASelf) { return ASelf.FAPMEnabled; };
    t.Integer("id", &TSelf::FCollectorID, -1, -1);
    JSONConfig::AddOrdinal(t, "type", &TSelf::FCollectorType, TCollectorType::ctFlow)
        .String("hostName", &TSelf::FHostName)
        .String("uniqueId", &TSelf::FUniqueID)
        .NotCompared()
        .String("softwareVersion", &TSelf::FSoftwareVersion)
        .NotCompared()
        .String("ip", &TSelf::FLocalAPIIP, "127.0.0.1")
        .Integer("port", &TSelf::FLocalAPIPort, uint16_t{6200}, uint16_t{0})
        .String("protocol", &TSelf::FLocalAPIProtocol, "http")
        .String("userName", &TSelf::FLocalAPIUsername);
    JSONConfig::AddPassword(t, "password", &TSelf::FLocalAPIPassword, passwordRules)
        .Integer("logLevel", &TSelf::FLogLevel, 4, 4)
        .Boolean("trainingMode", &TSelf::FTrainingMode)
        .Integer("trainingMsgInterval", &TSelf::FTrainingMessageInterval, -1, -1)
        .String("trainingMsg", &TSelf::FTrainingMessage)
        .String("certFile", &TSelf::FCertFile)
        .String("keyFile", &TSelf::FKeyFile)
        .String("rootCertFile", &TSelf::FRootCertFile)
        // Opt-in: HTTPS clients of the endpoint must present a certificate
        // that this CA file verifies. Written only when set.
        .String("clientCaFile", &TSelf::FClientCAFile)
        .WriteWhen([](const TSelf& ASelf) { return !ASelf.FClientCAFile.empty(); })
        .Integer("processingThreads", &TSelf::FProcessingThreads, 1, 1)
        // The configuration-server settings are the local side's own: they
        // survive a server update and so take no part in HasChanged.
        .Boolean("useConfigServer", &TSelf::FUseConfigServer)
        .NotCompared()
        .String("configServer", &TSelf::FConfigServer)
        .NotCompared()
        .Integer("configServerCheckInterval", &TSelf::FConfigServerCheckInterval, 0, 1440)
        .String("configServerUserName", &TSelf::FConfigServerUserName)
        .NotCompared();
    JSONConfig::AddPassword(t, "configServerPassword", &TSelf::FConfigServerPassword, passwordRules)
        .NotCompared()
        // Opt-in check of the configuration server's certificate (a set-up
        // without these keys keeps talking to a server with any
        // certificate). Written only when set.
        .Boolean("configServerVerifyCertificate", &TSelf::FConfigServerVerifyCertificate)
        .NotCompared()
        .WriteWhen([](const TSelf& ASelf) { return ASelf.FConfigServerVerifyCertificate; })
        .String("configServerCaFile", &TSelf::FConfigServerCAFile)
        .NotCompared()
        .WriteWhen([](const TSelf& ASelf) { return JSONConfig::IsNotBlank(ASelf.FConfigServerCAFile); })
        .Boolean("apmEnabled", &TSelf::FAPMEnabled)
        .String("apmServerIp", &TSelf::FAPMServerIP)
        .WriteWhen(apmEnabled)
        // Read only when "apmEnabled" (read before it) is true.
        .Integer("apmServerPort", &TSelf::FAPMServerPort, uint16_t{0}, uint16_t{8200})
        .WriteWhen(apmEnabled)
        .ReadWhen(apmEnabled)
        .Integer("queueCountThreshold", &TSelf::FQueueCountThreshold, 0u, 0u)
        .Integer("queueSecondsThreshold", &TSelf::FQueueSecondsThreshold, 0u, 0u)
        .Custom(
            "interfaces", [](const TSelf& ASelf) { return std::move(*ASelf.FInterfaceList.ToJSONArray()); },
            [](TSelf& ASelf, const TJSONValue& AValue) { ASelf.FInterfaceList.FromJSONArray(AValue); },
            [](TSelf& ASelf) { ASelf.FInterfaceList.Clear(); })
        .Compare([](const TSelf& A1, const TSelf& A2) {
          return TCollectionInterfaceList::AreEqual(A1.FInterfaceList, A2.FInterfaceList);
        });
    return t;
  }();
  return table;
}

TCollector::TCollector() { Keys().SetDefaults(*this); }

void TCollector::SetInterface(int AIndex, std::unique_ptr<TCollectionInterface>&& AValue) {
  FInterfaceList.SetListItem(AIndex, std::move(AValue));
}

void TCollector::AddInterface(std::unique_ptr<TCollectionInterface>&& AValue) { FInterfaceList.Add(std::move(AValue)); }

void TCollector::DeleteInterface(int AIndex) { FInterfaceList.Delete(AIndex); }

TCollectionInterface* TCollector::GetInterfaceByID(int32_t AID) const {
  for (const auto& reader : FInterfaceList) {
    if (reader->InterfaceID() == AID) return reader.get();
  }
  return nullptr;
}

bool TCollector::HasChanged(const TCollector& ACollector1, const TCollector& ACollector2) {
  return !AreEqual(ACollector1, ACollector2);
}

TJSONValue TCollector::ReadJsonFile(const std::string& AFileName) {
  std::error_code error;
  if (!std::filesystem::exists(AFileName, error)) {
    throw EConfigFileError("Config File " + AFileName + " does not exist");
  }
  std::string text;
  try {
    text = TextFile::ReadText(AFileName);
  } catch (const ETextFileError& e) {
    throw EConfigFileError(e.what());
  }
  if (!JSONConfig::IsNotBlank(text)) throw EConfigFileError("Config File " + AFileName + " is empty");
  return Json::Parse(text);
}

void TCollector::LoadFromJson(const std::string& AFileName) { FromJSONObject(ReadJsonFile(AFileName)); }

void TCollector::SaveAsJson(const std::string& AFileName) const {
  CreateFolder(std::filesystem::path(AFileName).parent_path());
  TextFile::WriteTextReplacing(AFileName, Json::PrettyText(*ToJSONObject()));
}

void TCollector::LoadFromJson() { LoadFromJson(SvcConfigFile()); }

void TCollector::SaveAsJson() const { SaveAsJson(SvcConfigFile()); }

std::string TCollector::GetUniqueID() { return GetUniqueID(SvcConfigDir()); }

std::string TCollector::GetUniqueID(const std::string& AConfigDir) {
  const std::string fileName = (std::filesystem::path(AConfigDir) / UniqueIDFileName).string();
  std::error_code error;
  if (std::filesystem::exists(fileName, error)) return TextFile::ReadText(fileName);
  CreateFolder(AConfigDir);
  const std::string id = NewGUID();
  TextFile::WriteTextReplacing(fileName, id);
  return id;
}

}  // namespace zor
