// Fuzz target: an XML channel file of arbitrary bytes, read line by line as a
// reader of the channel does, and its record span as the event log API gives
// it. The span must name the ids of the first and the last record the reader
// gets, whatever the bytes. The first byte sets how far the rest is repeated
// (up to 128 KiB), so that the span's look from the end crosses its windows.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ScratchFile.h"
#include "evtx/XmlChannel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const zor::test::TScratchFile scratch("xml_channel_fuzz");
  const std::string& path = scratch.Path();
  if (size < 2) return 0;
  const std::string piece(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string content;
  const size_t length = piece.size() + static_cast<size_t>(data[0]) * 512;
  while (content.size() < length) content += piece;
  content.resize(length);
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(content.data(), 1, content.size(), file);
  std::fclose(file);

  std::vector<zor::TChannelRecord> records;
  const auto source = zor::OpenXmlSource(path);
  while (source->Read(1000, records) > 0) {
  }
  const std::optional<zor::TRecordSpan> span = zor::TXmlChannel::RecordSpan(path);
  if (records.empty() != !span.has_value()) std::abort();
  if (span && (span->Oldest != records.front().RecordId || span->Newest != records.back().RecordId)) std::abort();
  return 0;
}
