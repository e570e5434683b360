#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Errors.h"

// The vocabulary every syslog component shares: facilities and severities
// (ordinal = RFC 3164/5424 code) with their display words, the PRI range, the
// transports and stream delimiters, the month names of the BSD header and the
// escaping of the one-line name=value form of a message.
//
// Stateless; safe from any thread.

namespace zor {

// A syslog message or one of its parts is malformed ("Invalid Syslog PRI: %d",
// "Invalid Message Type %s", ...).
class ESyslogError : public EZorError {
 public:
  explicit ESyslogError(const std::string& AMessage) : EZorError(AMessage) {}
};

enum class TSyslogFacility : uint8_t {
  sfKernel = 0,
  sfUserLevel = 1,
  sfMailSystem = 2,
  sfSystemDaemon = 3,
  sfSecurityOne = 4,
  sfSysLogInternal = 5,
  sfLPR = 6,
  sfNNTP = 7,
  sfUUCP = 8,
  sfClockDaemonOne = 9,
  sfSecurityTwo = 10,
  sfFTPDaemon = 11,
  sfNTP = 12,
  sfLogAudit = 13,
  sfLogAlert = 14,
  sfClockDaemonTwo = 15,
  sfLocalUseZero = 16,
  sfLocalUseOne = 17,
  sfLocalUseTwo = 18,
  sfLocalUseThree = 19,
  sfLocalUseFour = 20,
  sfLocalUseFive = 21,
  sfLocalUseSix = 22,
  sfLocalUseSeven = 23,
};

enum class TSyslogSeverity : uint8_t {
  slEmergency = 0,
  slAlert = 1,
  slCritical = 2,
  slError = 3,
  slWarning = 4,
  slNotice = 5,
  slInformational = 6,
  slDebug = 7,
};

// Facility code times 8 plus severity code: 0 to 191.
using TSyslogPRI = uint8_t;
constexpr int MaxSyslogPRI = 191;

enum class TSysLogTransport : uint8_t {
  sltUDP = 0,
  sltTCP = 1,
  sltTLSv1 = 2,
  sltTLSv1_1 = 3,
  sltTLSv1_2 = 4,
  // RELP over TCP: a message counts as sent once the receiver acknowledged it.
  sltRELP = 5,
};

// What ends each message on a TCP or TLS stream (sdlNone: octet counting).
enum class TSyslogDelimiter : uint8_t {
  sdlNone = 0,
  sdlNewLine = 1,
  sdlNull = 2,
  sdlCarriageReturn = 3,
  sdlLineFeed = 4,
};

// "Jan" .. "Dec" at indexes 1 to 12 (index 0 is empty). Not localised: the
// BSD header writes and reads months with it.
extern const char* const SyslogMonthNames[13];

// 0..22 give that facility; anything else sfLocalUseSeven.
[[nodiscard]] TSyslogFacility IntToSyslogFacility(int AValue);
// The code; anything above 22 gives 23.
[[nodiscard]] int SyslogFacilityToInt(TSyslogFacility AValue);
// The display word ("Kernel" .. "LocalUseSeven"); out of the table: "LocalUseSeven".
[[nodiscard]] std::string SyslogFacilityToStr(TSyslogFacility AValue);
// Exact, case-sensitive match of a display word; no match: sfLocalUseSeven.
[[nodiscard]] TSyslogFacility StrToSyslogFacility(std::string_view AValue);

// 0..6 give that severity; anything else slDebug.
[[nodiscard]] TSyslogSeverity IntToSyslogSeverity(int AValue);
// The code; anything above 6 gives 7.
[[nodiscard]] int SyslogSeverityToInt(TSyslogSeverity AValue);
// The display word ("Emergency" .. "Debug"); out of the table: "Debug".
[[nodiscard]] std::string SyslogSeverityToStr(TSyslogSeverity AValue);
// Exact, case-sensitive match; no match: slDebug.
[[nodiscard]] TSyslogSeverity StrToSyslogSeverity(std::string_view AValue);

// Name=value form escaping: "=", "|", characters 3 and 4, line feed and
// carriage return become "\0xHH" (upper-case hex). A backslash itself is not
// escaped, so a text that already holds such a sequence does not survive the
// round trip unchanged.
[[nodiscard]] std::string EscapeSyslogField(std::string_view AValue);
[[nodiscard]] std::string UnescapeSyslogField(std::string_view AValue);

}  // namespace zor
