// Reads arbitrary bytes as the IETF name=value form, then writes and re-reads
// the message. Only the system's own errors may escape the reader.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "syslog/IETFSysLogMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<zor::TIETFSysLogMessage> message;
  try {
    message = std::make_unique<zor::TIETFSysLogMessage>(text);
  } catch (const zor::EZorError&) {
    return 0;
  }
  (void)message->EncodedMessage();
  const zor::TIETFSysLogMessage again(message->ToString());
  zor::TIETFSysLogMessage fromJson;
  fromJson.SetAsJSONString(again.AsJSONString());
  return 0;
}
