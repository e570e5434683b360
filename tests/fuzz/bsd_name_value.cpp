// Reads arbitrary bytes as the BSD name=value form, then writes and re-reads
// the message. Only the system's own errors may escape the reader.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "syslog/BSDSysLogMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<zor::TBSDSysLogMessage> message;
  try {
    message = std::make_unique<zor::TBSDSysLogMessage>(text);
  } catch (const zor::EZorError&) {
    return 0;
  }
  (void)message->EncodedMessage();
  const zor::TBSDSysLogMessage again(message->ToString());
  (void)again.AsJSONString();
  return 0;
}
