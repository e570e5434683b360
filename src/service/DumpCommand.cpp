#include <cstdio>

#include "service/ProgramOptions.h"

namespace zor {

int RunDump(const TProgramOptions&, const std::string&, const std::string&) {
  std::fprintf(stderr, "dump: the event log store is not built yet\n");
  return 1;
}

}  // namespace zor
