// Reads arbitrary bytes as a bulk request body with the test endpoint's
// strict reader: only its own error may escape, and the reader's JSON scanner
// must agree with the JSON library on every document it accepts and on the
// whole body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <nlohmann/json.hpp>

#include "support/BulkBody.h"

namespace {

// Whether the JSON library refuses AText only for a number beyond the range
// of a double, which the grammar (and so the scanner) allows.
bool OnlyNumberOverflow(std::string_view AText) {
  try {
    const nlohmann::json value = nlohmann::json::parse(AText);
    (void)value;
  } catch (const nlohmann::json::out_of_range& e) {
    return e.id == 406;
  } catch (const nlohmann::json::exception&) {
  }
  return false;
}

// The scanner and the library agree on AText, except that the library takes
// a raw NUL byte for the end of the text (JSON never holds one: inside
// strings it must be escaped, so the scanner refuses any) and refuses numbers
// beyond a double's range.
void CheckAgreement(std::string_view AText) {
  const bool isJson = zor::test::TBulkBody::IsJson(AText);
  if (AText.find('\0') != std::string_view::npos) {
    if (isJson) std::abort();
  } else if (isJson != nlohmann::json::accept(AText) && !(isJson && OnlyNumberOverflow(AText))) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  try {
    const zor::test::TBulkBody parsed(body);
    for (const zor::test::TBulkBodyItem& item : parsed.Items()) {
      if (!zor::test::TBulkBody::IsJson(item.Document)) std::abort();
      CheckAgreement(item.Document);
      if (!zor::test::TBulkBody::IsValidIndexName(item.Action->Index)) std::abort();
      if (item.Action->Id.size() > 512) std::abort();
    }
  } catch (const zor::test::EBulkBodyError&) {
  }
  CheckAgreement(body);
  return 0;
}
