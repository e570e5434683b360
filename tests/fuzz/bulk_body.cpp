// Reads arbitrary bytes as a bulk request body with the test endpoint's
// strict reader: only its own error may escape, and every document it accepts
// must be a JSON object that the JSON library reads too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <nlohmann/json.hpp>

#include "support/BulkBody.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  try {
    const zor::test::TBulkBody parsed(body);
    for (const zor::test::TBulkBodyItem& item : parsed.Items()) {
      if (!nlohmann::json::accept(item.Document)) std::abort();
      if (!zor::test::TBulkBody::IsValidIndexName(item.Action->Index)) std::abort();
    }
  } catch (const zor::test::EBulkBodyError&) {
  }
  // The scanner and the library agree on what is JSON, except that the
  // library takes a raw NUL byte for the end of the text: JSON never holds
  // one (inside strings it must be escaped), so the scanner refuses any.
  const bool isJson = zor::test::TBulkBody::IsJson(body);
  if (body.find('\0') != std::string_view::npos) {
    if (isJson) std::abort();
  } else if (isJson != nlohmann::json::accept(body)) {
    std::abort();
  }
  return 0;
}
