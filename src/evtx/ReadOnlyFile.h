#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/File.h"

namespace zor {

// A file opened read-only (TFile), closed when the object goes. Reads are
// positioned, so nothing is cached here and the file may grow while open.
// Throws EEvtxFileError on any failure. Not thread-safe.
class TReadOnlyFile {
 public:
  TReadOnlyFile() = default;
  TReadOnlyFile(const TReadOnlyFile&) = delete;
  TReadOnlyFile& operator=(const TReadOnlyFile&) = delete;

  // Opens APath (closing any file open before). Throws when it is missing,
  // unreadable or not a regular file.
  void Open(const std::string& APath);
  void Close();
  bool IsOpen() const { return FFile.has_value(); }

  // Current size of the open file.
  uint64_t Size() const;
  // Reads up to ASize bytes at AOffset; returns the count read (less at the end of the file).
  size_t ReadAt(uint8_t* ABuffer, size_t ASize, uint64_t AOffset) const;

 private:
  std::optional<TFile> FFile;
  std::string FPath;
};

}  // namespace zor
