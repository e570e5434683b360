#pragma once

namespace zor {

// Whether file descriptor AFd is a terminal (standard error: 2). Any thread.
[[nodiscard]] bool IsTerminal(int AFd);

}  // namespace zor
