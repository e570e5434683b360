#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace zor::test {

// A file of its own in the temporary folder for a fuzz target to write each
// input to; removed when the program ends, so replays leave nothing behind.
class TScratchFile {
 public:
  explicit TScratchFile(const std::string& AStem) {
    FPath = (std::filesystem::temp_directory_path() / (AStem + "_XXXXXX")).string();
    const int fd = mkstemp(FPath.data());
    if (fd >= 0) close(fd);
  }
  ~TScratchFile() {
    std::error_code error;
    std::filesystem::remove(FPath, error);
  }
  TScratchFile(const TScratchFile&) = delete;
  TScratchFile& operator=(const TScratchFile&) = delete;

  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

}  // namespace zor::test
