#include "syslog/SyslogFramer.h"

#include <cstdint>
#include <utility>

namespace zor {

namespace {

bool IsBlank(std::string_view AText) {
  for (const char c : AText)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  return true;
}

bool IsContinuation(unsigned char AByte) { return (AByte & 0xC0) == 0x80; }

}  // namespace

TSyslogFramer::TSyslogFramer(TOptions AOptions)
    : FOptions(std::move(AOptions)), FHasForwardHeader(!IsBlank(FOptions.ForwardHeader)) {}

TSyslogDelimiter TSyslogFramer::DelimiterFor(std::string_view AFraming) const {
  // The override texts are literal backslash sequences, not control characters.
  if (AFraming == "T") return TSyslogDelimiter::sdlNone;
  if (AFraming == "\\r\\n") return TSyslogDelimiter::sdlNewLine;
  if (AFraming == "\\n") return TSyslogDelimiter::sdlLineFeed;
  if (AFraming == "\\r") return TSyslogDelimiter::sdlCarriageReturn;
  return FOptions.Delimiter;
}

std::string TSyslogFramer::Frame(std::string_view AText, std::string_view AFraming, bool ALast) const {
  std::string body = ToSingleByte(AText);
  std::string result;
  if (FHasForwardHeader) {
    result = ToSingleByte(FOptions.ForwardHeader);
    result += ' ';
    result += ToSingleByte(FOptions.ForwardIPList);
    result += ' ';
  }
  if (FOptions.Transport == TSysLogTransport::sltUDP) return result + body;

  const TSyslogDelimiter delimiter = DelimiterFor(AFraming);
  if (delimiter == TSyslogDelimiter::sdlNone) {
    result += std::to_string(body.size());
    result += ' ';
    return result + body;
  }
  result += body;
  if (ALast && FOptions.NoDelimOnLast && !FOptions.Persistent) return result;
  switch (delimiter) {
    case TSyslogDelimiter::sdlNewLine: result += "\r\n"; break;
    case TSyslogDelimiter::sdlNull: result += '\0'; break;
    case TSyslogDelimiter::sdlCarriageReturn: result += '\r'; break;
    case TSyslogDelimiter::sdlLineFeed: result += '\n'; break;
    case TSyslogDelimiter::sdlNone: break;
  }
  return result;
}

std::string TSyslogFramer::ToSingleByte(std::string_view AUtf8) {
  std::string result;
  result.reserve(AUtf8.size());
  size_t i = 0;
  while (i < AUtf8.size()) {
    const auto lead = static_cast<unsigned char>(AUtf8[i]);
    if (lead < 0x80) {
      result += static_cast<char>(lead);
      ++i;
      continue;
    }
    size_t length = 0;
    uint32_t codePoint = 0;
    uint32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, codePoint = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, codePoint = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, codePoint = lead & 0x07, minimum = 0x10000;
    }
    bool valid = length != 0 && i + length <= AUtf8.size();
    for (size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(AUtf8[i + k]);
      valid = IsContinuation(next);
      codePoint = (codePoint << 6) | (next & 0x3F);
    }
    valid = valid && codePoint >= minimum && codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
    if (!valid) {
      result += '?';
      ++i;
      continue;
    }
    if (codePoint <= 0xFF)
      result += static_cast<char>(codePoint);
    else
      result += codePoint >= 0x10000 ? "??" : "?";
    i += length;
  }
  return result;
}

}  // namespace zor
