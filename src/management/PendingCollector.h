#pragma once

#include <cstdint>
#include <string>

#include "config/Collector.h"
#include "support/JSONConfig.h"

namespace zor {

// The configuration server's record of a service it knows but has no
// configuration for yet, as carried by its pending answer. JSON keys in
// order: "id" (default -1; -1 when not an integer), "type" (an ordinal,
// default 0; 0 when not an integer), "hostName", "ip", "uniqueId",
// "softwareVersion". The service reads it and does not act on it.
//
// A value; any thread, one at a time.
class TPendingCollector : public TJSONConfig<TPendingCollector> {
 public:
  TPendingCollector();

  [[nodiscard]] int32_t PendingCollectorID() const { return FPendingCollectorID; }
  [[nodiscard]] TCollectorType CollectorType() const { return FCollectorType; }
  [[nodiscard]] const std::string& HostName() const { return FHostName; }
  [[nodiscard]] const std::string& HostIP() const { return FHostIP; }
  [[nodiscard]] const std::string& UniqueID() const { return FUniqueID; }
  [[nodiscard]] const std::string& SoftwareVersion() const { return FSoftwareVersion; }

 private:
  friend class TJSONConfig<TPendingCollector>;
  static const TJSONKeyTable<TPendingCollector>& Keys();

  int32_t FPendingCollectorID{};
  TCollectorType FCollectorType{};
  std::string FHostName;
  std::string FHostIP;
  std::string FUniqueID;
  std::string FSoftwareVersion;
};

}  // namespace zor
