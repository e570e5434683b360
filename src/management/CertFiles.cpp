#include "management/CertFiles.h"

#include <filesystem>
#include <system_error>

#include "platform/ServicePaths.h"

namespace zor {

namespace {

bool IsFile(const std::filesystem::path& APath) {
  std::error_code error;
  return std::filesystem::is_regular_file(APath, error);
}

}  // namespace

std::string LocateCertFile(const std::string& AFileName) {
  if (AFileName.empty()) return std::string();
  const std::filesystem::path name(AFileName);
  const std::filesystem::path home(ServicePaths().HomeDir);
  if (!name.has_parent_path() && IsFile(home / name)) return (home / name).string();
  if (IsFile(home / "Certs" / name)) return (home / "Certs" / name).string();
  if (IsFile(name)) return name.string();
  return std::string();
}

}  // namespace zor
