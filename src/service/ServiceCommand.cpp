#include <cstdio>

#include "service/ProgramOptions.h"

namespace zor {

int RunService(const TProgramOptions&) {
  std::fprintf(stderr, "the service host is not built yet\n");
  return 1;
}

int RunInstall(const TProgramOptions&) {
  std::fprintf(stderr, "--install is not built yet\n");
  return 1;
}

int RunUninstall(const TProgramOptions&) {
  std::fprintf(stderr, "--uninstall is not built yet\n");
  return 1;
}

}  // namespace zor
