#pragma once

#include <string>

#include "platform/Errors.h"

namespace zor {

// An operating-system call failed. The message names the call and carries the
// system's error text; ErrorCode is the system's error number (0 when the
// failure was not the system's).
class EPlatformError : public EZorError {
 public:
  explicit EPlatformError(const std::string& AMessage, int AErrorCode = 0)
      : EZorError(AMessage), FErrorCode(AErrorCode) {}

  // "<AWhat> failed with error <errno>: <text>", for the current errno.
  [[nodiscard]] static EPlatformError FromErrno(const std::string& AWhat);
  [[nodiscard]] static EPlatformError FromErrno(const std::string& AWhat, int AErrno);

  [[nodiscard]] int ErrorCode() const { return FErrorCode; }

 private:
  int FErrorCode;
};

}  // namespace zor
