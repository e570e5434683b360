#pragma once

#include <atomic>
#include <cstdint>

namespace zor {

// What one reader did, counted since the process started (the reader of the
// next start-up with the same name goes on counting in the same object).
// Written by the reader's thread, read from any thread: relaxed atomics.
struct TReaderCounters {
  TReaderCounters() = default;
  TReaderCounters(const TReaderCounters&) = delete;
  TReaderCounters& operator=(const TReaderCounters&) = delete;

  // Records read from the channel, excluded ones included.
  std::atomic<uint64_t> RecordsRead{0};
  // Records an exclusion expression dropped.
  std::atomic<uint64_t> RecordsExcluded{0};
  // Batches handed to the processor.
  std::atomic<uint64_t> Batches{0};
  // The record id of the saved position (0 before the first).
  std::atomic<uint64_t> BookmarkRecordId{0};
  // Records of the channel after the saved position, as last looked at.
  std::atomic<uint64_t> RecordsBehind{0};
  // TimeCreated of the last record read, in seconds since the Unix epoch
  // (0 before the first).
  std::atomic<double> LastEventTime{0};
};

}  // namespace zor
