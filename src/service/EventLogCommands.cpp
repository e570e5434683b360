#include <cstdio>

#include "service/ProgramOptions.h"

namespace zor {

int RunChannels(const TProgramOptions&) {
  std::fprintf(stderr, "channels: the event log store is not built yet\n");
  return 1;
}

int RunWriteEvent(const TProgramOptions&, const TWriteEventArgs&) {
  std::fprintf(stderr, "write-event: the event log store is not built yet\n");
  return 1;
}

}  // namespace zor
