#include "syslog/Priority.h"

#include "support/Utilities.h"

namespace zor {

void TPriority::SetPriority(int AValue) {
  if (AValue < 0 || AValue > MaxSyslogPRI) throw ESyslogError(TUtilities::Format("Invalid Syslog PRI: %d", AValue));
  FFacility = IntToSyslogFacility(AValue / 8);
  FSeverity = IntToSyslogSeverity(AValue % 8);
}

std::string TPriority::ToString(bool AIncludeParentheses) const {
  // Both codes are clamped to their tables, so the PRI cannot exceed 191.
  const int pri = SyslogFacilityToInt(FFacility) * 8 + SyslogSeverityToInt(FSeverity);
  return TUtilities::Format(AIncludeParentheses ? "<%d>" : "%d", pri);
}

std::unique_ptr<TJSONObject> TPriority::ToJSONObject() const {
  auto object = std::make_unique<TJSONObject>(TJSONValue::object());
  Json::Append(*object, "facility", FacilityString());
  Json::Append(*object, "severity", SeverityString());
  return object;
}

void TPriority::FromJSONObject(const TJSONObject& AValue) {
  if (const TJSONValue* facility = Json::Find(AValue, "facility")) FFacility = StrToSyslogFacility(Json::Text(*facility));
  if (const TJSONValue* severity = Json::Find(AValue, "severity")) FSeverity = StrToSyslogSeverity(Json::Text(*severity));
}

std::unique_ptr<TPriority> TPriority::GetFromJSONObject(const TJSONObject& AJSONObject) {
  auto priority = std::make_unique<TPriority>();
  priority->FromJSONObject(AJSONObject);
  return priority;
}

std::string TPriority::AsJSONString() const { return Json::Compact(*ToJSONObject()); }

void TPriority::SetAsJSONString(std::string_view AValue) { FromJSONObject(Json::ParseObject(AValue)); }

}  // namespace zor
