#pragma once

#include <string>

#include "support/Json.h"

namespace zor {

// The status command's text: the health document of a running service
// (TMetricsExposition::HealthJson) as a few aligned tables for a person at a
// terminal: the pipeline's state, one row per reader, one row per
// destination. Keys missing from the document show as "-". A pure function.
class TStatusReport {
 public:
  TStatusReport() = delete;

  // AHealth: the parsed body of GET /health; AURL: where it came from.
  [[nodiscard]] static std::string Format(const TJSONValue& AHealth, const std::string& AURL);
};

}  // namespace zor
