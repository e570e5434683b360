// The dump command: every record of an event log, rendered, one per line.
#include <cstdio>
#include <string>

#include "evtx/EvtxReader.h"
#include "service/ProgramOptions.h"

namespace zor {

namespace {

// Writes every record of the .evtx file APath to standard output; returns the
// number of records written. Damaged chunks and records are reported on
// standard error and skipped.
uint64_t DumpEvtxFile(const std::string& APath) {
  TEvtxReaderOptions options;
  options.EveryRecord = true;
  options.OnIssue = [](const TEvtxIssue& AIssue) { std::fprintf(stderr, "%s\n", AIssue.Message.c_str()); };
  TEvtxReader reader(APath, std::move(options));
  std::string line;
  uint64_t count = 0;
  TEvtxRecord record;
  while (reader.Next(record)) {
    line.clear();
    AppendOneLine(line, record.Xml);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stdout);
    ++count;
  }
  return count;
}

}  // namespace

int RunDump(const TProgramOptions&, const std::string& ASource, const std::string&) {
  uint64_t count = 0;
  try {
    count = DumpEvtxFile(ASource);
  } catch (const EZorError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "dump: %s\n", e.what());
    return 1;
  }
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "dump: cannot write to standard output\n");
    return 1;
  }
  std::fprintf(stderr, "%llu records\n", static_cast<unsigned long long>(count));
  return 0;
}

}  // namespace zor
