#include "platform/Terminal.h"

#include <unistd.h>

namespace zor {

bool IsTerminal(int AFd) { return isatty(AFd) == 1; }

}  // namespace zor
