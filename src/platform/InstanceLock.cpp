#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>


namespace zor {

TInstanceLock::TInstanceLock(const std::string& AFolder, const std::string& ALockFileName) : FFd(-1) {
  const std::string path = AFolder + "/" + ALockFileName;
  FFd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (FFd < 0) throw EPlatformError::FromErrno("Opening the lock file " + path);
  if (flock(FFd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(FFd);
    if (error == EWOULDBLOCK)
      throw EInstanceRunning("Another instance of the service is already running on " + AFolder);
    throw EPlatformError::FromErrno("Locking " + path, error);
  }
}

TInstanceLock::~TInstanceLock() { close(FFd); }

}  // namespace zor
