#pragma once

#include <filesystem>
#include <string>

namespace zor::test {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  std::filesystem::path operator/(const std::string& AName) const { return FPath / AName; }

 private:
  std::filesystem::path FPath;
};

}  // namespace zor::test
