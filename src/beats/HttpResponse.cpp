#include "beats/HttpResponse.h"

#include <array>
#include <cctype>
#include <cstdint>

#include "support/Utilities.h"

namespace zor {

namespace {

std::string_view TrimView(std::string_view AText) {
  while (!AText.empty() && static_cast<unsigned char>(AText.front()) <= ' ') AText.remove_prefix(1);
  while (!AText.empty() && static_cast<unsigned char>(AText.back()) <= ' ') AText.remove_suffix(1);
  return AText;
}

std::string Lower(std::string_view AText) {
  std::string result(AText);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

bool StartsWithNoCase(std::string_view AText, std::string_view APrefix) {
  return AText.size() >= APrefix.size() && Lower(AText.substr(0, APrefix.size())) == APrefix;
}

// Windows-1252 differs from ISO-8859-1 only in 0x80..0x9F; the five bytes it
// leaves undefined map to themselves, as browsers do.
constexpr std::array<char16_t, 32> Windows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string SingleByteToUtf8(std::string_view ABytes, bool AWindows1252) {
  std::u16string units;
  units.reserve(ABytes.size());
  for (char c : ABytes) {
    const auto byte = static_cast<unsigned char>(c);
    units.push_back(AWindows1252 && byte >= 0x80 && byte < 0xA0 ? Windows1252High[byte - 0x80] : char16_t{byte});
  }
  return TUtilities::Utf16ToUtf8(units);
}

std::string Utf16ToUtf8(std::string_view ABytes, bool ABigEndian) {
  if (ABytes.size() >= 2) {
    const auto b0 = static_cast<unsigned char>(ABytes[0]);
    const auto b1 = static_cast<unsigned char>(ABytes[1]);
    if ((b0 == 0xFF && b1 == 0xFE) || (b0 == 0xFE && b1 == 0xFF)) {
      ABigEndian = b0 == 0xFE;
      ABytes.remove_prefix(2);
    }
  }
  std::u16string units;
  units.reserve(ABytes.size() / 2 + 1);
  for (size_t i = 0; i + 1 < ABytes.size(); i += 2) {
    const auto hi = static_cast<unsigned char>(ABytes[ABigEndian ? i : i + 1]);
    const auto lo = static_cast<unsigned char>(ABytes[ABigEndian ? i + 1 : i]);
    units.push_back(static_cast<char16_t>(hi << 8 | lo));
  }
  if (ABytes.size() % 2 != 0) units.push_back(u'\uFFFD');
  return TUtilities::Utf16ToUtf8(units);
}

}  // namespace

void THttpResponse::Clear() {
  FStatusCode = -1;
  FStatusLine.clear();
  FCharset.clear();
  FBody.clear();
}

void THttpResponse::AddHeaderLine(std::string_view ALine) {
  const std::string_view line = TrimView(ALine);
  if (StartsWithNoCase(line, "http/")) {
    // "HTTP/1.1 200 OK" or "HTTP/2 200": the code follows the first blank.
    const size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return;
    const std::string_view rest = line.substr(blank + 1);
    if (rest.size() < 3 || !std::isdigit(static_cast<unsigned char>(rest[0])) ||
        !std::isdigit(static_cast<unsigned char>(rest[1])) || !std::isdigit(static_cast<unsigned char>(rest[2])) ||
        (rest.size() > 3 && rest[3] != ' '))
      return;
    FStatusCode = (rest[0] - '0') * 100 + (rest[1] - '0') * 10 + (rest[2] - '0');
    FStatusLine.assign(line);
    FCharset.clear();
    return;
  }
  if (FStatusCode < 0) return;
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  if (Lower(TrimView(line.substr(0, colon))) == "content-type") FCharset = CharsetOf(line.substr(colon + 1));
}

bool THttpResponse::AppendBody(std::string_view AData) {
  if (AData.size() > MaxBodyBytes - FBody.size()) return false;
  FBody.append(AData);
  return true;
}

std::string THttpResponse::CharsetOf(std::string_view AContentType) {
  // Parameters follow the media type, each after a ";": name=value, the value
  // a token or a quoted string.
  size_t pos = AContentType.find(';');
  while (pos != std::string_view::npos) {
    std::string_view rest = AContentType.substr(pos + 1);
    const size_t next = rest.find(';');
    std::string_view parameter = TrimView(rest.substr(0, next));
    const size_t equals = parameter.find('=');
    if (equals != std::string_view::npos && Lower(TrimView(parameter.substr(0, equals))) == "charset") {
      std::string_view value = TrimView(parameter.substr(equals + 1));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
      return Lower(TrimView(value));
    }
    pos = next == std::string_view::npos ? next : pos + 1 + next;
  }
  return {};
}

std::string THttpResponse::DecodeText(std::string_view ABytes, std::string_view ACharset) {
  if (ACharset == "iso-8859-1" || ACharset == "latin1" || ACharset == "iso8859-1" || ACharset == "l1" ||
      ACharset == "iso_8859-1")
    return SingleByteToUtf8(ABytes, false);
  if (ACharset == "windows-1252" || ACharset == "cp1252") return SingleByteToUtf8(ABytes, true);
  if (ACharset == "utf-16le") return Utf16ToUtf8(ABytes, false);
  // Without a byte-order mark, UTF-16 is big-endian (RFC 2781).
  if (ACharset == "utf-16be" || ACharset == "utf-16") return Utf16ToUtf8(ABytes, true);
  return std::string(ABytes);
}

}  // namespace zor
