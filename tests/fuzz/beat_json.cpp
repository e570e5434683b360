// Parses arbitrary bytes as JSON text and applies it to a winlogbeat document
// and to both syslog messages (the JSON layer's parser, depth bound and
// through-text reading, and every FromJSONObject). Only the system's own
// errors may escape.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "beats/WinLogBeat.h"
#include "syslog/BSDSysLogMessage.h"
#include "syslog/IETFSysLogMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  zor::TJSONValue value;
  try {
    value = zor::Json::Parse(text);
  } catch (const zor::EZorError&) {
    return 0;
  }
  (void)zor::Json::Compact(value);
  (void)zor::Json::PrettyText(value);
  try {
    zor::TWinLogBeat beat;
    beat.FromJSONObject(value);
    (void)beat.AsJSONString();
  } catch (const zor::EZorError&) {
  }
  try {
    zor::TBSDSysLogMessage bsd;
    bsd.FromJSONObject(value);
    (void)bsd.EncodedMessage();
    (void)bsd.AsJSONString();
  } catch (const zor::EZorError&) {
  }
  try {
    zor::TIETFSysLogMessage ietf;
    ietf.FromJSONObject(value);
    (void)ietf.EncodedMessage();
    ietf.FromJSONFileObject(value);
    (void)ietf.AsJSONFileString();
  } catch (const zor::EZorError&) {
  }
  return 0;
}
