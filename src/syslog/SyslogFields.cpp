#include "syslog/SyslogFields.h"

#include <cctype>
#include <charconv>
#include <cstdio>

#include "syslog/BaseSysLogMessage.h"

namespace zor {

namespace {

bool EqualNoCase(std::string_view AFirst, std::string_view ASecond) {
  if (AFirst.size() != ASecond.size()) return false;
  for (size_t i = 0; i < AFirst.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(AFirst[i])) != std::tolower(static_cast<unsigned char>(ASecond[i])))
      return false;
  }
  return true;
}

// Decimal integer with an optional sign; the whole text must be the number.
bool TryDecimal(std::string_view AText, int64_t& AValue) {
  if (AText.empty()) return false;
  const char* first = AText.data();
  const char* last = first + AText.size();
  if (*first == '+' && AText.size() > 1 && first[1] != '-') ++first;
  const auto result = std::from_chars(first, last, AValue);
  return result.ec == std::errc() && result.ptr == last;
}

// Characters AFrom..AFrom+ACount-1 of AText (positions from 1), clipped.
std::string_view Copy(std::string_view AText, size_t AFrom, size_t ACount) {
  if (AFrom == 0 || AFrom > AText.size()) return {};
  return AText.substr(AFrom - 1, ACount);
}

}  // namespace

TNameValueWriter& TNameValueWriter::Add(std::string_view AName, std::string_view AValue) {
  if (!FText.empty()) FText += '|';
  FText += AName;
  FText += '=';
  FText += AValue;
  return *this;
}

TNameValueWriter& TNameValueWriter::AddEscaped(std::string_view AName, std::string_view AValue) {
  return Add(AName, EscapeSyslogField(AValue));
}

TNameValueWriter& TNameValueWriter::AddInteger(std::string_view AName, int64_t AValue) {
  return Add(AName, std::to_string(AValue));
}

TNameValueReader::TNameValueReader(std::string_view AText) {
  size_t from = 0;
  while (from <= AText.size()) {
    size_t bar = AText.find('|', from);
    if (bar == std::string_view::npos) bar = AText.size();
    const std::string_view piece = AText.substr(from, bar - from);
    const size_t equals = piece.find('=');
    if (equals != std::string_view::npos) FPairs.emplace_back(piece.substr(0, equals), piece.substr(equals + 1));
    from = bar + 1;
  }
}

bool TNameValueReader::Has(std::string_view AName) const {
  for (const auto& [name, value] : FPairs) {
    if (EqualNoCase(name, AName)) return true;
  }
  return false;
}

std::string_view TNameValueReader::Value(std::string_view AName) const {
  for (const auto& [name, value] : FPairs) {
    if (EqualNoCase(name, AName)) return value;
  }
  return {};
}

int32_t TNameValueReader::Integer(std::string_view AName, int32_t ADefault) const {
  int32_t value = 0;
  return TUtilities::TryStrToInt(std::string(Value(AName)), value) ? value : ADefault;
}

namespace SyslogFields {

void ReplaceAll(std::string& AText, std::string_view AFrom, std::string_view ATo) {
  size_t at = AFrom.empty() ? std::string::npos : AText.find(AFrom);
  if (at == std::string::npos) return;
  std::string result;
  result.reserve(AText.size() + AText.size() / 4);
  size_t from = 0;
  while (at != std::string::npos) {
    result.append(AText, from, at - from);
    result += ATo;
    from = at + AFrom.size();
    at = AText.find(AFrom, from);
  }
  result.append(AText, from, std::string::npos);
  AText = std::move(result);
}

std::string_view Trim(std::string_view AText) {
  size_t begin = 0;
  size_t end = AText.size();
  while (begin < end && static_cast<unsigned char>(AText[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(AText[end - 1]) <= 32) --end;
  return AText.substr(begin, end - begin);
}

size_t ReadPRI(std::string_view ALine, TBaseSysLogMessage& AMessage) {
  const size_t close = ALine.find('>');
  if (close == std::string_view::npos)
    throw ESyslogError("Invlaid Priority: " + std::string(ALine.substr(ALine.empty() ? 0 : 1)));
  const std::string_view text = close == 0 ? std::string_view() : ALine.substr(1, close - 1);
  int64_t pri = -1;
  if (!TryDecimal(text, pri) || pri < 0) throw ESyslogError("Invlaid Priority: " + std::string(text));
  if (pri > MaxSyslogPRI) throw ESyslogError(TUtilities::Format("Invalid Syslog PRI: %lld", static_cast<long long>(pri)));
  AMessage.SetPriority(static_cast<int>(pri));
  return close + 1;
}

std::string FormatTime(TDateTime AValue) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  TUtilities::DecodeDateTime(AValue, year, month, day, hour, minute, second, millisecond);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d.%.3d", year, month, day, hour, minute, second,
                millisecond);
  return buffer;
}

TTimeRead ReadTime(std::string_view AText, TDateTime& AValue) {
  // Year 1-4, month 6-7, day 9-10, hour 12-13, minute 15-16, second 18-19,
  // milliseconds 21-23.
  static constexpr std::pair<size_t, size_t> Fields[7] = {{1, 4},  {6, 2},  {9, 2}, {12, 2},
                                                          {15, 2}, {18, 2}, {21, 3}};
  int values[7] = {};
  for (int i = 0; i < 7; ++i) {
    int64_t value = 0;
    if (!TryDecimal(Copy(AText, Fields[i].first, Fields[i].second), value) || value < -99999 || value > 99999)
      return TTimeRead::trUnreadable;
    values[i] = static_cast<int>(value);
  }
  if (!TUtilities::TryEncodeDateTime(values[0], values[1], values[2], values[3], values[4], values[5], values[6],
                                     AValue))
    return TTimeRead::trImpossible;
  return TTimeRead::trOK;
}

TDateTime AddSpan(TDateTime AValue, TTimeSpan ASpan) {
  const int64_t milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(ASpan).count();
  return TUtilities::UnixMsToDateTime(TUtilities::DateTimeToUnixMs(AValue) + milliseconds);
}

}  // namespace SyslogFields
}  // namespace zor
