// Counts the records the service's readers get from channels of an event log
// root: each channel is read as a subscriber follows it, in file order from
// the oldest record on, which gives what a dump of every record gives.
//
// usage: bench_channel_count ROOT CHANNEL...
//   Prints "CHANNEL COUNT" per channel and "total COUNT".
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <vector>

#include "evtx/ChannelStore.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s ROOT CHANNEL...\n", argv[0]);
    return 1;
  }
  const zor::TChannelStore store(argv[1]);
  uint64_t total = 0;
  std::vector<zor::TChannelRecord> records;
  for (int i = 2; i < argc; ++i) {
    uint64_t count = 0;
    try {
      const std::unique_ptr<zor::IRecordSource> source = store.OpenChannel(argv[i]);
      while (true) {
        records.clear();
        if (source->Read(1000, records) == 0) break;
        count += records.size();
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: %s\n", argv[i], e.what());
      return 1;
    }
    std::printf("%s %llu\n", argv[i], static_cast<unsigned long long>(count));
    total += count;
  }
  std::printf("total %llu\n", static_cast<unsigned long long>(total));
  return 0;
}
