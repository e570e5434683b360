#include "platform/HostIdentity.h"

#include <arpa/inet.h>
#include <limits.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace zor {

namespace {

// The account entry of the effective user; AError is the look-up's error.
template <typename TUse>
auto WithAccount(int& AError, TUse&& AUse) -> decltype(AUse(std::declval<const struct passwd&>())) {
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[4096];
  AError = getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found);
  if (AError != 0 || found == nullptr) return std::nullopt;
  return AUse(*found);
}

}  // namespace

uint32_t THostIdentity::UserId() { return static_cast<uint32_t>(geteuid()); }

std::optional<std::string> THostIdentity::UserName(int& AError) {
  return WithAccount(AError, [](const struct passwd& AEntry) -> std::optional<std::string> {
    if (AEntry.pw_name == nullptr) return std::nullopt;
    return std::string(AEntry.pw_name);
  });
}

std::optional<std::string> THostIdentity::UserHome() {
  int error = 0;
  return WithAccount(error, [](const struct passwd& AEntry) -> std::optional<std::string> {
    if (AEntry.pw_dir == nullptr) return std::nullopt;
    return std::string(AEntry.pw_dir);
  });
}

std::optional<std::string> THostIdentity::HostName(int& AError) {
  char buffer[HOST_NAME_MAX + 1] = {};
  AError = 0;
  if (gethostname(buffer, sizeof buffer - 1) != 0) {
    AError = errno;
    return std::nullopt;
  }
  return std::string(buffer);
}

std::optional<std::string> THostIdentity::CanonicalName(const std::string& AHost) {
  struct addrinfo hints {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_flags = AI_CANONNAME;
  struct addrinfo* info = nullptr;
  if (getaddrinfo(AHost.c_str(), nullptr, &hints, &info) != 0) return std::nullopt;
  std::optional<std::string> name;
  if (info != nullptr && info->ai_canonname != nullptr) name = info->ai_canonname;
  freeaddrinfo(info);
  return name;
}

std::optional<std::string> THostIdentity::NameOfAddress(const std::string& AAddress, int& AError) {
  struct sockaddr_in address {};
  address.sin_family = AF_INET;
  if (inet_pton(AF_INET, AAddress.c_str(), &address.sin_addr) != 1) {
    AError = EAI_NONAME;
    return std::nullopt;
  }
  char host[1025] = {};
  char service[32] = {};
  AError = getnameinfo(reinterpret_cast<const struct sockaddr*>(&address), sizeof address, host, sizeof host, service,
                       sizeof service, NI_NUMERICSERV);
  if (AError != 0) return std::nullopt;
  return std::string(host);
}

std::string THostIdentity::LookupErrorText(int AError) { return gai_strerror(AError); }

}  // namespace zor
