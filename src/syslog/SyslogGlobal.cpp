#include "syslog/SyslogGlobal.h"

#include <array>
#include <utility>

#include "syslog/SyslogFields.h"

namespace zor {

const char* const SyslogMonthNames[13] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {

constexpr std::array<const char*, 24> FacilityWords = {
    "Kernel",         "UserLevel",    "MailSystem",    "SystemDaemon",  "SecurityOne",   "SysLogInternal",
    "LPR",            "NNTP",         "UUCP",          "ClockDaemonOne", "SecurityTwo",  "FTPDaemon",
    "NTP",            "LogAudit",     "LogAlert",      "ClockDaemonTwo", "LocalUseZero", "LocalUseOne",
    "LocalUseTwo",    "LocalUseThree", "LocalUseFour", "LocalUseFive",  "LocalUseSix",   "LocalUseSeven"};

constexpr std::array<const char*, 8> SeverityWords = {"Emergency", "Alert",  "Critical",      "Error",
                                                      "Warning",   "Notice", "Informational", "Debug"};

// The escaped characters and their six-character replacements, in the order
// both directions apply them.
constexpr std::array<std::pair<std::string_view, std::string_view>, 6> FieldEscapes = {{
    {"=", "\\0x3D"},
    {"|", "\\0x7C"},
    {"\x03", "\\0x03"},
    {"\x04", "\\0x04"},
    {"\n", "\\0x0A"},
    {"\r", "\\0x0D"},
}};

}  // namespace

TSyslogFacility IntToSyslogFacility(int AValue) {
  if (AValue >= 0 && AValue <= 22) return static_cast<TSyslogFacility>(AValue);
  return TSyslogFacility::sfLocalUseSeven;
}

int SyslogFacilityToInt(TSyslogFacility AValue) {
  const int code = static_cast<int>(AValue);
  return code > 22 ? 23 : code;
}

std::string SyslogFacilityToStr(TSyslogFacility AValue) {
  return FacilityWords[static_cast<size_t>(SyslogFacilityToInt(AValue))];
}

TSyslogFacility StrToSyslogFacility(std::string_view AValue) {
  for (size_t i = 0; i < FacilityWords.size(); ++i) {
    if (AValue == FacilityWords[i]) return static_cast<TSyslogFacility>(i);
  }
  return TSyslogFacility::sfLocalUseSeven;
}

TSyslogSeverity IntToSyslogSeverity(int AValue) {
  if (AValue >= 0 && AValue <= 6) return static_cast<TSyslogSeverity>(AValue);
  return TSyslogSeverity::slDebug;
}

int SyslogSeverityToInt(TSyslogSeverity AValue) {
  const int code = static_cast<int>(AValue);
  return code > 6 ? 7 : code;
}

std::string SyslogSeverityToStr(TSyslogSeverity AValue) {
  return SeverityWords[static_cast<size_t>(SyslogSeverityToInt(AValue))];
}

TSyslogSeverity StrToSyslogSeverity(std::string_view AValue) {
  for (size_t i = 0; i < SeverityWords.size(); ++i) {
    if (AValue == SeverityWords[i]) return static_cast<TSyslogSeverity>(i);
  }
  return TSyslogSeverity::slDebug;
}

std::string EscapeSyslogField(std::string_view AValue) {
  std::string text(AValue);
  for (const auto& [character, escape] : FieldEscapes) SyslogFields::ReplaceAll(text, character, escape);
  return text;
}

std::string UnescapeSyslogField(std::string_view AValue) {
  std::string text(AValue);
  for (const auto& [character, escape] : FieldEscapes) SyslogFields::ReplaceAll(text, escape, character);
  return text;
}

}  // namespace zor
