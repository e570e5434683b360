#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "config/CollectionInterface.h"
#include "platform/Errors.h"
#include "support/JSONConfig.h"
#include "support/JSONKeyTable.h"

namespace zor {

// Kind of a collector, stored as its ordinal; given by the configuration server.
enum class TCollectorType : uint8_t { ctNone = 0, ctWinEvt = 1, ctCheckpoint = 2, ctTraceFile = 3, ctFile = 4, ctFlow = 5 };

// The configuration file could not be loaded or saved: missing, empty, too
// large, unreadable or unwritable. Malformed JSON raises EJSONError (with the
// position) and values of the wrong kind EConfigError (with the key path).
class EConfigFileError : public EZorError {
 public:
  explicit EConfigFileError(const std::string& AMessage) : EZorError(AMessage) {}
};

// The whole service configuration, the root object of SvcConfig.json: the
// management endpoint, log level, training mode, processing threads, the
// configuration server, sender queue thresholds, and the readers
// ("interfaces"), which own their receivers. Passwords are clear text in
// memory and encrypted in the file.
//
// The collector owns its reader list. It takes no lock: the service holds one
// current instance and replaces it whole; any other thread works on a copy
// (the copy constructor is deep).
class TCollector : public TJSONConfig<TCollector> {
 public:
  TCollector();

  [[nodiscard]] int32_t CollectorID() const { return FCollectorID; }
  void SetCollectorID(int32_t AValue) { FCollectorID = AValue; }
  [[nodiscard]] TCollectorType CollectorType() const { return FCollectorType; }
  void SetCollectorType(TCollectorType AValue) { FCollectorType = AValue; }
  [[nodiscard]] const std::string& HostName() const { return FHostName; }
  void SetHostName(const std::string& AValue) { FHostName = AValue; }
  [[nodiscard]] const std::string& UniqueID() const { return FUniqueID; }
  void SetUniqueID(const std::string& AValue) { FUniqueID = AValue; }
  [[nodiscard]] const std::string& SoftwareVersion() const { return FSoftwareVersion; }
  void SetSoftwareVersion(const std::string& AValue) { FSoftwareVersion = AValue; }
  [[nodiscard]] const std::string& LocalAPIIP() const { return FLocalAPIIP; }
  void SetLocalAPIIP(const std::string& AValue) { FLocalAPIIP = AValue; }
  [[nodiscard]] uint16_t LocalAPIPort() const { return FLocalAPIPort; }
  void SetLocalAPIPort(uint16_t AValue) { FLocalAPIPort = AValue; }
  [[nodiscard]] const std::string& LocalAPIProtocol() const { return FLocalAPIProtocol; }
  void SetLocalAPIProtocol(const std::string& AValue) { FLocalAPIProtocol = AValue; }
  [[nodiscard]] const std::string& LocalAPIUsername() const { return FLocalAPIUsername; }
  void SetLocalAPIUsername(const std::string& AValue) { FLocalAPIUsername = AValue; }
  [[nodiscard]] const std::string& LocalAPIPassword() const { return FLocalAPIPassword; }
  void SetLocalAPIPassword(const std::string& AValue) { FLocalAPIPassword = AValue; }
  [[nodiscard]] int32_t LogLevel() const { return FLogLevel; }
  void SetLogLevel(int32_t AValue) { FLogLevel = AValue; }
  [[nodiscard]] bool TrainingMode() const { return FTrainingMode; }
  void SetTrainingMode(bool AValue) { FTrainingMode = AValue; }
  [[nodiscard]] int32_t TrainingMessageInterval() const { return FTrainingMessageInterval; }
  void SetTrainingMessageInterval(int32_t AValue) { FTrainingMessageInterval = AValue; }
  [[nodiscard]] const std::string& TrainingMessage() const { return FTrainingMessage; }
  void SetTrainingMessage(const std::string& AValue) { FTrainingMessage = AValue; }
  [[nodiscard]] const std::string& CertFile() const { return FCertFile; }
  void SetCertFile(const std::string& AValue) { FCertFile = AValue; }
  [[nodiscard]] const std::string& KeyFile() const { return FKeyFile; }
  void SetKeyFile(const std::string& AValue) { FKeyFile = AValue; }
  [[nodiscard]] const std::string& RootCertFile() const { return FRootCertFile; }
  void SetRootCertFile(const std::string& AValue) { FRootCertFile = AValue; }
  // CA file that HTTPS clients of the endpoint must present a certificate
  // of; empty: none asked for.
  [[nodiscard]] const std::string& ClientCAFile() const { return FClientCAFile; }
  void SetClientCAFile(const std::string& AValue) { FClientCAFile = AValue; }
  [[nodiscard]] int32_t ProcessingThreads() const { return FProcessingThreads; }
  void SetProcessingThreads(int32_t AValue) { FProcessingThreads = AValue; }
  [[nodiscard]] bool UseConfigServer() const { return FUseConfigServer; }
  void SetUseConfigServer(bool AValue) { FUseConfigServer = AValue; }
  [[nodiscard]] const std::string& ConfigServer() const { return FConfigServer; }
  void SetConfigServer(const std::string& AValue) { FConfigServer = AValue; }
  [[nodiscard]] int32_t ConfigServerCheckInterval() const { return FConfigServerCheckInterval; }
  void SetConfigServerCheckInterval(int32_t AValue) { FConfigServerCheckInterval = AValue; }
  [[nodiscard]] const std::string& ConfigServerUserName() const { return FConfigServerUserName; }
  void SetConfigServerUserName(const std::string& AValue) { FConfigServerUserName = AValue; }
  [[nodiscard]] const std::string& ConfigServerPassword() const { return FConfigServerPassword; }
  void SetConfigServerPassword(const std::string& AValue) { FConfigServerPassword = AValue; }
  // Check the configuration server's certificate and host name (default
  // false); with ConfigServerCAFile, against that PEM file, else against the
  // system's trust store.
  [[nodiscard]] bool ConfigServerVerifyCertificate() const { return FConfigServerVerifyCertificate; }
  void SetConfigServerVerifyCertificate(bool AValue) { FConfigServerVerifyCertificate = AValue; }
  [[nodiscard]] const std::string& ConfigServerCAFile() const { return FConfigServerCAFile; }
  void SetConfigServerCAFile(const std::string& AValue) { FConfigServerCAFile = AValue; }
  [[nodiscard]] bool APMEnabled() const { return FAPMEnabled; }
  void SetAPMEnabled(bool AValue) { FAPMEnabled = AValue; }
  [[nodiscard]] const std::string& APMServerIP() const { return FAPMServerIP; }
  void SetAPMServerIP(const std::string& AValue) { FAPMServerIP = AValue; }
  [[nodiscard]] uint16_t APMServerPort() const { return FAPMServerPort; }
  void SetAPMServerPort(uint16_t AValue) { FAPMServerPort = AValue; }
  [[nodiscard]] uint32_t QueueCountThreshold() const { return FQueueCountThreshold; }
  void SetQueueCountThreshold(uint32_t AValue) { FQueueCountThreshold = AValue; }
  [[nodiscard]] uint32_t QueueSecondsThreshold() const { return FQueueSecondsThreshold; }
  void SetQueueSecondsThreshold(uint32_t AValue) { FQueueSecondsThreshold = AValue; }

  // The readers, owned by the collector.
  [[nodiscard]] const TCollectionInterfaceList& InterfaceList() const { return FInterfaceList; }
  [[nodiscard]] int InterfaceCount() const { return FInterfaceList.Count(); }
  // Borrowed from the list; EArgumentOutOfRange outside 0 .. InterfaceCount - 1.
  [[nodiscard]] TCollectionInterface& GetInterface(int AIndex) const { return FInterfaceList.GetListItem(AIndex); }
  // Replaces (and frees) the reader at AIndex.
  void SetInterface(int AIndex, std::unique_ptr<TCollectionInterface>&& AValue);
  // Appends; the collector takes ownership.
  void AddInterface(std::unique_ptr<TCollectionInterface>&& AValue);
  // Removes and frees the reader at AIndex.
  void DeleteInterface(int AIndex);
  // The first reader whose InterfaceID is AID, borrowed; nullptr when none.
  [[nodiscard]] TCollectionInterface* GetInterfaceByID(int32_t AID) const;

  // Loads AFileName into this collector: a byte order mark selects UTF-8 or
  // UTF-16 (either order), else UTF-8. Raises EConfigFileError "Config File %s
  // does not exist" / "Config File %s is empty" (blank text) / too large or
  // unreadable, EJSONError for text that is not JSON (with its position), and
  // EConfigError for a value of the wrong kind (with its key path). Keys
  // applied before a failure stay applied.
  void LoadFromJson(const std::string& AFileName);
  // The same with the process-wide SvcConfigFile.
  void LoadFromJson();
  // The first steps of LoadFromJson: AFileName read, decoded and parsed (not
  // yet required to be an object), with the same errors.
  [[nodiscard]] static TJSONValue ReadJsonFile(const std::string& AFileName);

  // Writes this collector to AFileName in the file's pretty layout, CR LF
  // line ends, UTF-8 without byte order mark, creating the folder (and its
  // parents) when missing. The file is replaced whole or not at all; failures
  // raise EConfigFileError or ETextFileError naming the file.
  void SaveAsJson(const std::string& AFileName) const;
  // The same with the process-wide SvcConfigFile.
  void SaveAsJson() const;

  // The service's persistent unique identifier from "WinEvt.uuid" in
  // AConfigDir: the file's whole content when it exists; otherwise a new
  // random GUID (8-4-4-4-12 upper-case hex digits, no braces) written there
  // (no line end), the folder created when missing. Write failures raise.
  [[nodiscard]] static std::string GetUniqueID(const std::string& AConfigDir);
  // The same in the process-wide SvcConfigDir.
  [[nodiscard]] static std::string GetUniqueID();

  // True when the two differ in what matters for a restart: every setting
  // except "uniqueId", "softwareVersion" and the configuration-server
  // settings, and the readers in any order (TCollectionInterface::AreEqual).
  [[nodiscard]] static bool HasChanged(const TCollector& ACollector1, const TCollector& ACollector2);

  static constexpr const char* UniqueIDFileName = "WinEvt.uuid";

 private:
  friend class TJSONConfig<TCollector>;
  static const TJSONKeyTable<TCollector>& Keys();

  // Defaults come from the key table (constructor).
  int32_t FCollectorID{};
  TCollectorType FCollectorType{};
  std::string FHostName;
  std::string FUniqueID;
  std::string FSoftwareVersion;
  std::string FLocalAPIIP;
  uint16_t FLocalAPIPort{};
  std::string FLocalAPIProtocol;
  std::string FLocalAPIUsername;
  std::string FLocalAPIPassword;
  int32_t FLogLevel{};
  bool FTrainingMode{};
  int32_t FTrainingMessageInterval{};
  std::string FTrainingMessage;
  std::string FCertFile;
  std::string FKeyFile;
  std::string FRootCertFile;
  std::string FClientCAFile;
  int32_t FProcessingThreads{};
  bool FUseConfigServer{};
  std::string FConfigServer;
  int32_t FConfigServerCheckInterval{};
  std::string FConfigServerUserName;
  std::string FConfigServerPassword;
  bool FConfigServerVerifyCertificate{};
  std::string FConfigServerCAFile;
  bool FAPMEnabled{};
  std::string FAPMServerIP;
  uint16_t FAPMServerPort{};
  uint32_t FQueueCountThreshold{};
  uint32_t FQueueSecondsThreshold{};
  TCollectionInterfaceList FInterfaceList;
};

}  // namespace zor
