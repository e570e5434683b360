#pragma once

#include <string>

#include "config/Collector.h"
#include "support/JSONConfig.h"

namespace zor {

// What the service tells the configuration server about itself when it asks
// for its configuration (POST of "api/config"): its host name, its
// persistent unique identifier, its kind and its program version. JSON keys
// in order: "hostName", "hostIp" (always sent empty), "uniqueId",
// "colectorType" (an ordinal), "colectorVersion".
//
// A value; any thread, one at a time.
class TConfigRequest : public TJSONConfig<TConfigRequest> {
 public:
  // "colectorVersion" is the program's version ("%d.%d.%d.%d"); everything
  // else is empty (type ctNone).
  TConfigRequest();

  [[nodiscard]] const std::string& HostName() const { return FHostName; }
  void SetHostName(const std::string& AValue) { FHostName = AValue; }
  [[nodiscard]] const std::string& HostIP() const { return FHostIP; }
  void SetHostIP(const std::string& AValue) { FHostIP = AValue; }
  [[nodiscard]] const std::string& UniqueID() const { return FUniqueID; }
  void SetUniqueID(const std::string& AValue) { FUniqueID = AValue; }
  [[nodiscard]] TCollectorType CollectorType() const { return FCollectorType; }
  void SetCollectorType(TCollectorType AValue) { FCollectorType = AValue; }
  [[nodiscard]] const std::string& CollectorVersion() const { return FCollectorVersion; }
  void SetCollectorVersion(const std::string& AValue) { FCollectorVersion = AValue; }

  // Reading (for a peer that receives requests): a "colectorType" that is not
  // an integer raises EConfigError "Invlid Collector Tyepe VALUE".

 private:
  friend class TJSONConfig<TConfigRequest>;
  static const TJSONKeyTable<TConfigRequest>& Keys();

  std::string FHostName;
  std::string FHostIP;
  std::string FUniqueID;
  TCollectorType FCollectorType{};
  std::string FCollectorVersion;
};

}  // namespace zor
