// Fuzz target for the value paths of a render context: any input gives values
// or nothing, never a crash; and for a well-formed event the quick reading,
// which stops after the System element, gives exactly what reading the whole
// event gives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string_view>

#include "collection/EvtObjects.h"

namespace {

std::unique_ptr<zor::TEvtRenderContext> Context(std::initializer_list<std::string_view> APaths) {
  auto context = std::make_unique<zor::TEvtRenderContext>();
  for (std::string_view path : APaths) context->Paths.push_back(*zor::TEvtRenderContext::ParsePath(path));
  return context;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  // Only System paths: the quick reading applies.
  static const auto system =
      Context({"Event/System/Provider/@Name", "Event/System/EventRecordID", "Event/System/TimeCreated/@SystemTime"});
  // The same paths and one outside System: the whole event is read.
  static const auto whole =
      Context({"Event/System/Provider/@Name", "Event/System/EventRecordID", "Event/System/TimeCreated/@SystemTime",
               "Event/EventData/Data"});
  const std::string_view xml(reinterpret_cast<const char*>(AData), ASize);
  const zor::TEvtRenderContext::TValues quick = system->Values(xml);
  const zor::TEvtRenderContext::TValues full = whole->Values(xml);
  // The whole reading gives nothing for a malformed event; only a well-formed
  // one can be compared.
  bool wellFormed = false;
  for (const auto& value : full) wellFormed = wellFormed || value.has_value();
  if (!wellFormed) return 0;
  for (size_t i = 0; i < quick.size(); ++i)
    if (quick[i] != full[i]) std::abort();
  return 0;
}
