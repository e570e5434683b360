#include "syslog/DestinationHost.h"

#include "support/JSONKeyTable.h"

namespace zor {

namespace {

const TJSONKeyTable<TDestinationHost>& Keys() {
  static const TJSONKeyTable<TDestinationHost> table = [] {
    TJSONKeyTable<TDestinationHost> t;
    t.StringProperty("name", &TDestinationHost::Name, &TDestinationHost::SetName)
        .StringProperty("host", &TDestinationHost::Host, &TDestinationHost::SetHost)
        .IntegerProperty("port", &TDestinationHost::Port, &TDestinationHost::SetPort, uint16_t{0});
    return t;
  }();
  return table;
}

}  // namespace

std::unique_ptr<TJSONObject> TDestinationHost::ToJSONObject() const { return Keys().ToJSONObject(*this); }

void TDestinationHost::FromJSONObject(const TJSONObject& AValue) { Keys().Read(*this, AValue); }

std::unique_ptr<TDestinationHost> TDestinationHost::GetFromJSONObject(const TJSONObject& AValue) {
  auto destination = std::make_unique<TDestinationHost>();
  destination->FromJSONObject(AValue);
  return destination;
}

std::string TDestinationHost::AsJSONString() const { return Json::Compact(*ToJSONObject()); }

void TDestinationHost::SetAsJSONString(std::string_view AValue) { FromJSONObject(Json::ParseObject(AValue)); }

}  // namespace zor
