#include "evtx/ReadOnlyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "evtx/EvtxError.h"

namespace zor {

void TReadOnlyFile::Open(const std::string& APath) {
  Close();
  FPath = APath;
  const int fd = ::open(APath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EEvtxFileError("cannot open " + APath + ": " + std::strerror(errno));
  FFd = fd;
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw EEvtxFileError("cannot read " + APath + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) throw EEvtxFileError(APath + " is not a regular file");
}

void TReadOnlyFile::Close() {
  if (FFd >= 0) ::close(FFd);
  FFd = -1;
}

uint64_t TReadOnlyFile::Size() const {
  struct stat st {};
  if (::fstat(FFd, &st) != 0) throw EEvtxFileError("cannot read " + FPath + ": " + std::strerror(errno));
  return static_cast<uint64_t>(st.st_size);
}

size_t TReadOnlyFile::ReadAt(uint8_t* ABuffer, size_t ASize, uint64_t AOffset) const {
  size_t done = 0;
  while (done < ASize) {
    const ssize_t n = ::pread(FFd, ABuffer + done, ASize - done, static_cast<off_t>(AOffset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EEvtxFileError("cannot read " + FPath + " at offset " + std::to_string(AOffset + done) + ": " +
                               std::strerror(errno),
                           AOffset + done);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace zor
