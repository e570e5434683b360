// Parses arbitrary bytes as an RFC 5424 line, then writes every form of the
// result and reads them back. Malformed lines must fail with the system's own
// errors only.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "syslog/IETFSysLogMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  zor::TIETFSysLogMessage message;
  try {
    message.SetEncodedMessage(line);
  } catch (const zor::EZorError&) {
    return 0;
  }
  (void)message.EncodedMessage();
  (void)message.Header().EncodedValue();
  const zor::TIETFSysLogMessage fromForm(message.ToString());
  (void)fromForm.EncodedMessage();
  zor::TIETFSysLogMessage fromJson;
  fromJson.SetAsJSONString(message.AsJSONString());
  fromJson.SetAsJSONFileString(message.AsJSONFileString());
  return 0;
}
