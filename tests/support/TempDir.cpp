#include "support/TempDir.h"

#include <stdlib.h>

#include <stdexcept>
#include <system_error>

namespace zor::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zor-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
  FPath = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

}  // namespace zor::test
