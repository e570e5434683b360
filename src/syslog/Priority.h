#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "support/Json.h"
#include "syslog/SyslogGlobal.h"

namespace zor {

// Facility and severity of one syslog message. Every message owns one; a
// plain value (copyable), used by one thread at a time.
class TPriority {
 public:
  TPriority() = default;  // sfLocalUseSeven, slDebug
  // Throws ESyslogError "Invalid Syslog PRI: %d" outside 0..191.
  explicit TPriority(int APriority) { SetPriority(APriority); }
  TPriority(TSyslogFacility AFacility, TSyslogSeverity ASeverity) : FFacility(AFacility), FSeverity(ASeverity) {}

  [[nodiscard]] TSyslogFacility Facility() const { return FFacility; }
  void SetFacility(TSyslogFacility AValue) { FFacility = AValue; }
  [[nodiscard]] TSyslogSeverity Severity() const { return FSeverity; }
  void SetSeverity(TSyslogSeverity AValue) { FSeverity = AValue; }
  [[nodiscard]] std::string FacilityString() const { return SyslogFacilityToStr(FFacility); }
  [[nodiscard]] std::string SeverityString() const { return SyslogSeverityToStr(FSeverity); }

  // Facility = AValue div 8, severity = AValue mod 8. Throws ESyslogError
  // "Invalid Syslog PRI: %d" outside 0..191 (the priority is then unchanged).
  void SetPriority(int AValue);
  // The PRI as decimal text, "<%d>" with AIncludeParentheses.
  [[nodiscard]] std::string ToString(bool AIncludeParentheses) const;

  // {"facility": word, "severity": word}; the caller owns the result.
  [[nodiscard]] std::unique_ptr<TJSONObject> ToJSONObject() const;
  // Applies "facility" and "severity" when present (display words; anything
  // else reads as sfLocalUseSeven / slDebug).
  void FromJSONObject(const TJSONObject& AValue);
  [[nodiscard]] static std::unique_ptr<TPriority> GetFromJSONObject(const TJSONObject& AJSONObject);
  [[nodiscard]] std::string AsJSONString() const;
  // Throws EJSONError / EJSONTypeError for text that is not a JSON object.
  void SetAsJSONString(std::string_view AValue);

  bool operator==(const TPriority&) const = default;

 private:
  TSyslogFacility FFacility = TSyslogFacility::sfLocalUseSeven;
  TSyslogSeverity FSeverity = TSyslogSeverity::slDebug;
};

}  // namespace zor
