#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/PlatformError.h"

namespace zor {

// What the file system says about a file: which file it is (device and
// inode), how long it is and when it last changed.
struct TFileIdentity {
  uint64_t Device = 0;
  uint64_t Inode = 0;
  uint64_t Size = 0;
  int64_t ModifiedSeconds = 0;
  int64_t ModifiedNanoseconds = 0;
  bool Regular = false;  // a regular file (not a folder, device, ...)
  [[nodiscard]] bool SameFile(const TFileIdentity& AOther) const {
    return Device == AOther.Device && Inode == AOther.Inode;
  }
};

// One open file, closed when the object goes. Reads and writes are positioned
// or appended by the system (pread, O_APPEND writes), so nothing is cached
// here and other processes may grow the file while it is open. Every failure
// throws EPlatformError naming the call and the file, with the system's error
// number as its ErrorCode (ENOENT for a missing file). Not thread-safe; may
// be moved.
class TFile {
 public:
  enum class TMode : uint8_t {
    fmRead = 0,          // read only
    fmAppendCreate = 1,  // read and append, created (0644) when missing
  };

  TFile(const std::string& APath, TMode AMode);
  ~TFile();
  TFile(TFile&& AOther) noexcept;
  TFile& operator=(TFile&&) = delete;
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;

  // The file at APath opened for reading, or nothing when APath names nothing
  // (ENOENT, ENOTDIR). Throws EPlatformError for any other failure.
  [[nodiscard]] static std::optional<TFile> OpenIfExists(const std::string& APath);
  // What the file system says about APath (following links), or nothing when
  // it cannot be looked at.
  [[nodiscard]] static std::optional<TFileIdentity> IdentityOf(const std::string& APath);
  // When APath's file was created, in seconds since 1970 (UTC): its birth time,
  // or its last modification on file systems that keep none; nothing when it
  // cannot be looked at.
  [[nodiscard]] static std::optional<int64_t> CreationTimeOf(const std::string& APath);

  [[nodiscard]] TFileIdentity Identity() const;
  // Reads up to ASize bytes at AOffset; returns the count read (less only at
  // the end of the file).
  size_t ReadAt(void* ABuffer, size_t ASize, uint64_t AOffset) const;
  // Writes all of AData at the end of the file (fmAppendCreate).
  void Append(std::string_view AData) const;
  // Waits for an exclusive advisory lock (flock) on the file, held until the
  // file is closed.
  void LockExclusive() const;

  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
  int FFd = -1;
};

}  // namespace zor
