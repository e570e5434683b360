#include "evtx/XmlChannel.h"

#include <cstring>
#include <optional>
#include <string_view>

#include "evtx/EventQuery.h"
#include "evtx/EvtxReader.h"
#include "evtx/OutBuffer.h"
#include "evtx/ValueFormat.h"
#include "platform/File.h"

namespace zor {

namespace {

// A line longer than this is not an event we wrote; it is skipped.
constexpr size_t MaxLineBytes = 16 * 1024 * 1024;
constexpr size_t BlockBytes = 64 * 1024;

// Where ANeedle first stands in AText, or npos. memmem: find's
// first-character scan would stop at every "<" of an event.
size_t FindText(std::string_view AText, std::string_view ANeedle) {
  // Also keeps an empty view's null pointer away from memmem.
  if (AText.size() < ANeedle.size()) return std::string_view::npos;
  const void* found = memmem(AText.data(), AText.size(), ANeedle.data(), ANeedle.size());
  return found ? static_cast<size_t>(static_cast<const char*>(found) - AText.data()) : std::string_view::npos;
}

std::optional<uint64_t> RecordIdOf(std::string_view ALine) {
  constexpr std::string_view Tag = "<EventRecordID>";
  const size_t start = FindText(ALine, Tag);
  if (start == std::string_view::npos) return std::nullopt;
  size_t i = start + Tag.size();
  uint64_t id = 0;
  size_t digits = 0;
  while (i < ALine.size() && ALine[i] >= '0' && ALine[i] <= '9') {
    const uint64_t digit = static_cast<uint64_t>(ALine[i] - '0');
    if (id > (UINT64_MAX - digit) / 10) return std::nullopt;
    id = id * 10 + digit;
    ++i;
    ++digits;
  }
  if (digits == 0 || i >= ALine.size() || ALine[i] != '<') return std::nullopt;
  return id;
}

uint64_t WrittenTimeOf(std::string_view ALine) {
  for (std::string_view tag : {std::string_view("SystemTime='"), std::string_view("SystemTime=\"")}) {
    const size_t start = FindText(ALine, tag);
    if (start == std::string_view::npos) continue;
    const size_t valueStart = start + tag.size();
    const size_t end = ALine.find(tag.back(), valueStart);
    if (end == std::string_view::npos) return 0;
    return ParseEventTime(ALine.substr(valueStart, end - valueStart)).value_or(0);
  }
  return 0;
}

std::string_view TrimLine(std::string_view ALine) {
  while (!ALine.empty() && (ALine.back() == '\r' || ALine.back() == ' ' || ALine.back() == '\t')) ALine.remove_suffix(1);
  while (!ALine.empty() && (ALine.front() == ' ' || ALine.front() == '\t')) ALine.remove_prefix(1);
  if (ALine.substr(0, 3) == "\xEF\xBB\xBF") ALine.remove_prefix(3);
  return ALine;
}

// The stored line back to the rendered event: line breaks were written as
// character references so that one event fits one line.
std::string DecodeLine(std::string_view ALine) {
  std::string xml;
  xml.reserve(ALine.size());
  size_t i = 0;
  while (i < ALine.size()) {
    const size_t amp = ALine.find("&#", i);
    if (amp == std::string_view::npos) break;
    xml.append(ALine.substr(i, amp - i));
    const std::string_view rest = ALine.substr(amp);
    if (rest.starts_with("&#13;") || rest.starts_with("&#xD;") || rest.starts_with("&#xd;")) {
      xml.push_back('\r');
      i = amp + 5;
    } else if (rest.starts_with("&#10;") || rest.starts_with("&#xA;") || rest.starts_with("&#xa;")) {
      xml.push_back('\n');
      i = amp + 5;
    } else {
      xml.append("&#");
      i = amp + 2;
    }
  }
  xml.append(ALine.substr(i));
  return xml;
}

// Calls AOnLine(line, lineStart) for every whole line of AFile from AOffset on
// and returns the offset past the last line handed over. AOnLine returns
// false to stop after that line. A last line without line end counts when it holds a whole
// event (a file written by hand); otherwise it is still being written.
template <typename TOnLine>
uint64_t ForEachLine(const TFile& AFile, uint64_t AOffset, TOnLine&& AOnLine) {
  std::string pending;
  uint64_t pendingStart = AOffset;
  uint64_t readAt = AOffset;
  bool skipping = false;  // inside an over-long line
  char block[BlockBytes];
  while (true) {
    const size_t got = AFile.ReadAt(block, sizeof block, readAt);
    if (got == 0) break;
    readAt += static_cast<uint64_t>(got);
    std::string_view data(block, static_cast<size_t>(got));
    while (!data.empty()) {
      const size_t newline = data.find('\n');
      if (newline == std::string_view::npos) {
        if (!skipping) pending.append(data);
        if (pending.size() > MaxLineBytes) {
          pending.clear();
          skipping = true;
        }
        break;
      }
      // A line that lies whole in the block is handed over where it is.
      const bool inBlock = !skipping && pending.empty();
      const std::string_view blockLine = data.substr(0, newline);
      if (!skipping && !inBlock) pending.append(blockLine);
      data.remove_prefix(newline + 1);
      const uint64_t lineEnd = readAt - data.size();
      const bool keepGoing = skipping || pending.size() > MaxLineBytes ||
                             AOnLine(inBlock ? blockLine : std::string_view(pending), pendingStart);
      skipping = false;
      pending.clear();
      pendingStart = lineEnd;
      if (!keepGoing) return lineEnd;
    }
  }
  if (!skipping && !pending.empty() && TrimLine(pending).ends_with("</Event>")) {
    AOnLine(std::string_view(pending), pendingStart);
    return readAt;
  }
  return pendingStart;
}

// Runs AWork, turning the failure of a file operation into a channel error.
template <typename TWork>
auto AsChannelError(TWork&& AWork) {
  try {
    return AWork();
  } catch (const EPlatformError& e) {
    throw EChannelError(std::string("XML channel: ") + e.what());
  }
}

uint64_t HighestIdIn(const TFile& AFile) {
  uint64_t highest = 0;
  ForEachLine(AFile, 0, [&](std::string_view ALine, uint64_t) {
    if (auto id = RecordIdOf(ALine); id && *id > highest) highest = *id;
    return true;
  });
  return highest;
}

// The start of the first line that begins at or after AOffset (the file's
// size when none does).
uint64_t LineStartFrom(const TFile& AFile, uint64_t AOffset) {
  if (AOffset == 0) return 0;
  char block[BlockBytes];
  for (uint64_t at = AOffset - 1;;) {
    const size_t got = AFile.ReadAt(block, sizeof block, at);
    if (got == 0) return at;
    if (const void* newline = std::memchr(block, '\n', got))
      return at + static_cast<uint64_t>(static_cast<const char*>(newline) - block) + 1;
    at += got;
  }
}

// The id of the last whole line of AFile that holds one. Looks at a window
// at the end of the file, four times larger each time it finds none there.
std::optional<uint64_t> LastIdIn(const TFile& AFile) {
  const uint64_t size = AFile.Identity().Size;
  for (uint64_t window = BlockBytes;; window *= 4) {
    const uint64_t start = LineStartFrom(AFile, size > window ? size - window : 0);
    std::optional<uint64_t> last;
    ForEachLine(AFile, start, [&](std::string_view ALine, uint64_t) {
      if (const auto id = RecordIdOf(ALine)) last = id;
      return true;
    });
    if (last || window >= size) return last;
  }
}

class TXmlSource final : public TFileRecordSource {
 public:
  explicit TXmlSource(std::filesystem::path AFile) : FFile(std::move(AFile)) {}

  std::optional<TRecordPlace> StartAtEnd() override {
    return AsChannelError([&]() -> std::optional<TRecordPlace> {
      FAfter.reset();
      FPositioned = false;
      const std::optional<TFile> file = OpenFile();
      if (!file) return std::nullopt;
      std::optional<TRecordPlace> last;
      FOffset = ForEachLine(*file, 0, [&](std::string_view ALine, uint64_t AStart) {
        if (const auto id = RecordIdOf(ALine)) last = TRecordPlace{*id, AStart};
        return true;
      });
      FAfter = last;
      FIdentity = file->Identity();
      FPositioned = true;
      return FAfter;
    });
  }

  size_t Read(size_t AMax, std::vector<TChannelRecord>& ARecords) override {
    return AsChannelError([&]() -> size_t {
      if (AMax == 0) return 0;
      const std::optional<TFile> file = OpenFile();
      if (!file) {
        FPositioned = false;
        return 0;
      }
      if (!FPositioned || !StillTheSameFile(*file)) Position(*file);
      size_t count = 0;
      FOffset = ForEachLine(*file, FOffset, [&](std::string_view ALine, uint64_t AStart) {
        const auto id = RecordIdOf(ALine);
        if (!id) return true;
        const std::string_view line = TrimLine(ALine);
        ARecords.push_back({*id, WrittenTimeOf(line), AStart, DecodeLine(line)});
        FAfter = ARecords.back().Place();
        return ++count < AMax;
      });
      return count;
    });
  }

 private:
  // The file open for reading, or nothing when it does not exist.
  std::optional<TFile> OpenFile() const { return TFile::OpenIfExists(FFile.string()); }

  // The same file, grown or not: same identity, not shorter than where we
  // stopped, and a line end just before that place.
  bool StillTheSameFile(const TFile& AFile) const {
    const TFileIdentity identity = AFile.Identity();
    if (!identity.SameFile(FIdentity)) return false;
    return identity.Size >= FOffset && LineStartsAt(AFile, FOffset);
  }

  static bool LineStartsAt(const TFile& AFile, uint64_t AOffset) {
    if (AOffset == 0) return true;
    char last = 0;
    return AFile.ReadAt(&last, 1, AOffset - 1) == 1 && last == '\n';
  }

  // Sets FOffset after FAfter in the file as it is now: after the line at
  // FAfter's offset when that line still holds FAfter's id, else after the
  // first line with that id, else at the first line with a greater id.
  void Position(const TFile& AFile) {
    FIdentity = AFile.Identity();
    FPositioned = true;
    FOffset = 0;
    if (!FAfter) return;
    if (FAfter->Offset && LineStartsAt(AFile, *FAfter->Offset)) {
      bool found = false;
      const uint64_t end = ForEachLine(AFile, *FAfter->Offset, [&](std::string_view ALine, uint64_t) {
        found = RecordIdOf(ALine) == FAfter->RecordId;
        return false;
      });
      if (found) {
        FOffset = end;
        return;
      }
    }
    const uint64_t wanted = FAfter->RecordId;
    std::optional<uint64_t> greater;
    const uint64_t end = ForEachLine(AFile, 0, [&](std::string_view ALine, uint64_t AStart) {
      const auto id = RecordIdOf(ALine);
      if (!id || *id < wanted) return true;
      if (*id > wanted) greater = AStart;
      return false;
    });
    // ForEachLine stopped past the line with the id, or before the greater one.
    FOffset = greater.value_or(end);
  }

  const std::filesystem::path FFile;
  uint64_t FOffset = 0;                // start of the first line not read yet
  TFileIdentity FIdentity;  // of the file FOffset was taken in
};

void AppendEscaped(std::string& AOut, std::string_view AText, bool AAttribute) {
  for (char c : AText) {
    switch (c) {
      case '&': AOut += "&amp;"; break;
      case '<': AOut += "&lt;"; break;
      case '>': AOut += "&gt;"; break;
      case '\'': AAttribute ? AOut += "&apos;" : AOut += c; break;
      case '"': AAttribute ? AOut += "&quot;" : AOut += c; break;
      default: AOut += c;
    }
  }
}

}  // namespace

std::string RenderNewEvent(const TNewEvent& AEvent, uint64_t ARecordId) {
  if (AEvent.Provider.empty()) throw EChannelError("an event needs a provider name");
  if (AEvent.EventId > 65535) throw EChannelError("event id " + std::to_string(AEvent.EventId) + " is out of range 0-65535");
  if (AEvent.Level > 255) throw EChannelError("level " + std::to_string(AEvent.Level) + " is out of range 0-255");
  TOutBuffer time;
  AppendFileTime(time, AEvent.TimeCreated, TEvtxRenderProfile::erpCurrent);

  std::string xml = "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider Name='";
  AppendEscaped(xml, AEvent.Provider, true);
  xml += "'/><EventID>" + std::to_string(AEvent.EventId) + "</EventID><Version>0</Version><Level>" +
         std::to_string(AEvent.Level) +
         "</Level><Task>0</Task><Opcode>0</Opcode><Keywords>0x80000000000000</Keywords><TimeCreated SystemTime='";
  xml += time.View();
  xml += "'/><EventRecordID>" + std::to_string(ARecordId) + "</EventRecordID><Correlation/><Execution ProcessID='" +
         std::to_string(AEvent.ProcessId) + "' ThreadID='" + std::to_string(AEvent.ThreadId) + "'/><Channel>";
  AppendEscaped(xml, AEvent.Channel, false);
  xml += "</Channel><Computer>";
  AppendEscaped(xml, AEvent.Computer, false);
  xml += "</Computer><Security/></System><EventData>";
  for (const auto& [name, value] : AEvent.Data) {
    if (name.empty()) {
      xml += "<Data>";
    } else {
      xml += "<Data Name='";
      AppendEscaped(xml, name, true);
      xml += "'>";
    }
    AppendEscaped(xml, value, false);
    xml += "</Data>";
  }
  xml += "</EventData></Event>";
  return xml;
}

uint64_t TXmlChannel::Append(const std::filesystem::path& AFile, const TNewEvent& AEvent) {
  return AsChannelError([&] {
    const TFile file(AFile.string(), TFile::TMode::fmAppendCreate);
    file.LockExclusive();  // released when the file closes
    const uint64_t recordId = HighestIdIn(file) + 1;
    std::string line;
    const uint64_t size = file.Identity().Size;
    if (size > 0) {
      // A torn last line (a writer that died) must not swallow this event.
      char last = 0;
      if (file.ReadAt(&last, 1, size - 1) == 1 && last != '\n') line.push_back('\n');
    }
    AppendOneLine(line, RenderNewEvent(AEvent, recordId));
    line.push_back('\n');
    file.Append(line);
    return recordId;
  });
}

std::optional<TRecordSpan> TXmlChannel::RecordSpan(const std::filesystem::path& AFile) {
  return AsChannelError([&]() -> std::optional<TRecordSpan> {
    const std::optional<TFile> file = TFile::OpenIfExists(AFile.string());
    if (!file) return std::nullopt;
    const std::optional<uint64_t> newest = LastIdIn(*file);
    if (!newest) return std::nullopt;
    std::optional<uint64_t> oldest;
    ForEachLine(*file, 0, [&](std::string_view ALine, uint64_t) {
      oldest = RecordIdOf(ALine);
      return !oldest;
    });
    return TRecordSpan{oldest.value_or(*newest), *newest};
  });
}

std::unique_ptr<IRecordSource> OpenXmlSource(const std::filesystem::path& AFile) {
  return std::make_unique<TXmlSource>(AFile);
}

}  // namespace zor
