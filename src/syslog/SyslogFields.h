#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/JSONKeyTable.h"
#include "support/Utilities.h"
#include "syslog/SyslogGlobal.h"

// The pieces the BSD and IETF messages share: the name=value form (writer and
// reader), the PRI of an encoded line, the positional "YYYY-MM-DD hh:nn:ss.zzz"
// time, and the JSON keys both messages write the same way.

namespace zor {

class TBaseSysLogMessage;

// Builds "Name=value|Name=value|...". Values go in as given or escaped with
// EscapeSyslogField.
class TNameValueWriter {
 public:
  TNameValueWriter& Add(std::string_view AName, std::string_view AValue);
  TNameValueWriter& AddEscaped(std::string_view AName, std::string_view AValue);
  TNameValueWriter& AddInteger(std::string_view AName, int64_t AValue);
  // Takes the text out; the writer is empty afterwards.
  [[nodiscard]] std::string Text() { return std::move(FText); }

 private:
  std::string FText;
};

// Reads the name=value form: the text is split at every "|" (and only
// there); each piece is a name, "=" and a value; names match without regard
// to case, the first piece of a name wins, and a missing name reads as an
// empty value. Holds views into the text, which must outlive the reader.
class TNameValueReader {
 public:
  explicit TNameValueReader(std::string_view AText);

  [[nodiscard]] bool Has(std::string_view AName) const;
  [[nodiscard]] std::string_view Value(std::string_view AName) const;
  [[nodiscard]] std::string Unescaped(std::string_view AName) const { return UnescapeSyslogField(Value(AName)); }
  // The value as a decimal integer; ADefault when it is not one (or absent).
  [[nodiscard]] int32_t Integer(std::string_view AName, int32_t ADefault) const;

 private:
  std::vector<std::pair<std::string_view, std::string_view>> FPairs;
};

namespace SyslogFields {

// Every occurrence of AFrom in AText replaced by ATo (left to right, no
// rescanning of replaced text).
void ReplaceAll(std::string& AText, std::string_view AFrom, std::string_view ATo);

// Blanks and control characters (code 32 or less) removed from both ends.
[[nodiscard]] std::string_view Trim(std::string_view AText);

// Reads the PRI of an encoded line: the text from the second character up to
// the first ">". Sets the message's facility and severity and returns the
// position just after the ">". Throws ESyslogError "Invlaid Priority: %s" when
// it is not an integer 0 or more, "Invalid Syslog PRI: %d" above 191.
size_t ReadPRI(std::string_view ALine, TBaseSysLogMessage& AMessage);

// "YYYY-MM-DD hh:nn:ss.zzz" of a date-time as stored.
[[nodiscard]] std::string FormatTime(TDateTime AValue);

enum class TTimeRead { trOK, trImpossible, trUnreadable };
// Reads FormatTime's form by position. trUnreadable when a field is not an
// integer, trImpossible when the fields make no date or time.
[[nodiscard]] TTimeRead ReadTime(std::string_view AText, TDateTime& AValue);

// AValue moved by ASpan, to the millisecond.
[[nodiscard]] TDateTime AddSpan(TDateTime AValue, TTimeSpan ASpan);

// JSON keys both messages write and read alike.
template <class TMessage>
void AddFacilityAndSeverity(TJSONKeyTable<TMessage>& ATable) {
  ATable
      .Custom(
          "facility", [](const TMessage& AMessage) { return TJSONValue(AMessage.FacilityString()); },
          [](TMessage& AMessage, const TJSONValue& AValue) {
            AMessage.SetFacility(StrToSyslogFacility(Json::Text(AValue)));
          })
      .Custom(
          "severity", [](const TMessage& AMessage) { return TJSONValue(AMessage.SeverityString()); },
          [](TMessage& AMessage, const TJSONValue& AValue) {
            AMessage.SetSeverity(StrToSyslogSeverity(Json::Text(AValue)));
          });
}

template <class TMessage>
void AddHostAndProcess(TJSONKeyTable<TMessage>& ATable) {
  ATable.StringProperty("host", &TMessage::Host, &TMessage::SetHost)
      .StringProperty("process", &TMessage::Process, &TMessage::SetProcess);
}

template <class TMessage>
void AddText(TJSONKeyTable<TMessage>& ATable) {
  ATable.StringProperty("text", &TMessage::MessageContent, &TMessage::SetMessageContent);
}

// "framing" and "sendTo" (an array of destination objects). The send-to list
// is cleared by the message before the table is read, so an absent key
// leaves it empty.
template <class TMessage>
void AddFramingAndSendTo(TJSONKeyTable<TMessage>& ATable) {
  ATable.StringProperty("framing", &TMessage::Framing, &TMessage::SetFraming)
      .Custom(
          "sendTo", [](const TMessage& AMessage) { return AMessage.SendToJSONArray(); },
          [](TMessage& AMessage, const TJSONValue& AValue) { AMessage.AddSendToFromJSONArray(AValue); });
}

}  // namespace SyslogFields
}  // namespace zor
