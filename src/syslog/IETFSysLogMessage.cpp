#include "syslog/IETFSysLogMessage.h"

#include <cstdlib>

#include "support/JSONKeyTable.h"
#include "syslog/SyslogFields.h"

namespace zor {

namespace {

constexpr int OffsetPieces = 6;

// VERSION and PROCID are written as JSON numbers when they hold integers,
// else (the "-" NILVALUE, for one) as strings, so the text stays valid JSON.
TJSONValue NumberOrString(const std::string& AText) {
  int64_t value = 0;
  return Json::TryTextToInt64(AText, value) ? TJSONValue(value) : TJSONValue(AText);
}

int64_t OffsetMinutes(TTimeSpan AOffset) {
  return std::chrono::duration_cast<std::chrono::minutes>(AOffset).count();
}

// Both JSON forms refuse a "type" other than IETF.
void CheckType(const TJSONObject& AValue) {
  Json::RequireObject(AValue, "syslog message");
  if (const TJSONValue* type = Json::Find(AValue, "type")) {
    const std::string text = Json::Text(*type);
    if (text != "IETF") throw ESyslogError("Invalid Message Type " + text);
  }
}

// The current UTC time when a JSON form has no "timeStamp".
void StampNowWhenAbsent(TIETFSysLogMessage& AMessage, const TJSONObject& AValue) {
  if (Json::Find(AValue, "timeStamp") == nullptr) AMessage.SetTimeStamp(TUtilities::NowUTC());
}

void AddTypePriorityAndIds(TJSONKeyTable<TIETFSysLogMessage>& ATable) {
  // "type" is checked by the message before anything is read.
  ATable.Custom("type", [](const TIETFSysLogMessage&) { return TJSONValue("IETF"); }, {});
  SyslogFields::AddFacilityAndSeverity(ATable);
  ATable
      .Custom(
          "version", [](const TIETFSysLogMessage& AMessage) { return NumberOrString(AMessage.Header().Version()); },
          [](TIETFSysLogMessage& AMessage, const TJSONValue& AValue) {
            AMessage.Header().SetVersion(Json::Text(AValue));
          })
      .Custom(
          "messageId", [](const TIETFSysLogMessage& AMessage) { return TJSONValue(AMessage.Header().MessageID()); },
          [](TIETFSysLogMessage& AMessage, const TJSONValue& AValue) {
            AMessage.Header().SetMessageID(Json::Text(AValue));
          });
}

void AddHostToText(TJSONKeyTable<TIETFSysLogMessage>& ATable) {
  SyslogFields::AddHostAndProcess(ATable);
  ATable
      .Custom(
          "processId", [](const TIETFSysLogMessage& AMessage) { return NumberOrString(AMessage.Header().ProcessID()); },
          [](TIETFSysLogMessage& AMessage, const TJSONValue& AValue) {
            AMessage.Header().SetProcessID(Json::Text(AValue));
          })
      .Custom(
          "structuredData",
          [](const TIETFSysLogMessage& AMessage) { return TJSONValue(AMessage.StructuredData().EncodedData()); },
          [](TIETFSysLogMessage& AMessage, const TJSONValue& AValue) {
            AMessage.StructuredData().SetEncodedData(Json::Text(AValue));
          });
  SyslogFields::AddText(ATable);
}

const TJSONKeyTable<TIETFSysLogMessage>& JSONKeys() {
  static const TJSONKeyTable<TIETFSysLogMessage> table = [] {
    TJSONKeyTable<TIETFSysLogMessage> t;
    AddTypePriorityAndIds(t);
    t.Custom(
         "timeStamp",
         [](const TIETFSysLogMessage& AMessage) { return TJSONValue(SyslogFields::FormatTime(AMessage.TimeStamp())); },
         [](TIETFSysLogMessage& AMessage, const TJSONValue& AValue) {
           TDateTime value = 0;
           switch (SyslogFields::ReadTime(Json::Text(AValue), value)) {
             case SyslogFields::TTimeRead::trOK: AMessage.SetTimeStamp(value); break;
             case SyslogFields::TTimeRead::trImpossible: AMessage.SetTimeStamp(-2.0); break;
             case SyslogFields::TTimeRead::trUnreadable: break;
           }
         })
        // Whole hours with their sign, then the remaining minutes without
        // one; an offset between -1 h and 0 keeps its sign on the minutes,
        // the only place left for it. Both keys are read together by
        // FromJSONObject.
        .Custom(
            "offsetHour",
            [](const TIETFSysLogMessage& AMessage) { return TJSONValue(OffsetMinutes(AMessage.UTCOffset()) / 60); },
            {})
        .Custom(
            "offsetMin",
            [](const TIETFSysLogMessage& AMessage) {
              const int64_t minutes = OffsetMinutes(AMessage.UTCOffset());
              return TJSONValue(minutes / 60 == 0 ? minutes : std::llabs(minutes % 60));
            },
            {});
    AddHostToText(t);
    SyslogFields::AddFramingAndSendTo(t);
    return t;
  }();
  return table;
}

const TJSONKeyTable<TIETFSysLogMessage>& FileKeys() {
  static const TJSONKeyTable<TIETFSysLogMessage> table = [] {
    TJSONKeyTable<TIETFSysLogMessage> t;
    AddTypePriorityAndIds(t);
    t.Custom(
        "timeStamp",
        [](const TIETFSysLogMessage& AMessage) {
          return TJSONValue(TUtilities::DateTimeToISOTimestampString(AMessage.TimeStamp()));
        },
        [](TIETFSysLogMessage& AMessage, const TJSONValue& AValue) {
          try {
            AMessage.SetTimeStamp(TUtilities::ConvertIso8601StringToDateTime(Json::Text(AValue)));
          } catch (const EZorError&) {
            // A malformed time leaves the message's time as it was.
          }
        });
    AddHostToText(t);
    return t;
  }();
  return table;
}

}  // namespace

// --- header -------------------------------------------------------------------

TIETFSyslogHeader::TIETFSyslogHeader() {
  FHost = "-";
  FUTCTimeStamp = TUtilities::NowUTC();
}

TIETFSyslogHeader::TIETFSyslogHeader(const std::string& AVersion, TDateTime AUTCTimeStamp, TTimeSpan AUTCOffset,
                                     const std::string& AHost, const std::string& AApplication,
                                     const std::string& AProcessID, const std::string& AMessageID)
    : FVersion(AVersion),
      FApplication(AApplication),
      FProcessID(AProcessID),
      FMessageID(AMessageID),
      FUTCOffset(AUTCOffset) {
  FHost = AHost;
  FUTCTimeStamp = AUTCTimeStamp;
}

TIETFSyslogHeader::TIETFSyslogHeader(std::string_view AHeaderString) : TIETFSyslogHeader() {
  FUTCOffset = TUtilities::CurrentUTCOffset();
  SetEncodedValue(AHeaderString);
}

std::string TIETFSyslogHeader::Format(TDateTime AClock, TTimeSpan AOffset) const {
  std::string text;
  text.reserve(48 + FHost.size() + FApplication.size() + FProcessID.size() + FMessageID.size());
  text += FVersion;
  text += ' ';
  text += TUtilities::DateTimeToISOTimestampString(AClock, AOffset);
  for (const std::string* field : {&FHost, &FApplication, &FProcessID, &FMessageID}) {
    text += ' ';
    text += *field;
  }
  return text;
}

std::string TIETFSyslogHeader::ToString() const {
  if (FUTCTimeStamp < 0) {
    const TTimeSpan offset = TUtilities::CurrentUTCOffset();
    return Format(SyslogFields::AddSpan(TUtilities::NowUTC(), offset), offset);
  }
  return Format(SyslogFields::AddSpan(FUTCTimeStamp, FUTCOffset), FUTCOffset);
}

std::string TIETFSyslogHeader::EncodedValue() const {
  if (FUTCTimeStamp < 0) return Format(TUtilities::Now(), FUTCOffset);
  return Format(SyslogFields::AddSpan(FUTCTimeStamp, FUTCOffset), FUTCOffset);
}

void TIETFSyslogHeader::SetEncodedValue(std::string_view AValue) {
  std::string_view pieces[OffsetPieces];
  int count = 0;
  size_t from = 0;
  while (true) {
    const size_t blank = AValue.find(' ', from);
    if (count == OffsetPieces) throw ESyslogError("Invalid header: " + std::string(AValue));
    pieces[count++] = AValue.substr(from, blank == std::string_view::npos ? std::string_view::npos : blank - from);
    if (blank == std::string_view::npos) break;
    from = blank + 1;
  }
  if (count != OffsetPieces) throw ESyslogError("Invalid header: " + std::string(AValue));
  FVersion = std::string(SyslogFields::Trim(pieces[0]));
  const std::string timestamp(SyslogFields::Trim(pieces[1]));
  const TDateTime clock = TUtilities::ISOTimestampStringToDateTime(timestamp);
  const TTimeSpan offset = TUtilities::ISOTimestampStringToOffset(timestamp);
  FUTCOffset = offset;
  FUTCTimeStamp = SyslogFields::AddSpan(clock, -offset);
  FHost = std::string(SyslogFields::Trim(pieces[2]));
  FApplication = std::string(SyslogFields::Trim(pieces[3]));
  FProcessID = std::string(SyslogFields::Trim(pieces[4]));
  FMessageID = std::string(SyslogFields::Trim(pieces[5]));
}

std::string TIETFSyslogHeader::TimeStampString() const {
  return TUtilities::DateTimeToISOTimestampString(SyslogFields::AddSpan(FUTCTimeStamp, FUTCOffset), FUTCOffset);
}

// --- message ------------------------------------------------------------------

TIETFSysLogMessage::TIETFSysLogMessage(std::string_view AStringValue) {
  if (!AStringValue.empty()) ReadNameValueForm(AStringValue);
}

TIETFSysLogMessage::TIETFSysLogMessage(const TIETFSysLogMessage& ASysLogMessage)
    : TBaseSysLogMessage(), FHeader(ASysLogMessage.FHeader), FStructuredData(ASysLogMessage.FStructuredData) {
  // Destination port and framing are copied too: a copy stamped for one
  // receiver must still reach that receiver, framed the same way.
  CopyBaseFields(ASysLogMessage);
}

std::unique_ptr<TIETFSysLogMessage> TIETFSysLogMessage::GetFromJSONObject(const TJSONObject& AJSONObject) {
  auto message = std::make_unique<TIETFSysLogMessage>();
  message->FromJSONObject(AJSONObject);
  return message;
}

std::unique_ptr<TBaseSysLogMessage> TIETFSysLogMessage::Clone() const {
  return std::make_unique<TIETFSysLogMessage>(*this);
}

int32_t TIETFSysLogMessage::ProcessID() const {
  int32_t value = 0;
  return TUtilities::TryStrToInt(FHeader.ProcessID(), value) ? value : 0;
}

void TIETFSysLogMessage::SetProcessID(int32_t AValue) {
  FHeader.SetProcessID(AValue > 0 ? std::to_string(AValue) : "-");
}

std::string TIETFSysLogMessage::EncodedMessage() const {
  std::string line = FPriority.ToString(true);
  line += FHeader.ToString();
  line += ' ';
  line += FStructuredData.EncodedData();
  line += ' ';
  line += FText;
  return line;
}

void TIETFSysLogMessage::SetEncodedMessage(std::string_view AValue) {
  FStructuredData.Clear();
  const std::string_view afterPri = AValue.substr(SyslogFields::ReadPRI(AValue, *this));

  // The header is the first six blank-separated fields; the rest follows the
  // sixth blank.
  int blanks = 0;
  size_t headerEnd = afterPri.size();
  for (size_t scan = 0; blanks < OffsetPieces;) {
    const size_t blank = afterPri.find(' ', scan);
    if (blank == std::string_view::npos) break;
    if (++blanks == OffsetPieces) headerEnd = blank;
    scan = blank + 1;
  }
  if (blanks < OffsetPieces - 1) throw ESyslogError("Invalid header: " + std::string(afterPri));
  const size_t restStart = headerEnd + 1;
  const std::string_view headerText = afterPri.substr(0, headerEnd);
  const std::string_view rest = restStart < afterPri.size() ? afterPri.substr(restStart) : std::string_view();

  if (!rest.empty() && rest.front() == '-') {
    FText = std::string(SyslogFields::Trim(rest.substr(1)));
  } else {
    // The structured data ends at the first "] " whose "]" is not escaped.
    size_t end = std::string_view::npos;
    for (size_t i = 0; i + 1 < rest.size(); ++i) {
      if (rest[i] == ']' && rest[i + 1] == ' ' && (i == 0 || rest[i - 1] != '\\')) {
        end = i;
        break;
      }
    }
    if (end != std::string_view::npos) {
      FStructuredData.SetEncodedData(rest.substr(0, end + 1));
      FText = std::string(SyslogFields::Trim(rest.substr(end + 2)));
    } else if (!rest.empty() && rest.front() == '[') {
      FStructuredData.SetEncodedData(rest);  // structured data and no text
      FText.clear();
    } else {
      FText = std::string(SyslogFields::Trim(rest));
    }
  }
  FHeader.SetEncodedValue(headerText);
}

std::string TIETFSysLogMessage::ToString() const {
  const int64_t minutes = OffsetMinutes(FHeader.UTCOffset());
  // PROCID, MSGID and VERSION are escaped like the other texts: a parsed
  // line may hold "|" or "=" in them, which would otherwise break the form.
  return TNameValueWriter()
      .Add("Type", "IETF")
      .AddEscaped("DestinationHost", FDestinationHost)
      .AddInteger("DestinationPort", FDestinationPort)
      .AddEscaped("Host", FHeader.Host())
      .AddEscaped("Process", FHeader.Application())
      .AddEscaped("Text", FText)
      .AddEscaped("ProcessID", FHeader.ProcessID())
      .AddInteger("Facility", SyslogFacilityToInt(Facility()))
      .AddInteger("Severity", SyslogSeverityToInt(Severity()))
      .Add("TimeStamp", SyslogFields::FormatTime(FHeader.TimeStamp()))
      .Add("Offset", TUtilities::Format("%lld:%lld", static_cast<long long>(minutes / 60), std::llabs(minutes % 60)))
      .AddEscaped("MessageID", FHeader.MessageID())
      .AddEscaped("Version", FHeader.Version())
      .AddEscaped("SD", FStructuredData.EncodedData())
      .Text();
}

void TIETFSysLogMessage::ReadNameValueForm(std::string_view AText) {
  const TNameValueReader form(AText);
  const std::string_view type = form.Value("Type");
  if (type != "IETF") throw ESyslogError("Invalid Message Type " + std::string(type));
  FDestinationHost = form.Unescaped("DestinationHost");
  // The port is read back too (0 when absent or unreadable), so the form
  // round-trips the destination. The offset is not: "%d:%d" cannot carry the
  // sign of an offset between -1 h and 0, and the time is UTC anyway.
  const int32_t port = form.Integer("DestinationPort", 0);
  FDestinationPort = port >= 0 && port <= 65535 ? static_cast<uint16_t>(port) : 0;
  FHeader.SetHost(form.Unescaped("Host"));
  FHeader.SetVersion(form.Unescaped("Version"));
  FHeader.SetMessageID(form.Unescaped("MessageID"));
  const std::string time(form.Value("TimeStamp"));
  TDateTime value = 0;
  if (time.empty()) {
    FHeader.SetTimeStamp(TUtilities::NowUTC());
  } else {
    switch (SyslogFields::ReadTime(time, value)) {
      case SyslogFields::TTimeRead::trOK: FHeader.SetTimeStamp(value); break;
      case SyslogFields::TTimeRead::trImpossible: FHeader.SetTimeStamp(-2.0); break;
      case SyslogFields::TTimeRead::trUnreadable: break;
    }
  }
  FHeader.SetApplication(form.Unescaped("Process"));
  FText = form.Unescaped("Text");
  FHeader.SetProcessID(form.Unescaped("ProcessID"));
  SetFacility(IntToSyslogFacility(form.Integer("Facility", 0)));
  SetSeverity(IntToSyslogSeverity(form.Integer("Severity", 0)));
  FStructuredData.SetEncodedData(form.Unescaped("SD"));
}

std::unique_ptr<TJSONObject> TIETFSysLogMessage::ToJSONObject() const { return JSONKeys().ToJSONObject(*this); }

std::unique_ptr<TJSONObject> TIETFSysLogMessage::ToJSONFileObject() const { return FileKeys().ToJSONObject(*this); }

void TIETFSysLogMessage::FromJSONObject(const TJSONObject& AValue) {
  CheckType(AValue);
  ClearSendTo();
  JSONKeys().Read(*this, AValue);
  StampNowWhenAbsent(*this, AValue);
  // Hours carry the sign; minutes add to their magnitude. Values beyond
  // 99:59 are ignored, as a span that large is no UTC offset.
  const TJSONValue* hourValue = Json::Find(AValue, "offsetHour");
  const TJSONValue* minuteValue = Json::Find(AValue, "offsetMin");
  const int32_t hours = hourValue ? Json::ToInteger<int32_t>(*hourValue, 0) : 0;
  const int32_t minutes = minuteValue ? Json::ToInteger<int32_t>(*minuteValue, 0) : 0;
  if ((hours != 0 || minutes != 0) && std::abs(hours) <= 99 && std::abs(minutes) <= 59) {
    const int32_t total = hours * 60 + (hours < 0 ? -std::abs(minutes) : minutes);
    FHeader.SetUTCOffset(std::chrono::minutes(total));
  }
}

void TIETFSysLogMessage::FromJSONFileObject(const TJSONObject& AValue) {
  CheckType(AValue);
  FileKeys().Read(*this, AValue);
  StampNowWhenAbsent(*this, AValue);
}

}  // namespace zor
