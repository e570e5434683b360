// Feeds arbitrary bytes to the HTTP client's response handling as a raw
// response: header lines up to the first empty line (status lines, interim
// answers, Content-Type with any parameters), then the body, decoded in the
// declared charset and in every charset the client knows. Text decoded from
// a known charset must come out as valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "beats/HttpResponse.h"

namespace {

bool IsUtf8(std::string_view AText) {
  size_t i = 0;
  while (i < AText.size()) {
    const auto c = static_cast<unsigned char>(AText[i]);
    const size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > AText.size()) return false;
    for (size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(AText[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  zor::THttpResponse response;
  size_t pos = 0;
  while (pos < input.size()) {
    const size_t end = input.find('\n', pos);
    const std::string_view line = input.substr(pos, end == std::string_view::npos ? end : end - pos + 1);
    pos = end == std::string_view::npos ? input.size() : end + 1;
    if (line == "\r\n" || line == "\n") break;
    response.AddHeaderLine(line);
    (void)zor::THttpResponse::CharsetOf(line);
  }
  if (!response.AppendBody(input.substr(pos))) std::abort();  // far below the limit
  if (response.StatusCode() < -1 || response.StatusCode() > 999) std::abort();
  (void)response.BodyText();
  for (const char* charset : {"iso-8859-1", "windows-1252", "utf-16", "utf-16le", "utf-16be"})
    if (!IsUtf8(zor::THttpResponse::DecodeText(response.RawBody(), charset))) std::abort();
  return 0;
}
