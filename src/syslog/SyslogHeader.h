#pragma once

#include <string>

#include "support/Utilities.h"

namespace zor {

// Host and timestamp of a syslog header. The time is held in UTC; TimeStamp
// reads and writes it as local time under the machine's time zone (the C
// library's TZ rules). The IETF header overrides both to use UTC directly.
// A plain value, used by one thread at a time.
class TSyslogHeader {
 public:
  TSyslogHeader() = default;
  TSyslogHeader(const TSyslogHeader&) = default;
  TSyslogHeader& operator=(const TSyslogHeader&) = default;
  virtual ~TSyslogHeader() = default;

  [[nodiscard]] const std::string& Host() const { return FHost; }
  void SetHost(const std::string& AValue) { FHost = AValue; }
  [[nodiscard]] TDateTime UTCTimeStamp() const { return FUTCTimeStamp; }
  void SetUTCTimeStamp(TDateTime AValue) { FUTCTimeStamp = AValue; }

  // The UTC time as local time; the UTC value itself when it cannot be
  // converted.
  [[nodiscard]] virtual TDateTime TimeStamp() const {
    TDateTime local = 0;
    return TUtilities::TryUTCToLocal(FUTCTimeStamp, local) ? local : FUTCTimeStamp;
  }
  // Stores the local time ALocal as UTC (whole seconds of offset); a local
  // time that does not exist (a daylight-saving gap) is stored unconverted.
  virtual void SetTimeStamp(TDateTime ALocal) {
    TDateTime utc = 0;
    FUTCTimeStamp = TUtilities::TryLocalToUTC(ALocal, utc) ? utc : ALocal;
  }

 protected:
  std::string FHost;
  TDateTime FUTCTimeStamp = 0;
};

}  // namespace zor
