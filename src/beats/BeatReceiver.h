#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/ConfigList.h"
#include "support/JSONConfig.h"
#include "support/JSONKeyTable.h"

namespace zor {

// One Elasticsearch-style destination of a reader's beat documents: the URL
// parts (Protocol "http" or "https", not validated; Host; Port), basic
// authentication (the password is clear text in memory and encrypted in JSON),
// and the index template to install (CreateTemplate, TemplateName, ESVersion
// selecting "winlogbeat_template_%d.json"). With https, the endpoint's
// certificate is verified only when VerifyCertificate is set: against the PEM
// file CAFile, or the system's trust store when CAFile is blank. With
// DocumentId, each document carries a deterministic "_id" (a digest of its
// computer, channel and record identifier), so a document sent again after a
// crash replaces its first copy at the endpoint instead of doubling.
//
// A plain value; copies carry every field, the id and the password included.
// Not thread-safe; each thread works on its own copy of the reader that holds it.
class TBeatReceiver : public TJSONConfig<TBeatReceiver> {
 public:
  TBeatReceiver();

  [[nodiscard]] int32_t BeatReceiverID() const { return FBeatReceiverID; }
  void SetBeatReceiverID(int32_t AValue) { FBeatReceiverID = AValue; }
  [[nodiscard]] const std::string& Name() const { return FName; }
  void SetName(const std::string& AValue) { FName = AValue; }
  [[nodiscard]] const std::string& Protocol() const { return FProtocol; }
  void SetProtocol(const std::string& AValue) { FProtocol = AValue; }
  [[nodiscard]] const std::string& Host() const { return FHost; }
  void SetHost(const std::string& AValue) { FHost = AValue; }
  [[nodiscard]] uint16_t Port() const { return FPort; }
  void SetPort(uint16_t AValue) { FPort = AValue; }
  [[nodiscard]] const std::string& UserName() const { return FUserName; }
  void SetUserName(const std::string& AValue) { FUserName = AValue; }
  [[nodiscard]] const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& AValue) { FPassword = AValue; }
  [[nodiscard]] bool CreateTemplate() const { return FCreateTemplate; }
  void SetCreateTemplate(bool AValue) { FCreateTemplate = AValue; }
  [[nodiscard]] const std::string& TemplateName() const { return FTemplateName; }
  void SetTemplateName(const std::string& AValue) { FTemplateName = AValue; }
  [[nodiscard]] int32_t ESVersion() const { return FESVersion; }
  void SetESVersion(int32_t AValue) { FESVersion = AValue; }
  [[nodiscard]] bool VerifyCertificate() const { return FVerifyCertificate; }
  void SetVerifyCertificate(bool AValue) { FVerifyCertificate = AValue; }
  [[nodiscard]] const std::string& CAFile() const { return FCAFile; }
  void SetCAFile(const std::string& AValue) { FCAFile = AValue; }
  [[nodiscard]] bool DocumentId() const { return FDocumentId; }
  void SetDocumentId(bool AValue) { FDocumentId = AValue; }

  // "userName" and the encrypted "password" are written only when the user
  // name is not blank. A stored password that cannot be decrypted leaves the
  // password as it was.
  using TJSONConfig::ToJSONObject;

  // Name, Host, Protocol and TemplateName (exactly), Port, ESVersion and
  // CreateTemplate, VerifyCertificate, CAFile and DocumentId. The id and the credentials
  // take no part.
  using TJSONConfig::AreEqual;

 private:
  friend class TJSONConfig<TBeatReceiver>;
  static const TJSONKeyTable<TBeatReceiver>& Keys();

  // Defaults come from the key table (constructor).
  int32_t FBeatReceiverID{};
  std::string FName;
  std::string FProtocol;
  std::string FHost;
  uint16_t FPort{};
  std::string FUserName;
  std::string FPassword;
  bool FCreateTemplate{};
  std::string FTemplateName;
  int32_t FESVersion{};
  bool FVerifyCertificate{};
  std::string FCAFile;
  bool FDocumentId{};
};

// The beat receivers of one reader, owned, in order.
using TBeatReceiverList = TConfigList<TBeatReceiver>;

}  // namespace zor
