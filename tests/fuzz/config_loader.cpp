// Configuration file loading: byte order marks, JSON parsing, every
// configuration class's FromJSONObject, the checker's mending, and the save
// and load round trip.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/Collector.h"
#include "config/ConfigChecker.h"
#include "support/Json.h"
#include "support/TextFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zor;
  // Reader lists compare in quadratic time at worst; keep inputs to what a
  // configuration file plausibly holds.
  if (size > 64 * 1024) return 0;
  const std::string text = TextFile::DecodeText(std::string_view(reinterpret_cast<const char*>(data), size));
  TJSONValue document;
  try {
    document = Json::Parse(text);
  } catch (const EJSONError&) {
    return 0;
  }

  const auto checked = TConfigChecker::CheckDocument(document);

  TCollector collector;
  bool loaded = false;
  try {
    collector.FromJSONObject(document);
    loaded = true;
  } catch (const EConfigError&) {
  }
  // The checker reports a problem whenever loading fails.
  if (!loaded && checked.Problems.empty()) std::abort();
  if (!loaded) return 0;

  // What is saved loads back to the same configuration and saves the same text.
  const std::string saved = Json::PrettyText(*collector.ToJSONObject());
  TCollector reloaded;
  reloaded.FromJSONObject(Json::Parse(saved));
  if (Json::PrettyText(*reloaded.ToJSONObject()) != saved) std::abort();
  // The one setting a save drops on purpose: the APM address while APM is off.
  if ((collector.APMEnabled() || collector.APMServerIP().empty()) && TCollector::HasChanged(collector, reloaded)) {
    std::abort();
  }
  // A copy is the same configuration.
  if (TCollector::HasChanged(collector, TCollector(collector))) std::abort();
  return 0;
}
