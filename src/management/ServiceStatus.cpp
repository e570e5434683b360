#include "management/ServiceStatus.h"

#include "platform/OsRelease.h"
#include "platform/ServicePaths.h"
#include "support/Utilities.h"

namespace zor {

namespace {

// The local time as the short date and long time of the en-US locale:
// "12/10/2026 4:05:09 PM".
std::string ShortDateLongTime(TDateTime AValue) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  TUtilities::DecodeDateTime(AValue, year, month, day, hour, minute, second, millisecond);
  const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
  return TUtilities::Format("%d/%d/%d %d:%02d:%02d %s", month, day, year, hour12, minute, second,
                            hour < 12 ? "AM" : "PM");
}

}  // namespace

const TJSONKeyTable<TServiceStatus>& TServiceStatus::Keys() {
  static const TJSONKeyTable<TServiceStatus> table = [] {
    using TSelf = TServiceStatus;
    TJSONKeyTable<TSelf> t;
    t.String("serviceType", &TSelf::FServiceType)
        .String("version", &TSelf::FVersion)
        .String("arch", &TSelf::FArchitecture)
        .String("machineOs", &TSelf::FMachineOS)
        .String("machineName", &TSelf::FMachineName)
        .String("loggedInUser", &TSelf::FLoggedInUser)
        .String("currentTime", &TSelf::FCurrentTime)
        .String("currentTimeUtc", &TSelf::FCurrentTimeUTC);
    return t;
  }();
  return table;
}

TServiceStatus::TServiceStatus() { Keys().SetDefaults(*this); }

void TServiceStatus::Refresh() {
  int32_t major = 0, minor = 0, release = 0, build = 0;
  (void)TUtilities::GetVersionInfo(ServicePaths().ProgramFile, major, minor, release, build);
  FVersion = TUtilities::Format("%d.%d.%d.%d", major, minor, release, build);
  FArchitecture = "64 Bit";
  FMachineName = TUtilities::GetLocalMachineName();
  FLoggedInUser = TUtilities::GetLoggedInDomain() + "\\" + TUtilities::GetLoggedInUserName();
  FMachineOS = OperatingSystemName();
  // One reading of the clock for both forms.
  const TDateTime utc = TUtilities::NowUTC();
  TDateTime local = utc;
  if (!TUtilities::TryUTCToLocal(utc, local)) local = utc;
  FCurrentTime = ShortDateLongTime(local);
  FCurrentTimeUTC = TUtilities::DateTimeToISOTimestampString(utc);
}

}  // namespace zor
