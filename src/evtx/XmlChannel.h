#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "evtx/ChannelStore.h"

namespace zor {

// An event to append to an XML channel.
struct TNewEvent {
  std::string Channel;
  std::string Provider;
  uint32_t EventId = 0;  // 0 to 65535
  uint32_t Level = 4;    // 0 to 255
  // EventData fields in order; an empty name gives an unnamed Data element.
  std::vector<std::pair<std::string, std::string>> Data;
  std::string Computer;
  uint64_t TimeCreated = 0;  // FILETIME
  uint32_t ProcessId = 0;
  uint32_t ThreadId = 0;
};

// The event as Windows' EvtRender renders it, with record id ARecordId.
// Throws EChannelError for an event id or level out of range or an empty
// provider.
[[nodiscard]] std::string RenderNewEvent(const TNewEvent& AEvent, uint64_t ARecordId);

// An appendable channel file: one rendered event per line, CR and LF inside an
// event written as "&#13;" and "&#10;". A record's id is its line's own
// EventRecordID, as the line was written: dumps, queries, bookmarks and
// readers all see that one. Lines put together from elsewhere may repeat ids
// or go backwards; readers keep their place by the line, so each line is
// read once. Appending gives the new event the id after the highest one in
// the file.
class TXmlChannel {
 public:
  // Appends AEvent to AFile (created when missing) with the record id after the
  // highest one in the file, and returns that id. Writers are serialised by an
  // exclusive flock on the file, so concurrent programs never share an id nor
  // interleave lines; the line is written with one write call, so readers see
  // either nothing of it or the whole line. Throws EChannelError on failure.
  static uint64_t Append(const std::filesystem::path& AFile, const TNewEvent& AEvent);

  // The ids of the first and the last whole line of AFile that hold one
  // (a line still being written does not count), or nothing for a missing
  // file or one without such a line. Reads the file's start and its end, not
  // the lines between (unless no line near the end holds an id). Throws
  // EChannelError when the file cannot be read.
  [[nodiscard]] static std::optional<TRecordSpan> RecordSpan(const std::filesystem::path& AFile);
};

// A record source over an XML channel file, line by line in file order. It
// reads on from where it stopped while the file only grows; in a replaced or
// shrunk file it finds the last line read again (see IRecordSource::StartAfter).
// A line still being written (no line end yet, not a whole event) waits for
// the next call. Lines that are not an event with an EventRecordID are skipped.
[[nodiscard]] std::unique_ptr<IRecordSource> OpenXmlSource(const std::filesystem::path& AFile);

}  // namespace zor
