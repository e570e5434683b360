#include "evtx/ChannelStore.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <system_error>

#include "evtx/EventQuery.h"
#include "evtx/EvtxReader.h"
#include "evtx/XmlChannel.h"

namespace zor {

namespace {

constexpr std::string_view EvtxExtension = ".evtx";
constexpr std::string_view XmlExtension = ".xml";

bool EndsWithIgnoringCase(std::string_view AText, std::string_view ASuffix) {
  return AText.size() >= ASuffix.size() && SameChannelName(AText.substr(AText.size() - ASuffix.size()), ASuffix);
}

void ReplaceAll(std::string& AText, std::string_view AFrom, std::string_view ATo) {
  for (size_t at = AText.find(AFrom); at != std::string::npos; at = AText.find(AFrom, at + ATo.size()))
    AText.replace(at, AFrom.size(), ATo);
}

bool IsFile(const std::filesystem::path& APath) {
  std::error_code error;
  return std::filesystem::is_regular_file(APath, error);
}

// Follows a channel wherever the store finds its file at each call: a file
// that appears later, or as the other kind, gets a new reader, which goes on
// after the last record read from the one before (or as the start asked).
class TChannelSource final : public IRecordSource {
 public:
  TChannelSource(TChannelStore AStore, std::string AChannel) : FStore(std::move(AStore)), FChannel(std::move(AChannel)) {}

  void StartAtOldest() override {
    FAfter.reset();
    if (FSource) FSource->StartAtOldest();
  }

  std::optional<TRecordPlace> StartAtEnd() override {
    FAfter.reset();
    IRecordSource* source = Current();
    if (source) FAfter = source->StartAtEnd();
    return FAfter;
  }

  void StartAfter(const TRecordPlace& APlace) override {
    FAfter = APlace;
    if (FSource) FSource->StartAfter(APlace);
  }

  size_t Read(size_t AMax, std::vector<TChannelRecord>& ARecords) override {
    IRecordSource* source = Current();
    if (!source) return 0;
    const size_t count = source->Read(AMax, ARecords);
    if (count > 0) FAfter = ARecords.back().Place();
    return count;
  }

 private:
  IRecordSource* Current() {
    const TChannelStore::TLocation location = FStore.Locate(FChannel);
    if (!location.Exists) return nullptr;
    if (!FSource || location.File != FFile || location.Kind != FKind) {
      FSource = location.Kind == TChannelStore::TChannelKind::ckXml ? OpenXmlSource(location.File)
                                                                    : OpenEvtxSource(location.File);
      FFile = location.File;
      FKind = location.Kind;
      if (FAfter) FSource->StartAfter(*FAfter);
    }
    return FSource.get();
  }

  const TChannelStore FStore;
  const std::string FChannel;
  std::unique_ptr<IRecordSource> FSource;
  std::filesystem::path FFile;
  TChannelStore::TChannelKind FKind = TChannelStore::TChannelKind::ckXml;
  std::optional<TRecordPlace> FAfter;  // the last record read, or the place to start after
};

// An .evtx file read in file order (TEvtxReader with EveryRecord). At the
// end of what it holds, the file is looked at again once per call, and
// reading goes on after the last record read: found at its place, or by its
// id when the file was replaced or wrapped over it.
class TEvtxSource final : public TFileRecordSource {
 public:
  explicit TEvtxSource(std::filesystem::path AFile) : FFile(std::move(AFile)) {}

  std::optional<TRecordPlace> StartAtEnd() override {
    FAfter.reset();
    FPositioned = false;
    try {
      if (FReader) FReader->Refresh();
      else FReader = Open();
    } catch (const EEvtxFileError&) {
      if (!Settling()) throw;
      FReader.reset();
    }
    if (!FReader) return std::nullopt;
    if (const std::optional<TEvtxPlace> last = FReader->SeekEnd()) FAfter = TRecordPlace{last->RecordId, last->FileOffset};
    FPositioned = true;
    return FAfter;
  }

  size_t Read(size_t AMax, std::vector<TChannelRecord>& ARecords) override {
    if (AMax == 0) return 0;
    bool refreshed = false;
    if (!FReader) {
      FReader = Open();
      if (!FReader) return 0;
      refreshed = true;
    }
    if (!FPositioned) Position();
    size_t count = 0;
    TEvtxRecord record;
    while (count < AMax) {
      if (!FReader->Next(record)) {
        // Nothing more as the file was last seen: look at it again once.
        if (refreshed || count > 0) break;
        try {
          FReader->Refresh();
        } catch (const EEvtxFileError&) {
          if (!Settling()) throw;
          FReader.reset();  // opened afresh once the file is back
          FPositioned = false;
          break;
        }
        refreshed = true;
        Position();
        continue;
      }
      ARecords.push_back({record.RecordId, record.WrittenTime, record.FileOffset, std::string(record.Xml)});
      FAfter = ARecords.back().Place();
      ++count;
    }
    return count;
  }

 private:
  // Moves the reader after FAfter (before the first record without it).
  void Position() {
    FPositioned = true;
    if (!FAfter) {
      FReader->SeekAfter(0);
      return;
    }
    if (FAfter->Offset && FReader->SeekAfterPlace({*FAfter->Offset, FAfter->RecordId})) return;
    FReader->SeekPastRecordId(FAfter->RecordId);
  }

  std::unique_ptr<TEvtxReader> Open() const {
    TEvtxReaderOptions options;
    options.EveryRecord = true;
    try {
      return std::make_unique<TEvtxReader>(FFile.string(), std::move(options));
    } catch (const EEvtxFileError&) {
      if (Settling()) return nullptr;
      throw;
    }
  }

  // A file that is missing or shorter than its header is being replaced or
  // written: no records now, and no error.
  bool Settling() const {
    std::error_code error;
    const auto size = std::filesystem::file_size(FFile, error);
    return error || size < HeaderBytes;
  }

  static constexpr uintmax_t HeaderBytes = 4096;

  const std::filesystem::path FFile;
  std::unique_ptr<TEvtxReader> FReader;
};

}  // namespace

std::string TChannelStore::FileStem(std::string_view AChannel) {
  std::string stem(AChannel);
  ReplaceAll(stem, "/", "%4");
  return stem;
}

std::string TChannelStore::ChannelOf(std::string_view AFileName) {
  if (EndsWithIgnoringCase(AFileName, EvtxExtension)) AFileName.remove_suffix(EvtxExtension.size());
  else if (EndsWithIgnoringCase(AFileName, XmlExtension)) AFileName.remove_suffix(XmlExtension.size());
  std::string channel(AFileName);
  ReplaceAll(channel, "%4", "/");
  return channel;
}

TChannelStore TChannelStore::ForComputer(std::string_view AComputer) const {
  if (AComputer.empty() || AComputer == "." || AComputer == ".." ||
      AComputer.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos)
    throw EChannelError("'" + std::string(AComputer) + "' is not a computer name");
  return TChannelStore(FRoot / std::string(AComputer));
}

TChannelStore::TLocation TChannelStore::Locate(std::string_view AChannel) const {
  if (AChannel.empty()) throw EChannelError("empty channel name");
  if (AChannel.find('\0') != std::string_view::npos) throw EChannelError("channel name holds a NUL character");
  if (AChannel.front() == '/') {
    const std::filesystem::path file{std::string(AChannel)};
    const TChannelKind kind = EndsWithIgnoringCase(AChannel, XmlExtension) ? TChannelKind::ckXml : TChannelKind::ckEvtx;
    return {file, kind, IsFile(file)};
  }
  const std::string stem = FileStem(AChannel);
  if (stem == "." || stem == "..") throw EChannelError("'" + stem + "' is not a channel name");
  for (const auto& [extension, kind] : {std::pair{EvtxExtension, TChannelKind::ckEvtx}, std::pair{XmlExtension, TChannelKind::ckXml}}) {
    const std::filesystem::path file = FRoot / (stem + std::string(extension));
    if (IsFile(file)) return {file, kind, true};
  }
  // Windows channel and file names ignore letter case.
  std::error_code error;
  std::optional<TLocation> xmlMatch;
  for (std::filesystem::directory_iterator it(FRoot, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    const bool evtx = EndsWithIgnoringCase(name, EvtxExtension);
    if (!evtx && !EndsWithIgnoringCase(name, XmlExtension)) continue;
    const std::string_view nameStem =
        std::string_view(name).substr(0, name.size() - (evtx ? EvtxExtension.size() : XmlExtension.size()));
    if (!SameChannelName(nameStem, stem) || !IsFile(it->path())) continue;
    if (evtx) return {it->path(), TChannelKind::ckEvtx, true};
    xmlMatch = TLocation{it->path(), TChannelKind::ckXml, true};
  }
  if (xmlMatch) return *xmlMatch;
  return {FRoot / (stem + std::string(XmlExtension)), TChannelKind::ckXml, false};
}

std::vector<std::string> TChannelStore::Channels() const {
  std::error_code error;
  std::filesystem::directory_iterator it(FRoot, error);
  if (error) throw EChannelError("cannot list the event log folder " + FRoot.string() + ": " + error.message());
  std::vector<std::string> channels;
  for (std::filesystem::directory_iterator end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (!EndsWithIgnoringCase(name, EvtxExtension) && !EndsWithIgnoringCase(name, XmlExtension)) continue;
    if (!IsFile(it->path())) continue;
    channels.push_back(ChannelOf(name));
  }
  if (error) throw EChannelError("cannot list the event log folder " + FRoot.string() + ": " + error.message());
  // Letter case ignored, then exact, so that the order and which spelling
  // stays for a name present twice do not depend on the directory's order.
  std::sort(channels.begin(), channels.end(), [](const std::string& A, const std::string& B) {
    const bool less = std::lexicographical_compare(A.begin(), A.end(), B.begin(), B.end(), [](char a, char b) {
      return std::tolower(static_cast<unsigned char>(a)) < std::tolower(static_cast<unsigned char>(b));
    });
    return less || (SameChannelName(A, B) && A < B);
  });
  channels.erase(std::unique(channels.begin(), channels.end(),
                             [](const std::string& A, const std::string& B) { return SameChannelName(A, B); }),
                 channels.end());
  return channels;
}

std::optional<TRecordSpan> TChannelStore::RecordSpan(std::string_view AChannel) const {
  const TLocation location = Locate(AChannel);
  if (!location.Exists) return std::nullopt;
  if (location.Kind == TChannelKind::ckXml) return TXmlChannel::RecordSpan(location.File);
  // Opening a reader reads the file header and the chunk headers only.
  const TEvtxReader reader(location.File.string());
  const TEvtxFileInfo& info = reader.FileInfo();
  if (info.HighestRecordId == 0) return std::nullopt;
  return TRecordSpan{info.LowestRecordId, info.HighestRecordId};
}

std::unique_ptr<IRecordSource> TChannelStore::OpenChannel(std::string_view AChannel) const {
  (void)Locate(AChannel);  // reject names that cannot be channels now, not at the first read
  return std::make_unique<TChannelSource>(*this, std::string(AChannel));
}

std::unique_ptr<IRecordSource> OpenEvtxSource(const std::filesystem::path& AFile) {
  return std::make_unique<TEvtxSource>(AFile);
}

}  // namespace zor
