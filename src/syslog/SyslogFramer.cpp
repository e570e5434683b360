#include "syslog/SyslogFramer.h"
#include "support/Utilities.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace zor {

namespace {

bool IsContinuation(unsigned char AByte) { return (AByte & 0xC0) == 0x80; }

// Length of the run of ASCII bytes at the start of AText, eight bytes at a
// time.
size_t AsciiRun(std::string_view AText) {
  const char* const data = AText.data();
  const size_t size = AText.size();
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, data + i, sizeof word);
    if ((word & 0x8080808080808080ull) != 0) break;
  }
  while (i < size && static_cast<unsigned char>(data[i]) < 0x80) ++i;
  return i;
}

std::string ForwardPrefix(const TSyslogFramer::TOptions& AOptions) {
  if (TUtilities::IsBlank(AOptions.ForwardHeader)) return {};
  std::string prefix;
  TSyslogFramer::AppendSingleByte(prefix, AOptions.ForwardHeader);
  prefix += ' ';
  TSyslogFramer::AppendSingleByte(prefix, AOptions.ForwardIPList);
  prefix += ' ';
  return prefix;
}

}  // namespace

TSyslogFramer::TSyslogFramer(TOptions AOptions)
    : FOptions(std::move(AOptions)), FForwardPrefix(ForwardPrefix(FOptions)) {}

TSyslogDelimiter TSyslogFramer::DelimiterFor(std::string_view AFraming) const {
  // The override texts are literal backslash sequences, not control characters.
  if (AFraming == "T") return TSyslogDelimiter::sdlNone;
  if (AFraming == "\\r\\n") return TSyslogDelimiter::sdlNewLine;
  if (AFraming == "\\n") return TSyslogDelimiter::sdlLineFeed;
  if (AFraming == "\\r") return TSyslogDelimiter::sdlCarriageReturn;
  return FOptions.Delimiter;
}

std::string TSyslogFramer::Frame(std::string_view AText, std::string_view AFraming, bool ALast) const {
  std::string result;
  result.reserve(FForwardPrefix.size() + AText.size() + 24);
  AppendFrame(result, AText, AFraming, ALast);
  return result;
}

void TSyslogFramer::AppendFrame(std::string& AOut, std::string_view AText, std::string_view AFraming,
                                bool ALast) const {
  AOut += FForwardPrefix;
  // A datagram, and a RELP command, frame the message themselves.
  if (FOptions.Transport == TSysLogTransport::sltUDP || FOptions.Transport == TSysLogTransport::sltRELP) {
    AppendSingleByte(AOut, AText);
    return;
  }

  const TSyslogDelimiter delimiter = DelimiterFor(AFraming);
  if (delimiter == TSyslogDelimiter::sdlNone) {
    // The count is of the bytes on the wire, so a text with characters beyond
    // ASCII is encoded before it is counted.
    if (AsciiRun(AText) == AText.size()) {
      AOut += std::to_string(AText.size());
      AOut += ' ';
      AOut += AText;
    } else {
      const std::string body = ToSingleByte(AText);
      AOut += std::to_string(body.size());
      AOut += ' ';
      AOut += body;
    }
    return;
  }
  AppendSingleByte(AOut, AText);
  if (ALast && FOptions.NoDelimOnLast && !FOptions.Persistent) return;
  switch (delimiter) {
    case TSyslogDelimiter::sdlNewLine: AOut += "\r\n"; break;
    case TSyslogDelimiter::sdlNull: AOut += '\0'; break;
    case TSyslogDelimiter::sdlCarriageReturn: AOut += '\r'; break;
    case TSyslogDelimiter::sdlLineFeed: AOut += '\n'; break;
    case TSyslogDelimiter::sdlNone: break;
  }
}

std::string TSyslogFramer::ToSingleByte(std::string_view AUtf8) {
  std::string result;
  result.reserve(AUtf8.size());
  AppendSingleByte(result, AUtf8);
  return result;
}

void TSyslogFramer::AppendSingleByte(std::string& AOut, std::string_view AUtf8) {
  size_t i = 0;
  while (i < AUtf8.size()) {
    // ASCII goes across as it is, a run at a time.
    const size_t run = AsciiRun(AUtf8.substr(i));
    AOut.append(AUtf8.data() + i, run);
    i += run;
    if (i >= AUtf8.size()) break;

    const auto lead = static_cast<unsigned char>(AUtf8[i]);
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
      AOut += '?';
      ++i;
      continue;
    }
    if (codePoint <= 0xFF)
      AOut += static_cast<char>(codePoint);
    else
      AOut += codePoint >= 0x10000 ? "??" : "?";
    i += length;
  }
}

}  // namespace zor
