#include "platform/ProgramIntegrity.h"

#include <sys/stat.h>

#include <cstdio>

#include "platform/PlatformError.h"

namespace zor {

void VerifyProgramFile(const std::string& AProgramFile) {
  if (AProgramFile.empty()) throw EPlatformError("Program file check failed: the program's own file is unknown");
  struct stat file {};
  if (stat(AProgramFile.c_str(), &file) != 0)
    throw EPlatformError::FromErrno("Program file check of " + AProgramFile);
  if (!S_ISREG(file.st_mode))
    throw EPlatformError("Program file check failed: " + AProgramFile + " is not a regular file");
  if ((file.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(file.st_mode & 07777));
    throw EPlatformError("Program file check failed: " + AProgramFile + " is writable by group or others (mode " +
                         mode + "); refusing to start");
  }
}

}  // namespace zor
