#include "evtx/XmlChannel.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string_view>

#include "evtx/EventQuery.h"
#include "evtx/EvtxReader.h"
#include "evtx/OutBuffer.h"
#include "evtx/ValueFormat.h"

namespace zor {

namespace {

// A line longer than this is not an event we wrote; it is skipped.
constexpr size_t MaxLineBytes = 16 * 1024 * 1024;
constexpr size_t BlockBytes = 64 * 1024;

std::string ErrnoText(int AErrno) { return std::strerror(AErrno); }

// Owns one open descriptor.
class TFd {
 public:
  explicit TFd(int AFd) : FFd(AFd) {}
  ~TFd() {
    if (FFd >= 0) ::close(FFd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return FFd; }

 private:
  int FFd;
};

std::optional<uint64_t> RecordIdOf(std::string_view ALine) {
  constexpr std::string_view Tag = "<EventRecordID>";
  const size_t start = ALine.find(Tag);
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
    const size_t start = ALine.find(tag);
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

// Calls AOnLine(line, lineStart) for every whole line of AFd from AOffset on
// and returns the offset past the last line handed over. AOnLine returns
// false to stop after that line. A last line without line end counts when it holds a whole
// event (a file written by hand); otherwise it is still being written.
template <typename TOnLine>
uint64_t ForEachLine(int AFd, uint64_t AOffset, TOnLine&& AOnLine) {
  std::string pending;
  uint64_t pendingStart = AOffset;
  uint64_t readAt = AOffset;
  bool skipping = false;  // inside an over-long line
  char block[BlockBytes];
  while (true) {
    const ssize_t got = ::pread(AFd, block, sizeof block, static_cast<off_t>(readAt));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw EChannelError("cannot read XML channel: " + ErrnoText(errno));
    }
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
      if (!skipping) pending.append(data.substr(0, newline));
      data.remove_prefix(newline + 1);
      const uint64_t lineEnd = readAt - data.size();
      const bool keepGoing =
          skipping || pending.size() > MaxLineBytes || AOnLine(std::string_view(pending), pendingStart);
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

uint64_t HighestIdIn(int AFd) {
  uint64_t highest = 0;
  ForEachLine(AFd, 0, [&](std::string_view ALine, uint64_t) {
    if (auto id = RecordIdOf(ALine); id && *id > highest) highest = *id;
    return true;
  });
  return highest;
}

class TXmlSource final : public IRecordSource {
 public:
  explicit TXmlSource(std::filesystem::path AFile) : FFile(std::move(AFile)) {}

  void StartAtOldest() override {
    FAfter.reset();
    FPositioned = false;
  }

  void StartAfter(const TRecordPlace& APlace) override {
    FAfter = APlace;
    FPositioned = false;
  }

  std::optional<TRecordPlace> StartAtEnd() override {
    FAfter.reset();
    FPositioned = false;
    const std::optional<TFd> fd = OpenFile();
    if (!fd) return std::nullopt;
    std::optional<TRecordPlace> last;
    FOffset = ForEachLine(fd->Get(), 0, [&](std::string_view ALine, uint64_t AStart) {
      if (const auto id = RecordIdOf(ALine)) last = TRecordPlace{*id, AStart};
      return true;
    });
    FAfter = last;
    NoteFile(fd->Get());
    FPositioned = true;
    return FAfter;
  }

  size_t Read(size_t AMax, std::vector<TChannelRecord>& ARecords) override {
    if (AMax == 0) return 0;
    const std::optional<TFd> fd = OpenFile();
    if (!fd) {
      FPositioned = false;
      return 0;
    }
    if (!FPositioned || !StillTheSameFile(fd->Get())) Position(fd->Get());
    size_t count = 0;
    FOffset = ForEachLine(fd->Get(), FOffset, [&](std::string_view ALine, uint64_t AStart) {
      const auto id = RecordIdOf(ALine);
      if (!id) return true;
      const std::string_view line = TrimLine(ALine);
      ARecords.push_back({*id, WrittenTimeOf(line), AStart, DecodeLine(line)});
      FAfter = ARecords.back().Place();
      return ++count < AMax;
    });
    return count;
  }

 private:
  // The file open for reading, or nothing when it does not exist.
  std::optional<TFd> OpenFile() const {
    const int fd = ::open(FFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) return std::optional<TFd>(std::in_place, fd);
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    throw EChannelError("cannot open XML channel " + FFile.string() + ": " + ErrnoText(errno));
  }

  struct stat Stat(int AFd) const {
    struct stat info {};
    if (::fstat(AFd, &info) != 0) throw EChannelError("cannot stat " + FFile.string() + ": " + ErrnoText(errno));
    return info;
  }

  void NoteFile(int AFd) {
    const struct stat info = Stat(AFd);
    FDevice = info.st_dev;
    FInode = info.st_ino;
  }

  // The same file, grown or not: same identity, not shorter than where we
  // stopped, and a line end just before that place.
  bool StillTheSameFile(int AFd) const {
    const struct stat info = Stat(AFd);
    if (info.st_dev != FDevice || info.st_ino != FInode) return false;
    if (FOffset == 0) return true;
    if (static_cast<uint64_t>(info.st_size) < FOffset) return false;
    return LineStartsAt(AFd, FOffset);
  }

  static bool LineStartsAt(int AFd, uint64_t AOffset) {
    if (AOffset == 0) return true;
    char last = 0;
    return ::pread(AFd, &last, 1, static_cast<off_t>(AOffset - 1)) == 1 && last == '\n';
  }

  // Sets FOffset after FAfter in the file as it is now: after the line at
  // FAfter's offset when that line still holds FAfter's id, else after the
  // first line with that id, else at the first line with a greater id.
  void Position(int AFd) {
    NoteFile(AFd);
    FPositioned = true;
    FOffset = 0;
    if (!FAfter) return;
    if (FAfter->Offset && LineStartsAt(AFd, *FAfter->Offset)) {
      bool found = false;
      const uint64_t end = ForEachLine(AFd, *FAfter->Offset, [&](std::string_view ALine, uint64_t) {
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
    const uint64_t end = ForEachLine(AFd, 0, [&](std::string_view ALine, uint64_t AStart) {
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
  std::optional<TRecordPlace> FAfter;  // the last record read, or the place to start after
  bool FPositioned = false;            // FOffset stands after FAfter in the file last looked at
  dev_t FDevice = 0;
  ino_t FInode = 0;
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

void WriteAll(int AFd, std::string_view AData, const std::filesystem::path& AFile) {
  while (!AData.empty()) {
    const ssize_t written = ::write(AFd, AData.data(), AData.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      throw EChannelError("cannot append to " + AFile.string() + ": " + ErrnoText(errno));
    }
    AData.remove_prefix(static_cast<size_t>(written));
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
  const int fd = ::open(AFile.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) throw EChannelError("cannot open XML channel " + AFile.string() + ": " + ErrnoText(errno));
  const TFd owner(fd);
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) throw EChannelError("cannot lock " + AFile.string() + ": " + ErrnoText(errno));
  }
  // The lock goes with the descriptor.
  const uint64_t recordId = HighestIdIn(fd) + 1;
  std::string line;
  struct stat info {};
  if (::fstat(fd, &info) != 0) throw EChannelError("cannot stat " + AFile.string() + ": " + ErrnoText(errno));
  if (info.st_size > 0) {
    // A torn last line (a writer that died) must not swallow this event.
    char last = 0;
    if (::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n') line.push_back('\n');
  }
  AppendOneLine(line, RenderNewEvent(AEvent, recordId));
  line.push_back('\n');
  WriteAll(fd, line, AFile);
  return recordId;
}

std::unique_ptr<IRecordSource> OpenXmlSource(const std::filesystem::path& AFile) {
  return std::make_unique<TXmlSource>(AFile);
}

}  // namespace zor
