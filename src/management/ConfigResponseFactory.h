#pragma once

#include <memory>
#include <string_view>

#include "management/BaseConfigResponse.h"

namespace zor {

// Reads an answer of the configuration server into its kind of response.
// Stateless; any thread.
class TConfigResponseFactory {
 public:
  TConfigResponseFactory() = delete;

  // The response AJsonString describes; the caller owns it. Raises
  // EConfigResponseError "Invalid Json String: TEXT" (text that is not JSON,
  // or JSON that is not an object; long text is cut short),
  // "Config response type value not present", "Invalid config response type
  // value: VALUE." (any "type" other than exactly "collector" or
  // "pendingCollector"), or what the kind's FromJSONObject raises.
  [[nodiscard]] static std::unique_ptr<TBaseConfigResponse> GetResponse(std::string_view AJsonString);
};

}  // namespace zor
