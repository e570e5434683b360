// Date-time and text operations of TUtilities. The identity operations are in
// UtilitiesIdentity.cpp.
#include "support/Utilities.h"

#include "support/CivilDate.h"

#include <arpa/inet.h>

#include <atomic>
#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <iterator>

namespace zor {

namespace {

constexpr int64_t MsPerDay = 86400000;
// Day 0 of the date-time model (1899-12-30) counted from 1970-01-01.
constexpr int64_t UnixEpochDay = 25569;

constexpr const char* MonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsLeapYear(int AYear) { return (AYear % 4 == 0 && AYear % 100 != 0) || AYear % 400 == 0; }

int DaysInMonth(int AYear, int AMonth) {
  static constexpr int Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return AMonth == 2 && IsLeapYear(AYear) ? 29 : Days[AMonth - 1];
}

// A date-time as a whole day number and the milliseconds of that day.
struct TDayAndTime {
  int64_t Day;
  int64_t Ms;
};

// The first and the day after the last day the model can hold (0001-01-01,
// 10000-01-01).
constexpr double FirstDay = -693593;
constexpr double EndDay = 2958466;

TDayAndTime Split(TDateTime AValue) {
  // A value from nowhere (NaN, far out of range) is clamped rather than
  // overflowing the integer conversions below.
  if (!std::isfinite(AValue)) AValue = 0;
  if (AValue <= FirstDay - 1) AValue = FirstDay;  // day -693593 runs down to -693593.99...
  if (AValue >= EndDay) AValue = EndDay - 1.0 / MsPerDay;
  double whole = std::trunc(AValue);
  int64_t ms = std::llround(std::fabs(AValue - whole) * MsPerDay);
  if (ms >= MsPerDay) {
    // Rounding carried into the next day (the fraction grows away from zero on
    // both sides of day 0, so the carry moves the day the same way).
    ms -= MsPerDay;
    whole += AValue < 0 ? -1 : 1;
  }
  return {static_cast<int64_t>(whole), ms};
}

TDateTime Join(int64_t ADay, int64_t AMs) {
  const double time = static_cast<double>(AMs) / MsPerDay;
  return ADay < 0 ? static_cast<double>(ADay) - time : static_cast<double>(ADay) + time;
}

std::string Substr(const std::string& AValue, size_t AFirst, size_t ACount) {
  // Positions count from 1, as in the fixed-position forms; past the end gives
  // a shorter (possibly empty) text.
  if (AFirst == 0 || AFirst > AValue.size()) return std::string();
  return AValue.substr(AFirst - 1, ACount);
}

std::vector<std::string> SplitAt(const std::string& AValue, char ASeparator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    const size_t pos = AValue.find(ASeparator, start);
    if (pos == std::string::npos) {
      pieces.push_back(AValue.substr(start));
      return pieces;
    }
    pieces.push_back(AValue.substr(start, pos - start));
    start = pos + 1;
  }
}

std::string InvalidInteger(const std::string& AValue) {
  return "'" + AValue + "' is not a valid integer value";
}

// Counts the readings of the time zone, so that a conversion kept from an
// older reading is not used.
std::atomic<uint64_t> GTimeZoneGeneration{0};

// Reads the time zone again; conversions kept from the old reading are not used.
void ReadTimeZone() {
  tzset();
  GTimeZoneGeneration.fetch_add(1, std::memory_order_acq_rel);
}

// localtime_r reads the time zone once; a service that runs for years sees a
// changed system time zone within a minute of the change. Returns the
// generation of the reading in force.
uint64_t RefreshTimeZone() {
  static std::atomic<int64_t> lastRefresh{0};
  const int64_t now = static_cast<int64_t>(time(nullptr));
  int64_t last = lastRefresh.load(std::memory_order_relaxed);
  if ((now - last >= 60 || now < last) && lastRefresh.compare_exchange_strong(last, now)) ReadTimeZone();
  return GTimeZoneGeneration.load(std::memory_order_acquire);
}

// A thread's last conversions of whole seconds: events come in runs that
// share their second, and each conversion asks the C library for the zone's
// rules at that instant under its process-wide lock. Two are kept, as a
// message takes the time it was made ("now") before the event's time.
struct TKeptConversion {
  uint64_t Generation = UINT64_MAX;
  int64_t From = 0;
  bool Done = false;  // From converts (else the conversion failed)
  int64_t To = 0;
};
class TKeptConversions {
 public:
  // The conversion of AFrom kept under reading AGeneration, or null.
  [[nodiscard]] const TKeptConversion* Find(uint64_t AGeneration, int64_t AFrom) const {
    for (const TKeptConversion& kept : FKept)
      if (kept.Generation == AGeneration && kept.From == AFrom) return &kept;
    return nullptr;
  }
  // Keeps AConversion in place of the older one.
  const TKeptConversion& Keep(const TKeptConversion& AConversion) {
    FOlder ^= 1;
    return FKept[FOlder ^ 1] = AConversion;
  }

 private:
  TKeptConversion FKept[2];
  unsigned FOlder = 0;
};

// UTC second ASeconds to its local reading, through the calling thread's kept conversions.
const TKeptConversion& UTCToLocalSecond(int64_t ASeconds) {
  thread_local TKeptConversions kept;
  const uint64_t generation = RefreshTimeZone();
  if (const TKeptConversion* found = kept.Find(generation, ASeconds)) return *found;
  struct tm local {};
  const auto at = static_cast<time_t>(ASeconds);
  const bool done = localtime_r(&at, &local) != nullptr;
  return kept.Keep({generation, ASeconds, done, done ? ASeconds + local.tm_gmtoff : 0});
}

// The UTC second of local reading AReading (ALocal without its milliseconds):
// the reading taken as UTC, less the offset in force at the instant it names.
// The offset is looked up near the instant first, then at the instant found;
// a reading that no instant shows (inside a daylight-saving gap) does not
// exist. (mktime would do the same, but it reads the time zone files again on
// every call.)
TKeptConversion LocalSecondToUTC(TDateTime ALocal, int64_t AReading, uint64_t AGeneration) {
  TKeptConversion kept{AGeneration, AReading, false, 0};
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, milliSecond = 0;
  TUtilities::DecodeDateTime(ALocal, year, month, day, hour, minute, second, milliSecond);
  struct tm wanted {};
  wanted.tm_year = year - 1900;
  wanted.tm_mon = month - 1;
  wanted.tm_mday = day;
  wanted.tm_hour = hour;
  wanted.tm_min = minute;
  wanted.tm_sec = second;
  struct tm asUtc = wanted;
  const time_t readingSeconds = timegm(&asUtc);
  for (time_t near : {readingSeconds, readingSeconds - 86400, readingSeconds + 86400}) {
    struct tm probe {};
    if (localtime_r(&near, &probe) == nullptr) break;
    const time_t seconds = readingSeconds - probe.tm_gmtoff;
    struct tm back {};
    if (localtime_r(&seconds, &back) == nullptr) break;
    if (back.tm_year == wanted.tm_year && back.tm_mon == wanted.tm_mon && back.tm_mday == wanted.tm_mday &&
        back.tm_hour == wanted.tm_hour && back.tm_min == wanted.tm_min && back.tm_sec == wanted.tm_sec) {
      kept.Done = true;
      kept.To = seconds;
      break;
    }
  }
  return kept;
}

// AValue = quotient * AUnit + remainder with 0 <= remainder < AUnit (division
// rounded down, also for times before the epoch).
int64_t FloorDivide(int64_t AValue, int64_t AUnit, int64_t& ARemainder) {
  int64_t quotient = AValue / AUnit;
  ARemainder = AValue % AUnit;
  if (ARemainder < 0) {
    ARemainder += AUnit;
    --quotient;
  }
  return quotient;
}

}  // namespace

// ---- Date-time building blocks ----------------------------------------------

bool TUtilities::TryEncodeDateTime(int AYear, int AMonth, int ADay, int AHour, int AMinute, int ASecond,
                                   int AMilliSecond, TDateTime& AValue) {
  if (AYear < 1 || AYear > 9999 || AMonth < 1 || AMonth > 12 || ADay < 1 || ADay > DaysInMonth(AYear, AMonth))
    return false;
  if (AHour < 0 || AHour > 23 || AMinute < 0 || AMinute > 59 || ASecond < 0 || ASecond > 59 || AMilliSecond < 0 ||
      AMilliSecond > 999)
    return false;
  const int64_t day = DaysFromCivil(AYear, static_cast<unsigned>(AMonth), static_cast<unsigned>(ADay)) + UnixEpochDay;
  const int64_t ms = ((AHour * 60LL + AMinute) * 60 + ASecond) * 1000 + AMilliSecond;
  AValue = Join(day, ms);
  return true;
}

TDateTime TUtilities::EncodeDateTime(int AYear, int AMonth, int ADay, int AHour, int AMinute, int ASecond,
                                     int AMilliSecond) {
  TDateTime result = 0;
  if (TryEncodeDateTime(AYear, AMonth, ADay, AHour, AMinute, ASecond, AMilliSecond, result)) return result;
  if (TryEncodeDateTime(AYear, AMonth, ADay, 0, 0, 0, 0, result))
    throw EConvertError("Invalid argument to time encode");
  throw EConvertError("Invalid argument to date encode");
}

void TUtilities::DecodeDateTime(TDateTime AValue, int& AYear, int& AMonth, int& ADay, int& AHour, int& AMinute,
                                int& ASecond, int& AMilliSecond) {
  const TDayAndTime parts = Split(AValue);
  CivilFromDays(parts.Day - UnixEpochDay, AYear, AMonth, ADay);
  int64_t ms = parts.Ms;
  AMilliSecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  ASecond = static_cast<int>(ms % 60);
  ms /= 60;
  AMinute = static_cast<int>(ms % 60);
  AHour = static_cast<int>(ms / 60);
}

TDateTime TUtilities::DateOf(TDateTime AValue) { return static_cast<double>(Split(AValue).Day); }

const char* TUtilities::ShortMonthName(int AMonth) {
  return AMonth >= 1 && AMonth <= 12 ? MonthNames[AMonth - 1] : "";
}

int64_t TUtilities::DateTimeToUnixMs(TDateTime AValue) {
  const TDayAndTime parts = Split(AValue);
  return (parts.Day - UnixEpochDay) * MsPerDay + parts.Ms;
}

TDateTime TUtilities::UnixMsToDateTime(int64_t AMilliseconds) {
  int64_t ms = 0;
  const int64_t day = FloorDivide(AMilliseconds, MsPerDay, ms);
  return Join(day + UnixEpochDay, ms);
}

// ---- Time zones ---------------------------------------------------------------

TDateTime TUtilities::NowUTC() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return UnixMsToDateTime(static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
}

TDateTime TUtilities::Now() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  const TKeptConversion& local = UTCToLocalSecond(static_cast<int64_t>(now.tv_sec));
  const int64_t seconds = local.Done ? local.To : static_cast<int64_t>(now.tv_sec);
  return UnixMsToDateTime(seconds * 1000 + now.tv_nsec / 1000000);
}

bool TUtilities::TryUTCToLocal(TDateTime AUTC, TDateTime& ALocal) {
  int64_t rest = 0;
  const int64_t seconds = FloorDivide(DateTimeToUnixMs(AUTC), 1000, rest);
  const TKeptConversion& local = UTCToLocalSecond(seconds);
  if (!local.Done) return false;
  ALocal = UnixMsToDateTime(local.To * 1000 + rest);
  return true;
}

void TUtilities::TimeZoneChanged() { ReadTimeZone(); }

bool TUtilities::TryLocalToUTC(TDateTime ALocal, TDateTime& AUTC) {
  // The reading's whole second decides the result: the calendar fields are
  // worked out only when the thread's last conversions were of other ones.
  int64_t ms = 0;
  const int64_t reading = FloorDivide(DateTimeToUnixMs(ALocal), 1000, ms);
  thread_local TKeptConversions keptConversions;
  const uint64_t generation = RefreshTimeZone();
  const TKeptConversion* found = keptConversions.Find(generation, reading);
  if (!found) found = &keptConversions.Keep(LocalSecondToUTC(ALocal, reading, generation));
  if (!found->Done) return false;
  AUTC = UnixMsToDateTime(found->To * 1000 + ms);
  return true;
}

TTimeSpan TUtilities::CurrentUTCOffset() {
  const auto now = static_cast<int64_t>(time(nullptr));
  const TKeptConversion& local = UTCToLocalSecond(now);
  if (!local.Done) return TTimeSpan::zero();
  return std::chrono::seconds(local.To - now);
}

// ---- ISO 8601 and fixed forms ---------------------------------------------------

namespace {

// The value of ACount decimal digits at APos of AText, or -1.
int PlainDigitsAt(std::string_view AText, size_t APos, size_t ACount) {
  if (APos + ACount > AText.size()) return -1;
  int value = 0;
  for (size_t i = APos; i < APos + ACount; ++i) {
    if (AText[i] < '0' || AText[i] > '9') return -1;
    value = value * 10 + (AText[i] - '0');
  }
  return value;
}

// The fields of "YYYY-MM-DDTHH:MM:SS", optionally followed by "." and digits,
// then optionally "Z": the form of every event time, read here without the
// temporaries of the general reading, which gives the same fields for it.
bool TryPlainIso8601(std::string_view AText, int (&AFields)[7]) {
  if (AText.ends_with('Z')) AText.remove_suffix(1);
  if (AText.size() < 19 || AText[4] != '-' || AText[7] != '-' || AText[10] != 'T' || AText[13] != ':' ||
      AText[16] != ':')
    return false;
  constexpr size_t Starts[6] = {0, 5, 8, 11, 14, 17};
  for (size_t i = 0; i < 6; ++i) {
    AFields[i] = PlainDigitsAt(AText, Starts[i], i == 0 ? 4 : 2);
    if (AFields[i] < 0) return false;
  }
  AFields[6] = 0;
  if (AText.size() == 19) return true;
  // Up to three digits of the fraction count, not scaled.
  const std::string_view fraction = AText.substr(20);
  if (AText[19] != '.' || fraction.empty()) return false;
  for (const char c : fraction)
    if (c < '0' || c > '9') return false;
  AFields[6] = PlainDigitsAt(fraction, 0, std::min<size_t>(fraction.size(), 3));
  return true;
}

}  // namespace

TDateTime TUtilities::ConvertIso8601StringToDateTime(const std::string& AValue) {
  if (int fields[7]; TryPlainIso8601(AValue, fields))
    return EncodeDateTime(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6]);
  std::string text = AValue;
  const size_t zulu = text.find('Z');
  if (zulu != std::string::npos && zulu + 1 == text.size()) text.pop_back();

  const std::vector<std::string> pieces = SplitAt(text, 'T');
  if (pieces.size() != 2) throw EConvertError(Format("Invalid Iso 8601 DateTime %s", text.c_str()));
  const std::string& date = pieces[0];
  const std::string& time = pieces[1];

  int32_t year = 0, month = 0, day = 0;
  if (!TryStrToInt(Substr(date, 1, 4), year) || !TryStrToInt(Substr(date, 6, 2), month) ||
      !TryStrToInt(Substr(date, 9, 2), day))
    throw EConvertError(Format("Invalid Iso 8601 Date Part %s", text.c_str()));

  int32_t hour = 0, minute = 0, second = 0;
  if (!TryStrToInt(Substr(time, 1, 2), hour) || !TryStrToInt(Substr(time, 4, 2), minute) ||
      !TryStrToInt(Substr(time, 7, 2), second))
    throw EConvertError(Format("Invalid Iso 8601 Time Part %s", text.c_str()));

  int32_t ms = 0;
  const std::vector<std::string> fraction = SplitAt(time, '.');
  // Up to three digits, not scaled: Windows event times always carry seven.
  if (fraction.size() == 2 && !TryStrToInt(fraction[1].substr(0, 3), ms)) ms = 0;
  return EncodeDateTime(year, month, day, hour, minute, second, ms);
}

TDateTime TUtilities::ISOTimestampStringToDateTime(const std::string& AValue) {
  const int32_t year = StrToInt(Substr(AValue, 1, 4));
  const int32_t month = StrToInt(Substr(AValue, 6, 2));
  const int32_t day = StrToInt(Substr(AValue, 9, 2));
  const int32_t hour = StrToInt(Substr(AValue, 12, 2));
  const int32_t minute = StrToInt(Substr(AValue, 15, 2));
  const int32_t second = StrToInt(Substr(AValue, 18, 2));

  size_t pos = 19;
  if (pos < AValue.size() && AValue[pos] == '.') ++pos;
  size_t end = pos;
  while (end < AValue.size() && IsNumeric(AValue[end])) ++end;
  const std::string digits = AValue.substr(std::min(pos, AValue.size()), end - std::min(pos, end));
  int ms = 0;
  if (digits.size() == 1)
    ms = (digits[0] - '0') * 100;
  else if (digits.size() == 2)
    ms = ((digits[0] - '0') * 10 + (digits[1] - '0')) * 10;
  else if (digits.size() >= 3)
    ms = (digits[0] - '0') * 100 + (digits[1] - '0') * 10 + (digits[2] - '0');
  return EncodeDateTime(year, month, day, hour, minute, second, ms);
}

TTimeSpan TUtilities::ISOTimestampStringToOffset(const std::string& AValue) {
  if (!AValue.empty() && AValue.back() == 'Z') return TTimeSpan::zero();
  size_t pos = 19;
  if (pos < AValue.size() && AValue[pos] == '.') ++pos;
  while (pos < AValue.size() && IsNumeric(AValue[pos])) ++pos;
  const std::string offset = pos < AValue.size() ? AValue.substr(pos) : std::string();
  int32_t hours = StrToInt(Substr(offset, 2, 2));
  int32_t minutes = StrToInt(Substr(offset, 5, 2));
  if (!offset.empty() && offset[0] == '-') {
    hours = -hours;
    minutes = -minutes;
  }
  return std::chrono::hours(hours) + std::chrono::minutes(minutes);
}

std::string TUtilities::DateTimeToISOTimestampString(TDateTime AValue) {
  return DateTimeToISOTimestampString(AValue, TTimeSpan::zero());
}

std::string TUtilities::DateTimeToISOTimestampString(TDateTime AValue, TTimeSpan AOffset) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
  DecodeDateTime(AValue, year, month, day, hour, minute, second, ms);
  if (AOffset == TTimeSpan::zero())
    return Format("%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3dZ", year, month, day, hour, minute, second, ms);
  const int64_t minutes = std::chrono::duration_cast<std::chrono::minutes>(AOffset).count();
  const int64_t absMinutes = minutes < 0 ? -minutes : minutes;
  return Format("%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3d%s%.2d:%.2d", year, month, day, hour, minute, second, ms,
                AOffset < TTimeSpan::zero() ? "-" : "+", static_cast<int>(absMinutes / 60),
                static_cast<int>(absMinutes % 60));
}

std::string TUtilities::ConvertDateTimeToString(TDateTime AValue) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
  DecodeDateTime(AValue, year, month, day, hour, minute, second, ms);
  std::string result =
      Format("%.4d-%s-%.2d %.2d:%.2d:%.2d", year, ShortMonthName(month), day, hour, minute, second);
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

TDateTime TUtilities::ConvertDateTimeString(const std::string& AValue) {
  std::string monthText = Substr(AValue, 6, 3);
  for (char& c : monthText) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  int month = 0;
  static constexpr const char* Upper[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                            "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  for (int i = 0; i < 12; ++i)
    if (monthText == Upper[i]) month = i + 1;
  return EncodeDateTime(StrToInt(Substr(AValue, 1, 4)), month, StrToInt(Substr(AValue, 10, 2)),
                        StrToInt(Substr(AValue, 13, 2)), StrToInt(Substr(AValue, 16, 2)),
                        StrToInt(Substr(AValue, 19, 2)), 0);
}

// ---- Characters and tokens ------------------------------------------------------

bool TUtilities::IsAlpha(char AValue) {
  return (AValue >= 'a' && AValue <= 'z') || (AValue >= 'A' && AValue <= 'Z') || AValue == '-';
}

bool TUtilities::IsNumeric(char AValue) { return AValue >= '0' && AValue <= '9'; }

bool TUtilities::IsAlphaNumeric(char AValue) { return IsAlpha(AValue) || IsNumeric(AValue); }

std::string TUtilities::ExtractAlphaNumericStr(std::string& AValue) {
  size_t end = 0;
  while (end < AValue.size() && IsAlphaNumeric(AValue[end])) ++end;
  std::string result = AValue.substr(0, end);
  AValue.erase(0, end);
  return result;
}

std::string TUtilities::StreamToString(std::istream& AStream) {
  // Text is UTF-8 here, the system's own code page: the bytes are the text.
  return std::string(std::istreambuf_iterator<char>(AStream), std::istreambuf_iterator<char>());
}

// ---- Integers, addresses, URLs --------------------------------------------------

bool TUtilities::TryStrToInt64(const std::string& AValue, int64_t& AResult) {
  size_t pos = 0;
  while (pos < AValue.size() && AValue[pos] == ' ') ++pos;
  bool negative = false;
  if (pos < AValue.size() && (AValue[pos] == '-' || AValue[pos] == '+')) negative = AValue[pos++] == '-';
  unsigned base = 10;
  if (pos < AValue.size() && AValue[pos] == '$') {
    base = 16;
    ++pos;
  } else if (pos + 1 < AValue.size() && AValue[pos] == '0' && (AValue[pos + 1] == 'x' || AValue[pos + 1] == 'X')) {
    base = 16;
    pos += 2;
  }
  if (pos >= AValue.size()) return false;
  // Accumulate the magnitude unsigned so that INT64_MIN converts.
  uint64_t magnitude = 0;
  const uint64_t limit = negative ? (uint64_t{1} << 63) : (uint64_t{1} << 63) - 1;
  for (; pos < AValue.size(); ++pos) {
    const char c = AValue[pos];
    unsigned digit = 0;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return false;
    if (magnitude > (limit - digit) / base) return false;
    magnitude = magnitude * base + digit;
  }
  AResult = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

bool TUtilities::TryStrToInt(const std::string& AValue, int32_t& AResult) {
  int64_t wide = 0;
  if (!TryStrToInt64(AValue, wide) || wide < INT32_MIN || wide > INT32_MAX) return false;
  AResult = static_cast<int32_t>(wide);
  return true;
}

int32_t TUtilities::StrToInt(const std::string& AValue) {
  int32_t result = 0;
  if (!TryStrToInt(AValue, result)) throw EConvertError(InvalidInteger(AValue));
  return result;
}

int64_t TUtilities::StrToInt64(const std::string& AValue) {
  int64_t result = 0;
  if (!TryStrToInt64(AValue, result)) throw EConvertError(InvalidInteger(AValue));
  return result;
}

uint32_t TUtilities::StrToUInt32(const std::string& AValue) {
  const int64_t value = StrToInt64(AValue);
  if (value < 0 || value > UINT32_MAX)
    throw EConvertError(Format("\"0x%.16" PRIX64 "\" is not within range of Cardinal data type",
                               static_cast<uint64_t>(value)));
  return static_cast<uint32_t>(value);
}

uint32_t TUtilities::StrToUInt32Def(const std::string& AValue, uint32_t ADefault) {
  int64_t value = 0;
  if (!TryStrToInt64(AValue, value) || value < 0 || value > UINT32_MAX) return ADefault;
  return static_cast<uint32_t>(value);
}

std::string TUtilities::GetURLFromURLString(const std::string& AValue) {
  const std::vector<std::string> pieces = SplitAt(AValue, ':');
  int32_t port = 0;
  if (pieces.size() == 3) return pieces[0] + ":" + pieces[1];
  if (pieces.size() == 2 && TryStrToInt(pieces[1], port)) return "http://" + pieces[0];
  return AValue;
}

uint16_t TUtilities::GetPortFromURLString(const std::string& AValue) {
  std::string text = AValue;
  if (!text.empty() && text.back() == '/') text.pop_back();
  const std::vector<std::string> pieces = SplitAt(text, ':');
  int32_t port = 0;
  if (pieces.size() == 3)
    port = StrToInt(pieces[2]);
  else if (pieces.size() == 2 && TryStrToInt(pieces[1], port))
    ;
  else if (pieces.size() == 2)
    port = pieces[0].find("https") != std::string::npos ? 443 : 80;
  else
    port = StrToInt(text);
  // A port outside 16 bits is refused rather than wrapped onto another port.
  if (port < 0 || port > 65535) throw EConvertError(Format("Invalid port %d in %s", port, AValue.c_str()));
  return static_cast<uint16_t>(port);
}

uint32_t TUtilities::DottedQuadToUInt32(const std::string& AValue) {
  const std::vector<std::string> pieces = SplitAt(AValue, '.');
  if (pieces.size() != 4) throw EInvalidArgument("Invalid dotted quad address");
  uint32_t result = 0;
  for (const std::string& piece : pieces) result = (result << 8) | (static_cast<uint32_t>(StrToInt(piece)) & 0xFF);
  return result;
}

bool TUtilities::TryDottedQuadToUInt32(const std::string& AValue, uint32_t& AResult) {
  const std::vector<std::string> pieces = SplitAt(AValue, '.');
  if (pieces.size() != 4) return false;
  uint32_t result = 0;
  for (const std::string& piece : pieces) {
    int32_t part = 0;
    if (!TryStrToInt(piece, part) || part < 0 || part > 255) return false;
    result = (result << 8) | static_cast<uint32_t>(part);
  }
  AResult = result;
  return true;
}

std::string TUtilities::UInt32ToDottedQuad(uint32_t AValue) {
  return Format("%u.%u.%u.%u", AValue >> 24, (AValue >> 16) & 0xFF, (AValue >> 8) & 0xFF, AValue & 0xFF);
}

uint32_t TUtilities::HostToNetworkByteOrder(uint32_t AValue) { return htonl(AValue); }

uint32_t TUtilities::NetworkToHostByteOrder(uint32_t AValue) { return ntohl(AValue); }

std::string TUtilities::Format(const char* AFormat, ...) {
  char buffer[256];
  va_list args;
  va_start(args, AFormat);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(buffer, sizeof buffer, AFormat, args);
  va_end(args);
  std::string result;
  if (needed < 0) {
    va_end(copy);
    return result;
  }
  if (static_cast<size_t>(needed) < sizeof buffer) {
    result.assign(buffer, static_cast<size_t>(needed));
  } else {
    result.resize(static_cast<size_t>(needed));
    std::vsnprintf(result.data(), result.size() + 1, AFormat, copy);
  }
  va_end(copy);
  return result;
}

std::u16string TUtilities::Utf8ToUtf16(const std::string& AValue) {
  std::u16string result;
  result.reserve(AValue.size());
  const auto* s = reinterpret_cast<const unsigned char*>(AValue.data());
  const size_t n = AValue.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      result.push_back(c);
      ++i;
      continue;
    }
    size_t length = 0;
    uint32_t cp = 0;
    uint32_t minimum = 0;
    if ((c & 0xE0) == 0xC0) {
      length = 2, cp = c & 0x1F, minimum = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3, cp = c & 0x0F, minimum = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4, cp = c & 0x07, minimum = 0x10000;
    }
    bool valid = length != 0 && i + length <= n;
    for (size_t k = 1; valid && k < length; ++k) {
      if ((s[i + k] & 0xC0) != 0x80)
        valid = false;
      else
        cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if (!valid || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      result.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      result.push_back(static_cast<char16_t>(cp));
    }
    i += length;
  }
  return result;
}

std::string TUtilities::Utf16ToUtf8(std::u16string_view AValue) {
  std::string result;
  result.reserve(AValue.size());
  for (size_t i = 0; i < AValue.size(); ++i) {
    uint32_t cp = AValue[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < AValue.size() && AValue[i + 1] >= 0xDC00 && AValue[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (AValue[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // an unpaired surrogate
    }
    if (cp < 0x80) {
      result.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      result.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      result.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      result.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      result.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      result.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      result.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return result;
}

}  // namespace zor
