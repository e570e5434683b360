#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "syslog/BaseSysLogMessage.h"
#include "syslog/SyslogHeader.h"

namespace zor {

// Header of an RFC 3164 message: host and timestamp (held in UTC, read and
// written as local time). A local time below zero means "not set".
class TBSDSyslogHeader : public TSyslogHeader {
 public:
  // Empty host, time not set (as if the local time -2.0 had been written).
  TBSDSyslogHeader() { TSyslogHeader::SetTimeStamp(NotSet); }
  TBSDSyslogHeader(const std::string& AHost, TDateTime ATimeStamp) {
    FHost = AHost;
    TSyslogHeader::SetTimeStamp(ATimeStamp);
  }

  static constexpr TDateTime NotSet = -2.0;

  // "Mmm dd hh:nn:ss host" (day right-aligned in two characters) of the local
  // time, or of the current local time when the time is not set.
  [[nodiscard]] std::string ToString() const;
  // "Mmm dd hh:nn:ss" of the local time as it is.
  [[nodiscard]] std::string TimeStampString() const;
};

// An RFC 3164 syslog message:
//   <PRI>Mmm dd hh:nn:ss HOST TAG[PID]: MSG
// ProcessID below zero leaves out the "[PID]". Milliseconds and the year are
// not sent; reading a line takes the current year.
class TBSDSysLogMessage : public TBaseSysLogMessage {
 public:
  // Default fields; a non-blank AStringValue is read as the name=value form
  // (throws ESyslogError "Invalid Message Type %s" for a type other than BSD
  // or TXT).
  explicit TBSDSysLogMessage(std::string_view AStringValue = {});
  // A copy of any message through its properties (not its send-to list).
  explicit TBSDSysLogMessage(const TBaseSysLogMessage& ASysLogMessage);
  TBSDSysLogMessage(const TBSDSysLogMessage& ASysLogMessage)
      : TBSDSysLogMessage(static_cast<const TBaseSysLogMessage&>(ASysLogMessage)) {}

  [[nodiscard]] static std::unique_ptr<TBSDSysLogMessage> GetFromJSONObject(const TJSONObject& AJSONObject);
  [[nodiscard]] std::unique_ptr<TBaseSysLogMessage> Clone() const override;

  [[nodiscard]] const TBSDSyslogHeader& Header() const { return FHeader; }
  void SetUTCTimeStamp(TDateTime AValue) { FHeader.SetUTCTimeStamp(AValue); }

  [[nodiscard]] std::string Host() const override { return FHeader.Host(); }
  void SetHost(const std::string& AValue) override { FHeader.SetHost(AValue); }
  [[nodiscard]] std::string Process() const override { return FProcess; }
  void SetProcess(const std::string& AValue) override { FProcess = AValue; }
  [[nodiscard]] int32_t ProcessID() const override { return FProcessID; }
  void SetProcessID(int32_t AValue) override { FProcessID = AValue; }
  // Local time.
  [[nodiscard]] TDateTime TimeStamp() const override { return FHeader.TimeStamp(); }
  void SetTimeStamp(TDateTime AValue) override { FHeader.SetTimeStamp(AValue); }
  [[nodiscard]] std::string TimeStampString() const override { return FHeader.TimeStampString(); }

  [[nodiscard]] std::string EncodedMessage() const override;
  // Parses an RFC 3164 line. Throws ESyslogError "Invlaid Priority: %s",
  // "Invalid Syslog PRI: %d" or "Invlaid Month: %s", and EConvertError for a
  // day or time out of range.
  void SetEncodedMessage(std::string_view AValue) override;
  [[nodiscard]] std::string ToString() const override;

  [[nodiscard]] std::unique_ptr<TJSONObject> ToJSONObject() const override;
  [[nodiscard]] std::unique_ptr<TJSONObject> ToJSONFileObject() const override;
  void FromJSONObject(const TJSONObject& AValue) override;
  void FromJSONFileObject(const TJSONObject& AValue) override;

 private:
  void ReadNameValueForm(std::string_view AText);

  TBSDSyslogHeader FHeader;
  std::string FProcess;
  int32_t FProcessID = 0;
};

}  // namespace zor
