#include <cstdio>

#include "service/ProgramOptions.h"

namespace zor {

int RunCheckConfig(const TProgramOptions&, const std::string&) {
  std::fprintf(stderr, "check-config: the configuration classes are not built yet\n");
  return 1;
}

}  // namespace zor
