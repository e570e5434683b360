#pragma once

#include <chrono>
#include <cstdint>
#include <istream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Errors.h"

// Static helpers of the whole system: date-time and text conversions, and the
// identity of the machine and the account the process runs under.
//
// TUtilities has no instances and no state; any thread may call any operation.

namespace zor {

// A local-calendar date-time: days since 1899-12-30 00:00, the fraction being
// the time of day. A negative value marks "not set" wherever a caller says so.
// Before 1899-12-30 the whole part counts days back and the fraction still
// adds a time of day (-1.25 is 1899-12-29 06:00).
using TDateTime = double;

// A signed time span in 100-nanosecond ticks (UTC offsets).
using TTimeSpan = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;

// A text could not be converted: not an integer, an impossible date or time,
// a number out of range.
class EConvertError : public EZorError {
 public:
  explicit EConvertError(const std::string& AMessage) : EZorError(AMessage) {}
};

// An argument has the wrong form ("Invalid dotted quad address").
class EInvalidArgument : public EZorError {
 public:
  explicit EInvalidArgument(const std::string& AMessage) : EZorError(AMessage) {}
};

// An operating-system query about identity or names failed.
class EOSError : public EZorError {
 public:
  explicit EOSError(const std::string& AMessage) : EZorError(AMessage) {}
};

// A binary security identifier is malformed ("Invalid Security ID Exception").
class EInvalidSID : public EZorError {
 public:
  explicit EInvalidSID(const std::string& AMessage) : EZorError(AMessage) {}
};

// Account and domain of a security identifier.
struct TAccountName {
  std::string Name;
  std::string Domain;
};

class TUtilities {
 public:
  TUtilities() = delete;

  // ---- Date-time building blocks ------------------------------------------

  // Builds a date-time; throws EConvertError "Invalid argument to date encode"
  // or "Invalid argument to time encode" for an impossible date (year 1 to
  // 9999) or time.
  [[nodiscard]] static TDateTime EncodeDateTime(int AYear, int AMonth, int ADay, int AHour, int AMinute,
                                                int ASecond, int AMilliSecond);
  [[nodiscard]] static bool TryEncodeDateTime(int AYear, int AMonth, int ADay, int AHour, int AMinute,
                                              int ASecond, int AMilliSecond, TDateTime& AValue);
  // Splits a date-time into its fields, rounded to the millisecond.
  static void DecodeDateTime(TDateTime AValue, int& AYear, int& AMonth, int& ADay, int& AHour, int& AMinute,
                             int& ASecond, int& AMilliSecond);
  // The whole-day part: the date at 00:00.
  [[nodiscard]] static TDateTime DateOf(TDateTime AValue);
  // English three-letter month abbreviation ("Jan" .. "Dec"); AMonth 1 to 12.
  [[nodiscard]] static const char* ShortMonthName(int AMonth);

  // Milliseconds since 1970-01-01 00:00 of the same calendar reading, and back.
  // No time zone is involved: the date-time is read as written.
  [[nodiscard]] static int64_t DateTimeToUnixMs(TDateTime AValue);
  [[nodiscard]] static TDateTime UnixMsToDateTime(int64_t AMilliseconds);

  // ---- Time zones (the C library's TZ rules) ------------------------------

  // The current local and UTC time, to the millisecond.
  [[nodiscard]] static TDateTime Now();
  [[nodiscard]] static TDateTime NowUTC();
  // UTC to local time under the current zone. False when the value is out of
  // the C library's range (ALocal untouched).
  [[nodiscard]] static bool TryUTCToLocal(TDateTime AUTC, TDateTime& ALocal);
  // Local time to UTC, in whole seconds of offset. False for a local time
  // that does not exist (inside a daylight-saving gap) or out of range.
  [[nodiscard]] static bool TryLocalToUTC(TDateTime ALocal, TDateTime& AUTC);
  // The zone's offset from UTC at this moment (positive east of Greenwich).
  [[nodiscard]] static TTimeSpan CurrentUTCOffset();
  // Reads the time zone again now (TZ and the system's zone) and forgets the
  // conversions each thread keeps of the second it converted last. The
  // conversions above do this by themselves at most a minute after a change;
  // call it right after changing TZ.
  static void TimeZoneChanged();

  // ---- ISO 8601 and fixed forms ---------------------------------------------

  // "YYYY-MM-DDThh:mm:ss[.fff...][Z]"; the clock reading as written (a trailing
  // offset is ignored). A fraction is read as up to three digits, unscaled.
  [[nodiscard]] static TDateTime ConvertIso8601StringToDateTime(const std::string& AValue);
  // RFC 5424 timestamp: the clock reading as written (offset not applied); the
  // fraction is scaled to milliseconds (".5" is 500 ms).
  [[nodiscard]] static TDateTime ISOTimestampStringToDateTime(const std::string& AValue);
  // RFC 5424 timestamp: its UTC offset (zero for "Z").
  [[nodiscard]] static TTimeSpan ISOTimestampStringToOffset(const std::string& AValue);
  // "YYYY-MM-DDThh:mm:ss.zzzZ" of the value as stored.
  [[nodiscard]] static std::string DateTimeToISOTimestampString(TDateTime AValue);
  // Same, labelled with AOffset ("+hh:mm"/"-hh:mm"; "Z" when zero).
  [[nodiscard]] static std::string DateTimeToISOTimestampString(TDateTime AValue, TTimeSpan AOffset);
  // "YYYY-MMM-DD hh:nn:ss", upper-cased ("2024-MAR-05 07:08:09").
  [[nodiscard]] static std::string ConvertDateTimeToString(TDateTime AValue);
  // The reverse of ConvertDateTimeToString, by fixed position.
  [[nodiscard]] static TDateTime ConvertDateTimeString(const std::string& AValue);

  // ---- Characters and tokens ----------------------------------------------

  [[nodiscard]] static bool IsAlpha(char AValue);  // letters and "-"
  [[nodiscard]] static bool IsNumeric(char AValue);
  [[nodiscard]] static bool IsAlphaNumeric(char AValue);
  // Removes and returns the leading run of letters, digits and hyphens of AValue.
  [[nodiscard]] static std::string ExtractAlphaNumericStr(std::string& AValue);
  // Every byte from the stream's position to its end.
  [[nodiscard]] static std::string StreamToString(std::istream& AStream);

  // ---- Integers, addresses, URLs ------------------------------------------

  // Decimal (or "$"/"0x" hexadecimal) text, optional leading blanks and sign.
  // Throws EConvertError "'%s' is not a valid integer value".
  [[nodiscard]] static int32_t StrToInt(const std::string& AValue);
  [[nodiscard]] static int64_t StrToInt64(const std::string& AValue);
  [[nodiscard]] static bool TryStrToInt(const std::string& AValue, int32_t& AResult);
  [[nodiscard]] static bool TryStrToInt64(const std::string& AValue, int64_t& AResult);
  // 0 to 4294967295, else EConvertError (range message with the 64-bit value).
  [[nodiscard]] static uint32_t StrToUInt32(const std::string& AValue);
  [[nodiscard]] static uint32_t StrToUInt32Def(const std::string& AValue, uint32_t ADefault);

  // Scheme and host of a configuration-server address ("http://" added to a
  // bare "host:port").
  [[nodiscard]] static std::string GetURLFromURLString(const std::string& AValue);
  // Port of the address (443 for an https address without one, 80 otherwise).
  // Throws EConvertError for a bare host or a port outside 0 to 65535.
  [[nodiscard]] static uint16_t GetPortFromURLString(const std::string& AValue);

  // a.b.c.d <-> a*2^24 + b*2^16 + c*2^8 + d.
  [[nodiscard]] static uint32_t DottedQuadToUInt32(const std::string& AValue);
  [[nodiscard]] static bool TryDottedQuadToUInt32(const std::string& AValue, uint32_t& AResult);
  [[nodiscard]] static std::string UInt32ToDottedQuad(uint32_t AValue);
  [[nodiscard]] static uint32_t HostToNetworkByteOrder(uint32_t AValue);
  [[nodiscard]] static uint32_t NetworkToHostByteOrder(uint32_t AValue);

  // printf into a std::string.
  [[nodiscard]] static std::string Format(const char* AFormat, ...) __attribute__((format(printf, 1, 2)));

  // True when AText holds nothing but characters up to the blank (control
  // characters and blanks): what Trim would leave empty.
  [[nodiscard]] static bool IsBlank(std::string_view AText) {
    for (const char c : AText)
      if (static_cast<unsigned char>(c) > ' ') return false;
    return true;
  }

  // UTF-8 to UTF-16 code units and back. Malformed input becomes U+FFFD.
  [[nodiscard]] static std::u16string Utf8ToUtf16(const std::string& AValue);
  [[nodiscard]] static std::string Utf16ToUtf8(std::u16string_view AValue);

  // ---- Identity of the process and the machine ----------------------------

  // The account the process runs under. Throws EOSError when it has no name.
  [[nodiscard]] static std::string GetLoggedInUserName();
  // The account's domain: for local accounts, the machine name.
  [[nodiscard]] static std::string GetLoggedInDomain();
  // The machine's short host name (up to the first "."); empty on failure.
  [[nodiscard]] static std::string GetLocalMachineName();
  // The machine's fully qualified name (the host name when none is known).
  [[nodiscard]] static std::string GetFQDN();
  // The version compiled into this program when AFileName is this program's
  // file; false and four zeros for any other file.
  [[nodiscard]] static bool GetVersionInfo(const std::string& AFileName, int32_t& AMajor, int32_t& AMinor,
                                           int32_t& ARelease, int32_t& ABuild);
  // The full path of the running program ("" when unknown).
  [[nodiscard]] static std::string ProgramFileName();

  // The common application-data folder: the override set here, else that of
  // the process-wide service paths (--programdata, else $PROGRAMDATA, else
  // "/var/lib"). No trailing "/".
  [[nodiscard]] static std::string CommonAppDataDir();
  // Set once at start, before other threads run ("" clears the override).
  static void SetCommonAppDataDir(const std::string& AValue);
  // The user's documents ($HOME), configuration ($XDG_CONFIG_HOME or
  // ~/.config) and data ($XDG_DATA_HOME or ~/.local/share) folders.
  [[nodiscard]] static std::string MyDocumentsDir();
  [[nodiscard]] static std::string AppDataDir();
  [[nodiscard]] static std::string AppDataDirNonRoaming();

  // Size in bytes; -1 when the file cannot be read.
  [[nodiscard]] static int64_t GetFileSize(const std::string& AFileName);
  // Creation (birth time, else last modification) and last-write time as local
  // date-times at the two-second resolution of DOS times; -1.0 on failure.
  [[nodiscard]] static TDateTime GetFileCreationTime(const std::string& AFileName);
  [[nodiscard]] static TDateTime GetFileLastWriteTime(const std::string& AFileName);
  // The machine identifier (/etc/machine-id) in GUID form; "" when unknown.
  [[nodiscard]] static std::string GetMachineGUID();

  // Text form of a binary security identifier (revision, count, six-byte
  // big-endian authority, little-endian 32-bit sub-authorities). Throws
  // EInvalidSID "Invalid Security ID Exception" for a malformed one.
  [[nodiscard]] static std::string SIDToStr(std::span<const uint8_t> ASid);
  // Parses "S-1-..." into the binary form. False when it is not one.
  [[nodiscard]] static bool StrToSID(const std::string& AValue, std::vector<uint8_t>& ASid);
  // Account name and domain of a security identifier in text form, from the
  // table of well-known identifiers (S-1-5-18 is NT AUTHORITY\SYSTEM). False
  // for any other identifier, and for a text that is not an identifier.
  [[nodiscard]] static bool LookupAccountBySid(const std::string& ASid, TAccountName& AAccount);
  // The current user's identifier ("S-1-22-1-<uid>", the conventional form
  // of a Unix user), with its user and domain names.
  [[nodiscard]] static std::string GetSID(std::string& AUserName, std::string& ADomainName);

  // Reverse name lookup of an IPv4 address; the address itself when it has no
  // name. Throws EOSError "getnameinfo returned erro code %d: %s.".
  [[nodiscard]] static std::string GetFullyQualifiedDomainName(const std::string& AIPAddress);

  // Per-form settings of the current user, kept in a small file under
  // AppDataDir(). Reading a missing value gives "" or 0; writing gives false
  // when the file cannot be written.
  [[nodiscard]] static std::string GetFormKey(const std::string& AFormName, const std::string& AValueName);
  [[nodiscard]] static int32_t GetIntegerFormKey(const std::string& AFormName, const std::string& AValueName);
  [[nodiscard]] static bool SetFormKey(const std::string& AFormName, const std::string& AValueName,
                                       const std::string& AValue);
  [[nodiscard]] static bool SetIntegerFormKey(const std::string& AFormName, const std::string& AValueName,
                                              int32_t AValue);

  // Bytes the memory allocator has handed out and not taken back (32 bits).
  [[nodiscard]] static uint32_t MemoryUsed();
};

}  // namespace zor
