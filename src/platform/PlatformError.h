#pragma once

#include <string>

#include "support/Errors.h"

namespace zor {

// An operating-system call failed. The message names the call and carries the
// system's error text.
class EPlatformError : public EZorError {
 public:
  explicit EPlatformError(const std::string& AMessage) : EZorError(AMessage) {}

  // "<AWhat> failed with error <errno>: <text>", for the current errno.
  [[nodiscard]] static EPlatformError FromErrno(const std::string& AWhat);
  [[nodiscard]] static EPlatformError FromErrno(const std::string& AWhat, int AErrno);
};

}  // namespace zor
