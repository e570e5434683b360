#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "syslog/BaseSysLogMessage.h"
#include "syslog/StructuredData.h"
#include "syslog/SyslogHeader.h"

namespace zor {

// Header of an RFC 5424 message. Unlike the BSD header, TimeStamp reads and
// writes the UTC time itself; the sender's offset from UTC is kept beside it
// and only labels the time on the wire.
class TIETFSyslogHeader : public TSyslogHeader {
 public:
  // Version "1", host, APP-NAME, PROCID and MSGID "-", the current UTC time,
  // zero offset.
  TIETFSyslogHeader();
  TIETFSyslogHeader(const std::string& AVersion, TDateTime AUTCTimeStamp, TTimeSpan AUTCOffset,
                    const std::string& AHost, const std::string& AApplication, const std::string& AProcessID,
                    const std::string& AMessageID);
  // The defaults with the machine's current offset, then EncodedValue is
  // written with AHeaderString.
  explicit TIETFSyslogHeader(std::string_view AHeaderString);

  [[nodiscard]] TDateTime TimeStamp() const override { return FUTCTimeStamp; }
  void SetTimeStamp(TDateTime AValue) override { FUTCTimeStamp = AValue; }

  [[nodiscard]] const std::string& Version() const { return FVersion; }
  void SetVersion(const std::string& AValue) { FVersion = AValue; }
  [[nodiscard]] const std::string& Application() const { return FApplication; }
  void SetApplication(const std::string& AValue) { FApplication = AValue; }
  [[nodiscard]] const std::string& ProcessID() const { return FProcessID; }
  void SetProcessID(const std::string& AValue) { FProcessID = AValue; }
  [[nodiscard]] const std::string& MessageID() const { return FMessageID; }
  void SetMessageID(const std::string& AValue) { FMessageID = AValue; }
  [[nodiscard]] TTimeSpan UTCOffset() const { return FUTCOffset; }
  void SetUTCOffset(TTimeSpan AValue) { FUTCOffset = AValue; }

  // "VERSION TIMESTAMP HOST APP-NAME PROCID MSGID" as sent: the time is the
  // UTC time plus the offset, labelled with it ("Z" for zero). A time not set
  // (negative) sends the current time and offset.
  [[nodiscard]] std::string ToString() const;
  // The same text, except that a time not set gives the current local clock
  // reading with the stored offset. Writing parses six blank-separated fields
  // (else ESyslogError "Invalid header: %s"); the timestamp's offset is
  // stored and the UTC time is its clock reading minus the offset.
  [[nodiscard]] std::string EncodedValue() const;
  void SetEncodedValue(std::string_view AValue);
  // The timestamp field alone.
  [[nodiscard]] std::string TimeStampString() const;

 private:
  [[nodiscard]] std::string Format(TDateTime AUTC, TTimeSpan AOffset) const;

  std::string FVersion = "1";
  std::string FApplication = "-";
  std::string FProcessID = "-";
  std::string FMessageID = "-";
  TTimeSpan FUTCOffset{0};
};

// An RFC 5424 syslog message:
//   <PRI>VERSION TIMESTAMP HOST APP-NAME PROCID MSGID STRUCTURED-DATA MSG
// Process maps to APP-NAME; ProcessID to PROCID (0 or less stores "-");
// TimeStamp is UTC. No byte-order mark is written before MSG.
class TIETFSysLogMessage : public TBaseSysLogMessage {
 public:
  // A default message; a non-empty AStringValue is read as the name=value
  // form (throws ESyslogError "Invalid Message Type %s" unless its Type is
  // IETF).
  explicit TIETFSysLogMessage(std::string_view AStringValue = {});
  // A copy (header and structured data deep), except the send-to list.
  TIETFSysLogMessage(const TIETFSysLogMessage& ASysLogMessage);

  [[nodiscard]] static std::unique_ptr<TIETFSysLogMessage> GetFromJSONObject(const TJSONObject& AJSONObject);
  [[nodiscard]] std::unique_ptr<TBaseSysLogMessage> Clone() const override;

  [[nodiscard]] const TIETFSyslogHeader& Header() const { return FHeader; }
  [[nodiscard]] TIETFSyslogHeader& Header() { return FHeader; }
  [[nodiscard]] const TStructuredDataList& StructuredData() const { return FStructuredData; }
  [[nodiscard]] TStructuredDataList& StructuredData() { return FStructuredData; }
  [[nodiscard]] TTimeSpan UTCOffset() const { return FHeader.UTCOffset(); }
  void SetUTCOffset(TTimeSpan AValue) { FHeader.SetUTCOffset(AValue); }

  [[nodiscard]] std::string Host() const override { return FHeader.Host(); }
  void SetHost(const std::string& AValue) override { FHeader.SetHost(AValue); }
  [[nodiscard]] std::string Process() const override { return FHeader.Application(); }
  void SetProcess(const std::string& AValue) override { FHeader.SetApplication(AValue); }
  // PROCID as an integer, 0 when it is not one.
  [[nodiscard]] int32_t ProcessID() const override;
  void SetProcessID(int32_t AValue) override;
  // UTC.
  [[nodiscard]] TDateTime TimeStamp() const override { return FHeader.TimeStamp(); }
  void SetTimeStamp(TDateTime AValue) override { FHeader.SetTimeStamp(AValue); }
  [[nodiscard]] std::string TimeStampString() const override { return FHeader.TimeStampString(); }

  [[nodiscard]] std::string EncodedMessage() const override;
  // Parses an RFC 5424 line. Throws ESyslogError ("Invlaid Priority: %s",
  // "Invalid Syslog PRI: %d", "Invalid header: %s") and EConvertError for a
  // malformed timestamp.
  void SetEncodedMessage(std::string_view AValue) override;
  [[nodiscard]] std::string ToString() const override;

  [[nodiscard]] std::unique_ptr<TJSONObject> ToJSONObject() const override;
  [[nodiscard]] std::unique_ptr<TJSONObject> ToJSONFileObject() const override;
  // Both throw ESyslogError "Invalid Message Type %s" for a "type" other than
  // IETF.
  void FromJSONObject(const TJSONObject& AValue) override;
  void FromJSONFileObject(const TJSONObject& AValue) override;

 private:
  void ReadNameValueForm(std::string_view AText);

  TIETFSyslogHeader FHeader;
  TStructuredDataList FStructuredData;
};

}  // namespace zor
