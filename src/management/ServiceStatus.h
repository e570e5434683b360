#pragma once

#include <string>

#include "support/JSONConfig.h"
#include "support/JSONKeyTable.h"

namespace zor {

// The record the STATUS command answers: what runs where, and the time
// there. Every key is a JSON string. A plain value; one thread uses it.
class TServiceStatus : public TJSONConfig<TServiceStatus> {
 public:
  TServiceStatus();

  // Fills every field but ServiceType: the program's version, "64 Bit", the
  // system's name, the computer's name, the logged-in domain and user
  // ("%s\%s"), the local time now and the same instant in UTC.
  void Refresh();

  [[nodiscard]] const std::string& ServiceType() const { return FServiceType; }
  void SetServiceType(const std::string& AValue) { FServiceType = AValue; }
  [[nodiscard]] const std::string& Version() const { return FVersion; }
  [[nodiscard]] const std::string& Architecture() const { return FArchitecture; }
  [[nodiscard]] const std::string& MachineOS() const { return FMachineOS; }
  [[nodiscard]] const std::string& MachineName() const { return FMachineName; }
  [[nodiscard]] const std::string& LoggedInUser() const { return FLoggedInUser; }
  [[nodiscard]] const std::string& CurrentTime() const { return FCurrentTime; }
  [[nodiscard]] const std::string& CurrentTimeUTC() const { return FCurrentTimeUTC; }

 private:
  friend class TJSONConfig<TServiceStatus>;
  static const TJSONKeyTable<TServiceStatus>& Keys();

  std::string FServiceType;
  std::string FVersion;
  std::string FArchitecture;
  std::string FMachineOS;
  std::string FMachineName;
  std::string FLoggedInUser;
  std::string FCurrentTime;
  std::string FCurrentTimeUTC;
};

}  // namespace zor
