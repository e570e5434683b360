#include "platform/FileReplacer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/PlatformError.h"

namespace zor {

namespace {

// Closes its descriptor when it goes.
class TDescriptor {
 public:
  explicit TDescriptor(int AFd) : FFd(AFd) {}
  ~TDescriptor() {
    if (FFd >= 0) ::close(FFd);
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  [[nodiscard]] int Get() const { return FFd; }
  // Closes now; the system's error number, or 0.
  [[nodiscard]] int Close() {
    const int fd = FFd;
    FFd = -1;
    return ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int FFd;
};

int WriteAll(int AFd, std::string_view AText) {
  size_t written = 0;
  while (written < AText.size()) {
    const ssize_t count = ::write(AFd, AText.data() + written, AText.size() - written);
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    written += static_cast<size_t>(count);
  }
  return 0;
}

}  // namespace

void TFileReplacer::Replace(const std::string& APath, std::string_view AText,
                            const std::function<void()>& AInPlace) const {
  const std::string temporary = APath + ".tmp";
  const auto fail = [&](std::string_view ACall, int AError) {
    ::unlink(temporary.c_str());
    std::string what(ACall);
    what.append(" ").append(APath);
    throw EPlatformError::FromErrno(what, AError);
  };
  {
    TDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.Get() < 0) fail("open", errno);
    int error = Fault(TStep::rsWrite);
    if (error == 0) error = WriteAll(fd.Get(), AText);
    if (error != 0) fail("write", error);
    error = Fault(TStep::rsFlush);
    if (error == 0 && ::fsync(fd.Get()) != 0) error = errno;
    if (error == 0) error = fd.Close();
    if (error != 0) fail("fsync", error);
  }
  int error = Fault(TStep::rsRename);
  if (error == 0 && ::rename(temporary.c_str(), APath.c_str()) != 0) error = errno;
  if (error != 0) fail("rename", error);
  if (AInPlace) AInPlace();

  std::filesystem::path folder = std::filesystem::path(APath).parent_path();
  if (folder.empty()) folder = std::filesystem::path(".");
  error = Fault(TStep::rsFlushFolder);
  if (error == 0) {
    TDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0 || ::fsync(fd.Get()) != 0) error = errno;
  }
  if (error != 0) {
    std::string what("fsync folder of ");
    what.append(APath);
    throw EPlatformError::FromErrno(what, error);
  }
}

}  // namespace zor
