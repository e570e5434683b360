// Reads arbitrary bytes as the answer to a bulk request: the streaming reader
// with its depth bound, and the sorting of a whole exchange, which must give
// exactly one result per document sent whatever the answer says. Whenever the
// quick path for all-accepted answers takes the text, the full reading must
// give the same response.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "beats/BulkResponse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t items = 0;
  try {
    const zor::TBulkResponse response = zor::TBulkResponse::Read(text);
    items = response.Items().size();
    for (const zor::TBulkItemResult& item : response.Items())
      if (item.Status < 0 || item.Status > 999) std::abort();
  } catch (const zor::EBulkResponseError&) {
  }
  if (const auto quick = zor::TBulkResponse::ReadAllAccepted(text)) {
    zor::TBulkResponse full;
    try {
      full = zor::TBulkResponse::ReadItems(text);
    } catch (const zor::EBulkResponseError&) {
      std::abort();
    }
    if (full.Took() != quick->Took() || full.Errors() || full.Items().size() != quick->Items().size()) std::abort();
    for (size_t i = 0; i < full.Items().size(); ++i) {
      const zor::TBulkItemResult& a = full.Items()[i];
      const zor::TBulkItemResult& b = quick->Items()[i];
      if (a.Outcome != b.Outcome || a.Status != b.Status || a.ErrorType != b.ErrorType || a.ErrorReason != b.ErrorReason)
        std::abort();
    }
  }
  for (const size_t documents : {items, items + 1, size_t{3}}) {
    const zor::TBulkResponse sorted = zor::TBulkResponse::FromExchange(200, "", text, documents);
    if (sorted.Items().size() != documents) std::abort();
  }
  return 0;
}
