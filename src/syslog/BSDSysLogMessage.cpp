#include "syslog/BSDSysLogMessage.h"

#include <cstdio>

#include "support/JSONKeyTable.h"
#include "syslog/SyslogFields.h"

namespace zor {

namespace {

// "Mmm dd hh:nn:ss" of a local time.
std::string FormatBSDTime(TDateTime ALocal) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  TUtilities::DecodeDateTime(ALocal, year, month, day, hour, minute, second, millisecond);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%s %2d %.2d:%.2d:%.2d", SyslogMonthNames[month >= 1 && month <= 12 ? month : 0],
                day, hour, minute, second);
  return buffer;
}

bool IsLeapYear(int AYear) { return (AYear % 4 == 0 && AYear % 100 != 0) || AYear % 400 == 0; }

// Two characters of ALine from AAt as an integer; AFallback when they are
// not one (or the line is too short).
int FieldAt(std::string_view ALine, size_t AAt, int AFallback) {
  if (AAt >= ALine.size()) return AFallback;
  int32_t value = 0;
  return TUtilities::TryStrToInt(std::string(SyslogFields::Trim(ALine.substr(AAt, 2))), value) ? value : AFallback;
}

void ReadPositionalTime(TBaseSysLogMessage& AMessage, const std::string& AText) {
  TDateTime value = 0;
  switch (SyslogFields::ReadTime(AText, value)) {
    case SyslogFields::TTimeRead::trOK: AMessage.SetTimeStamp(value); break;
    case SyslogFields::TTimeRead::trImpossible: AMessage.SetTimeStamp(TBSDSyslogHeader::NotSet); break;
    case SyslogFields::TTimeRead::trUnreadable: break;  // left as it was
  }
}

// The keys the JSON and JSON file forms share, up to "timeStamp" (which
// differs) and after it.
void AddTypeAndPriority(TJSONKeyTable<TBSDSysLogMessage>& ATable) {
  ATable.Custom(
      "type", [](const TBSDSysLogMessage& AMessage) { return TJSONValue(AMessage.SendMessageOnly() ? "TXT" : "BSD"); },
      [](TBSDSysLogMessage& AMessage, const TJSONValue& AValue) {
        AMessage.SetSendMessageOnly(Json::Text(AValue) == "TXT");
      });
  SyslogFields::AddFacilityAndSeverity(ATable);
}

void AddHostProcessAndText(TJSONKeyTable<TBSDSysLogMessage>& ATable) {
  SyslogFields::AddHostAndProcess(ATable);
  ATable.IntegerProperty("processId", &TBSDSysLogMessage::ProcessID, &TBSDSysLogMessage::SetProcessID, int32_t{0});
  SyslogFields::AddText(ATable);
}

const TJSONKeyTable<TBSDSysLogMessage>& JSONKeys() {
  static const TJSONKeyTable<TBSDSysLogMessage> table = [] {
    TJSONKeyTable<TBSDSysLogMessage> t;
    AddTypeAndPriority(t);
    t.Custom(
        "timeStamp",
        [](const TBSDSysLogMessage& AMessage) { return TJSONValue(SyslogFields::FormatTime(AMessage.TimeStamp())); },
        [](TBSDSysLogMessage& AMessage, const TJSONValue& AValue) { ReadPositionalTime(AMessage, Json::Text(AValue)); });
    AddHostProcessAndText(t);
    SyslogFields::AddFramingAndSendTo(t);
    return t;
  }();
  return table;
}

const TJSONKeyTable<TBSDSysLogMessage>& FileKeys() {
  static const TJSONKeyTable<TBSDSysLogMessage> table = [] {
    TJSONKeyTable<TBSDSysLogMessage> t;
    AddTypeAndPriority(t);
    t.Custom(
        "timeStamp",
        [](const TBSDSysLogMessage& AMessage) {
          return TJSONValue(TUtilities::DateTimeToISOTimestampString(AMessage.Header().UTCTimeStamp()));
        },
        [](TBSDSysLogMessage& AMessage, const TJSONValue& AValue) {
          try {
            AMessage.SetUTCTimeStamp(TUtilities::ConvertIso8601StringToDateTime(Json::Text(AValue)));
          } catch (const EZorError&) {
            // A malformed time leaves the message's time as it was.
          }
        });
    AddHostProcessAndText(t);
    return t;
  }();
  return table;
}

}  // namespace

std::string TBSDSyslogHeader::ToString() const {
  TDateTime local = TimeStamp();
  if (local < 0) local = TUtilities::Now();
  std::string text = FormatBSDTime(local);
  text += ' ';
  text += FHost;
  return text;
}

std::string TBSDSyslogHeader::TimeStampString() const { return FormatBSDTime(TimeStamp()); }

TBSDSysLogMessage::TBSDSysLogMessage(std::string_view AStringValue) {
  const std::string_view text = SyslogFields::Trim(AStringValue);
  if (!text.empty()) ReadNameValueForm(text);
}

TBSDSysLogMessage::TBSDSysLogMessage(const TBaseSysLogMessage& ASysLogMessage) {
  CopyBaseFields(ASysLogMessage);
  SetHost(ASysLogMessage.Host());
  if (const auto* bsd = dynamic_cast<const TBSDSysLogMessage*>(&ASysLogMessage)) {
    // Same header kind: copy the UTC time itself, so the hour that repeats
    // when daylight saving ends cannot shift it.
    FHeader.SetUTCTimeStamp(bsd->FHeader.UTCTimeStamp());
  } else {
    SetTimeStamp(ASysLogMessage.TimeStamp());
  }
  FProcess = ASysLogMessage.Process();
  FProcessID = ASysLogMessage.ProcessID();
}

std::unique_ptr<TBSDSysLogMessage> TBSDSysLogMessage::GetFromJSONObject(const TJSONObject& AJSONObject) {
  auto message = std::make_unique<TBSDSysLogMessage>();
  message->FromJSONObject(AJSONObject);
  return message;
}

std::unique_ptr<TBaseSysLogMessage> TBSDSysLogMessage::Clone() const {
  return std::make_unique<TBSDSysLogMessage>(*this);
}

std::string TBSDSysLogMessage::EncodedMessage() const {
  std::string line;
  line.reserve(48 + FHeader.Host().size() + FProcess.size() + FText.size());
  line += FPriority.ToString(true);
  line += FHeader.ToString();
  line += ' ';
  line += FProcess;
  if (FProcessID >= 0) {
    line += '[';
    line += std::to_string(FProcessID);
    line += ']';
  }
  line += ": ";
  line += FText;
  return line;
}

void TBSDSysLogMessage::SetEncodedMessage(std::string_view AValue) {
  // Positions below are 0-based offsets from the ">" that ends the PRI:
  // "<PRI>Mmm dd hh:nn:ss HOST ..." has the month at +1, the day at +5, the
  // hour at +8, the minute at +11, the second at +14 and the host at +17.
  const size_t close = SyslogFields::ReadPRI(AValue, *this) - 1;

  const std::string_view month = AValue.substr(close + 1, 3);
  int monthNumber = 0;
  for (int i = 1; i <= 12; ++i) {
    if (month == SyslogMonthNames[i]) monthNumber = i;
  }
  if (monthNumber == 0) throw ESyslogError("Invlaid Month: " + std::string(month));

  const int day = FieldAt(AValue, close + 5, 0);
  const int hour = FieldAt(AValue, close + 8, 25);
  const int minute = FieldAt(AValue, close + 11, 66);
  const int second = FieldAt(AValue, close + 14, 66);
  int year = 0, unusedMonth = 0, unusedDay = 0, unusedHour = 0, unusedMinute = 0, unusedSecond = 0, unusedMs = 0;
  TUtilities::DecodeDateTime(TUtilities::Now(), year, unusedMonth, unusedDay, unusedHour, unusedMinute, unusedSecond,
                             unusedMs);
  // The line carries no year: take this one, or for 29 February the last
  // leap year.
  if (monthNumber == 2 && day == 29) {
    while (!IsLeapYear(year)) --year;
  }
  SetTimeStamp(TUtilities::EncodeDateTime(year, monthNumber, day, hour, minute, second, 0));

  std::string_view rest = close + 17 < AValue.size() ? AValue.substr(close + 17) : std::string_view();
  const size_t blank = rest.find(' ');
  const std::string_view host = rest.substr(0, blank);
  rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
  // A first token with a colon is the tag ("app:"), not a host.
  FHeader.SetHost(host.find(':') == std::string_view::npos ? std::string(host) : std::string());

  std::string tail(rest);
  FProcess = TUtilities::ExtractAlphaNumericStr(tail);
  FProcessID = -1;
  const size_t closePid = tail.find("]:");
  if (!tail.empty() && closePid != std::string::npos) {
    const size_t open = tail.find('[');
    const size_t start = open == std::string::npos ? 0 : open + 1;
    int32_t pid = -1;
    if (closePid >= start && TUtilities::TryStrToInt(tail.substr(start, closePid - start), pid)) FProcessID = pid;
  }
  const size_t colon = tail.find(':');
  const std::string_view text = colon == std::string::npos ? std::string_view(tail)
                                                           : std::string_view(tail).substr(colon + 1);
  FText = std::string(SyslogFields::Trim(text));
}

std::string TBSDSysLogMessage::ToString() const {
  return TNameValueWriter()
      .Add("Type", FSendMessageOnly ? "TXT" : "BSD")
      .AddEscaped("DestinationHost", FDestinationHost)
      .AddInteger("DestinationPort", FDestinationPort)
      .AddEscaped("Host", FHeader.Host())
      .AddEscaped("Process", FProcess)
      .AddEscaped("Text", FText)
      .AddInteger("ProcessID", FProcessID)
      .AddInteger("Facility", SyslogFacilityToInt(Facility()))
      .AddInteger("Severity", SyslogSeverityToInt(Severity()))
      .Add("TimeStamp", SyslogFields::FormatTime(TimeStamp()))
      // Escaped so that a framing text cannot break the form; the framing
      // words in use ("T", "\r\n", ...) hold nothing to escape.
      .AddEscaped("Framing", FFraming)
      .Text();
}

void TBSDSysLogMessage::ReadNameValueForm(std::string_view AText) {
  const TNameValueReader form(AText);
  const std::string_view type = form.Value("Type");
  if (!type.empty() && type != "BSD" && type != "TXT")
    throw ESyslogError("Invalid Message Type " + std::string(type));
  FDestinationHost = form.Unescaped("DestinationHost");
  int32_t port = 0;
  FDestinationPort = TUtilities::TryStrToInt(form.Unescaped("DestinationPort"), port) && port >= 0 && port <= 65535
                         ? static_cast<uint16_t>(port)
                         : 514;
  FHeader.SetHost(form.Unescaped("Host"));
  FProcess = form.Unescaped("Process");
  FText = form.Unescaped("Text");
  FProcessID = form.Integer("ProcessID", 0);
  SetFacility(IntToSyslogFacility(form.Integer("Facility", 0)));
  SetSeverity(IntToSyslogSeverity(form.Integer("Severity", 0)));
  FFraming = form.Unescaped("Framing");
  const std::string time(form.Value("TimeStamp"));
  if (time.empty()) {
    SetTimeStamp(TUtilities::Now());
  } else {
    ReadPositionalTime(*this, time);
  }
  FSendMessageOnly = type == "TXT";
}

std::unique_ptr<TJSONObject> TBSDSysLogMessage::ToJSONObject() const { return JSONKeys().ToJSONObject(*this); }

std::unique_ptr<TJSONObject> TBSDSysLogMessage::ToJSONFileObject() const { return FileKeys().ToJSONObject(*this); }

void TBSDSysLogMessage::FromJSONObject(const TJSONObject& AValue) {
  Json::RequireObject(AValue, "syslog message");
  FSendMessageOnly = false;
  ClearSendTo();
  JSONKeys().Read(*this, AValue);
}

void TBSDSysLogMessage::FromJSONFileObject(const TJSONObject& AValue) {
  Json::RequireObject(AValue, "syslog message");
  FSendMessageOnly = false;
  FileKeys().Read(*this, AValue);
}

}  // namespace zor
