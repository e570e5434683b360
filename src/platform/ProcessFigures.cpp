#include "platform/ProcessFigures.h"

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace zor {

namespace {

int64_t CountOpenFiles() {
  DIR* folder = opendir("/proc/self/fd");
  if (folder == nullptr) return -1;
  int64_t count = 0;
  while (const dirent* entry = readdir(folder))
    if (entry->d_name[0] != '.') ++count;
  closedir(folder);
  // The descriptor of the listing itself is not the process's own.
  return count > 0 ? count - 1 : 0;
}

}  // namespace

uint64_t TProcessFigures::HeapBytesInUse() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<uint64_t>(info.uordblks + info.hblkhd);
}

TProcessFigures TProcessFigures::Read() {
  TProcessFigures figures;
  const long page = sysconf(_SC_PAGESIZE);
  const long ticks = sysconf(_SC_CLK_TCK);
  {
    std::ifstream statm("/proc/self/statm");
    int64_t size = 0, resident = 0;
    if (statm >> size >> resident && page > 0) figures.ResidentBytes = resident * page;
  }
  {
    // Fields after the command name, which sits in parentheses and may hold
    // blanks: state is field 3, utime 14, stime 15, num_threads 20.
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close != std::string::npos) {
      std::istringstream fields(text.substr(close + 1));
      std::string field;
      int64_t utime = -1, stime = -1;
      for (int index = 3; fields >> field; ++index) {
        if (index == 14) utime = std::strtoll(field.c_str(), nullptr, 10);
        if (index == 15) stime = std::strtoll(field.c_str(), nullptr, 10);
        if (index == 20) {
          figures.Threads = std::strtoll(field.c_str(), nullptr, 10);
          break;
        }
      }
      if (utime >= 0 && stime >= 0 && ticks > 0) figures.CpuSeconds = static_cast<double>(utime + stime) / ticks;
    }
  }
  figures.OpenFiles = CountOpenFiles();
  return figures;
}

}  // namespace zor
