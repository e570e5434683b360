#pragma once

#include <string>

#include "platform/PlatformError.h"

namespace zor {

// Another process holds the single-instance lock of the data folder.
class EInstanceRunning : public EPlatformError {
 public:
  explicit EInstanceRunning(const std::string& AMessage) : EPlatformError(AMessage) {}
};

// Keeps a second copy of the service off the same data folder: an exclusive
// advisory lock (flock) on a lock file in that folder, held for the life of
// the object and released by the system if the process dies.
class TInstanceLock {
 public:
  // Creates the lock file AFolder/ALockFileName if needed and locks it.
  // Throws EInstanceRunning when another process holds it, EPlatformError
  // when the file cannot be created or locked.
  TInstanceLock(const std::string& AFolder, const std::string& ALockFileName);
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

 private:
  int FFd;
};

}  // namespace zor
