// Parses arbitrary bytes as an RFC 3164 line, then writes every form of the
// result. Malformed lines must fail with the system's own errors only.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "syslog/BSDSysLogMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  zor::TBSDSysLogMessage message;
  try {
    message.SetEncodedMessage(line);
  } catch (const zor::EZorError&) {
    return 0;
  }
  const std::string encoded = message.EncodedMessage();
  const zor::TBSDSysLogMessage fromForm(message.ToString());
  (void)fromForm.EncodedMessage();
  zor::TBSDSysLogMessage fromJson;
  fromJson.SetAsJSONString(message.AsJSONString());
  fromJson.SetAsJSONFileString(message.AsJSONFileString());
  return 0;
}
