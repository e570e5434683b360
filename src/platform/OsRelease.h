#pragma once

#include <string>

namespace zor {

// The running system's own name: PRETTY_NAME of /etc/os-release (or of
// /usr/lib/os-release), else "Linux". Any thread.
[[nodiscard]] std::string OperatingSystemName();

}  // namespace zor
