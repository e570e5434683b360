// Answers of the configuration server: JSON parsing, the type dispatch, the
// collector and pending-collector readers, and the written form of whatever
// reads, which must read back to the same response.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "management/ConfigResponseFactory.h"
#include "support/JSONConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zor;
  // Reader lists compare in quadratic time at worst; keep answers to what a
  // configuration plausibly holds.
  if (size > 64 * 1024) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<TBaseConfigResponse> response;
  try {
    response = TConfigResponseFactory::GetResponse(text);
  } catch (const EConfigResponseError&) {
    return 0;
  } catch (const EConfigError&) {
    return 0;
  }
  // Any other exception escapes and is a finding.
  const std::string written = response->AsJSONString();
  if (TConfigResponseFactory::GetResponse(written)->AsJSONString() != written) std::abort();
  return 0;
}
