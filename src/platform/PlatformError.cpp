#include "platform/PlatformError.h"

#include <cerrno>
#include <cstring>

namespace zor {

EPlatformError EPlatformError::FromErrno(const std::string& AWhat) { return FromErrno(AWhat, errno); }

EPlatformError EPlatformError::FromErrno(const std::string& AWhat, int AErrno) {
  return EPlatformError(AWhat + " failed with error " + std::to_string(AErrno) + ": " + std::strerror(AErrno),
                        AErrno);
}

}  // namespace zor
