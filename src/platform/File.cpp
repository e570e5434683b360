#include "platform/File.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zor {

namespace {

TFileIdentity IdentityFrom(const struct stat& AInfo) {
  TFileIdentity identity;
  identity.Device = static_cast<uint64_t>(AInfo.st_dev);
  identity.Inode = static_cast<uint64_t>(AInfo.st_ino);
  identity.Size = static_cast<uint64_t>(AInfo.st_size);
  identity.ModifiedSeconds = static_cast<int64_t>(AInfo.st_mtim.tv_sec);
  identity.ModifiedNanoseconds = static_cast<int64_t>(AInfo.st_mtim.tv_nsec);
  identity.Regular = S_ISREG(AInfo.st_mode);
  return identity;
}

}  // namespace

TFile::TFile(const std::string& APath, TMode AMode) : FPath(APath) {
  const int flags = AMode == TMode::fmRead ? O_RDONLY | O_CLOEXEC : O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC;
  FFd = ::open(APath.c_str(), flags, 0644);
  if (FFd < 0) throw EPlatformError::FromErrno("open " + APath);
}

TFile::~TFile() {
  if (FFd >= 0) ::close(FFd);
}

TFile::TFile(TFile&& AOther) noexcept : FPath(std::move(AOther.FPath)), FFd(AOther.FFd) { AOther.FFd = -1; }

std::optional<TFile> TFile::OpenIfExists(const std::string& APath) {
  try {
    return std::optional<TFile>(std::in_place, APath, TMode::fmRead);
  } catch (const EPlatformError& e) {
    if (e.ErrorCode() == ENOENT || e.ErrorCode() == ENOTDIR) return std::nullopt;
    throw;
  }
}

std::optional<TFileIdentity> TFile::IdentityOf(const std::string& APath) {
  struct stat info {};
  if (::stat(APath.c_str(), &info) != 0) return std::nullopt;
  return IdentityFrom(info);
}

std::optional<int64_t> TFile::CreationTimeOf(const std::string& APath) {
  struct statx info {};
  if (::statx(AT_FDCWD, APath.c_str(), 0, STATX_BTIME | STATX_MTIME, &info) != 0) return std::nullopt;
  if ((info.stx_mask & STATX_BTIME) != 0) return static_cast<int64_t>(info.stx_btime.tv_sec);
  return static_cast<int64_t>(info.stx_mtime.tv_sec);
}

TFileIdentity TFile::Identity() const {
  struct stat info {};
  if (::fstat(FFd, &info) != 0) throw EPlatformError::FromErrno("fstat " + FPath);
  return IdentityFrom(info);
}

size_t TFile::ReadAt(void* ABuffer, size_t ASize, uint64_t AOffset) const {
  auto* buffer = static_cast<char*>(ABuffer);
  size_t done = 0;
  while (done < ASize) {
    const ssize_t n = ::pread(FFd, buffer + done, ASize - done, static_cast<off_t>(AOffset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EPlatformError::FromErrno("pread " + FPath + " at offset " + std::to_string(AOffset + done));
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

void TFile::Append(std::string_view AData) const {
  while (!AData.empty()) {
    const ssize_t written = ::write(FFd, AData.data(), AData.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      throw EPlatformError::FromErrno("write " + FPath);
    }
    AData.remove_prefix(static_cast<size_t>(written));
  }
}

void TFile::LockExclusive() const {
  while (::flock(FFd, LOCK_EX) != 0)
    if (errno != EINTR) throw EPlatformError::FromErrno("flock " + FPath);
}

}  // namespace zor
