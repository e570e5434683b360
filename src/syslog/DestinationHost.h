#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "support/Json.h"

namespace zor {

// One entry of a message's send-to list: a sender name, a host and a port.
// A plain value; the message that holds it owns it.
class TDestinationHost {
 public:
  TDestinationHost() = default;
  TDestinationHost(std::string AName, std::string AHost, uint16_t APort)
      : FName(std::move(AName)), FHost(std::move(AHost)), FPort(APort) {}

  [[nodiscard]] const std::string& Name() const { return FName; }
  void SetName(const std::string& AValue) { FName = AValue; }
  [[nodiscard]] const std::string& Host() const { return FHost; }
  void SetHost(const std::string& AValue) { FHost = AValue; }
  [[nodiscard]] uint16_t Port() const { return FPort; }
  void SetPort(uint16_t AValue) { FPort = AValue; }

  // {"name", "host", "port" (a number)}; the caller owns the result.
  [[nodiscard]] std::unique_ptr<TJSONObject> ToJSONObject() const;
  // Applies the keys present; "port" is read through its text, and anything
  // that is not an integer from 0 to 65535 reads as 0.
  void FromJSONObject(const TJSONObject& AValue);
  [[nodiscard]] static std::unique_ptr<TDestinationHost> GetFromJSONObject(const TJSONObject& AValue);
  [[nodiscard]] std::string AsJSONString() const;
  void SetAsJSONString(std::string_view AValue);

  bool operator==(const TDestinationHost&) const = default;

 private:
  std::string FName;
  std::string FHost;
  uint16_t FPort = 0;
};

}  // namespace zor
