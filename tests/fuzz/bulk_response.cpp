// Reads arbitrary bytes as the answer to a bulk request: the streaming reader
// with its depth bound, and the sorting of a whole exchange, which must give
// exactly one result per document sent whatever the answer says.
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
  for (const size_t documents : {items, items + 1, size_t{3}}) {
    const zor::TBulkResponse sorted = zor::TBulkResponse::FromExchange(200, "", text, documents);
    if (sorted.Items().size() != documents) std::abort();
  }
  return 0;
}
