#include "management/ConfigRequest.h"

#include <cstdint>

#include "platform/ServicePaths.h"
#include "support/Utilities.h"

namespace zor {

namespace {

std::string ProgramVersion() {
  int32_t major = 0, minor = 0, release = 0, build = 0;
  (void)TUtilities::GetVersionInfo(ServicePaths().ProgramFile, major, minor, release, build);
  return TUtilities::Format("%d.%d.%d.%d", major, minor, release, build);
}

}  // namespace

const TJSONKeyTable<TConfigRequest>& TConfigRequest::Keys() {
  using TSelf = TConfigRequest;
  static const TJSONKeyTable<TSelf> table = [] {
    TJSONKeyTable<TSelf> t;
    t.String("hostName", &TSelf::FHostName)
        .String("hostIp", &TSelf::FHostIP)
        .String("uniqueId", &TSelf::FUniqueID)
        .Custom(
            "colectorType",
            [](const TSelf& ASelf) { return TJSONValue(static_cast<int>(ASelf.FCollectorType)); },
            [](TSelf& ASelf, const TJSONValue& AValue) {
              const std::string text = Json::Text(AValue);
              int32_t value = 0;
              if (!TUtilities::TryStrToInt(text, value)) throw EConfigError({}, "Invlid Collector Tyepe " + text);
              ASelf.FCollectorType = static_cast<TCollectorType>(value);
            },
            [](TSelf& ASelf) { ASelf.FCollectorType = TCollectorType::ctNone; })
        .String("colectorVersion", &TSelf::FCollectorVersion);
    return t;
  }();
  return table;
}

TConfigRequest::TConfigRequest() {
  Keys().SetDefaults(*this);
  FCollectorVersion = ProgramVersion();
}

}  // namespace zor
