#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zor {

// The account and the machine the process runs on, and name look-ups, as the
// system's account database and resolver give them. Failures come back as
// the system's error numbers, for the caller to word.
//
// No state; any thread may call any operation.
class THostIdentity {
 public:
  THostIdentity() = delete;

  // The effective user's id.
  [[nodiscard]] static uint32_t UserId();
  // The effective user's account name; nothing with AError set to the look-up's
  // error number, or to 0 when the id has no account name.
  [[nodiscard]] static std::optional<std::string> UserName(int& AError);
  // The effective user's home folder in the account database, if it has one.
  [[nodiscard]] static std::optional<std::string> UserHome();
  // The host name; nothing with AError set to errno when it cannot be read.
  [[nodiscard]] static std::optional<std::string> HostName(int& AError);
  // The resolver's canonical name of AHost, if it has one.
  [[nodiscard]] static std::optional<std::string> CanonicalName(const std::string& AHost);
  // The name of the IPv4 address AAddress (dotted quad); the address itself
  // when it has no name. Nothing with AError set to the resolver's error
  // code (EAI_NONAME for a text that is no IPv4 address).
  [[nodiscard]] static std::optional<std::string> NameOfAddress(const std::string& AAddress, int& AError);
  // The resolver's text for one of its error codes.
  [[nodiscard]] static std::string LookupErrorText(int AError);
};

}  // namespace zor
