#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/Errors.h"

namespace zor {

// A channel name or computer name that cannot name a file of the store.
class EChannelError : public EZorError {
 public:
  explicit EChannelError(const std::string& AMessage) : EZorError(AMessage) {}
};

// One record of a channel, rendered as Windows renders it (EvtRenderEventXml):
// no RenderingInfo unless the stored event carries one, line breaks inside
// values as real CR/LF characters.
struct TChannelRecord {
  uint64_t RecordId = 0;     // EventRecordID
  uint64_t WrittenTime = 0;  // FILETIME of TimeCreated (0 when unknown)
  std::string Xml;
};

// Reads the records of one channel file incrementally. The file is looked at
// again on every call, so growth, replacement by another file and a file that
// appears later are all seen. Not thread-safe: one owner uses it at a time.
class IRecordSource {
 public:
  virtual ~IRecordSource() = default;

  // Appends to ARecords at most AMax records whose EventRecordID is greater
  // than AAfterRecordId, in increasing id order, and returns how many. A
  // missing file has no records. Throws EZorError subclasses when the file
  // exists but cannot be read.
  virtual size_t ReadAfter(uint64_t AAfterRecordId, size_t AMax, std::vector<TChannelRecord>& ARecords) = 0;

  // The highest EventRecordID the channel holds now (0 when empty or missing).
  [[nodiscard]] virtual uint64_t HighestRecordId() = 0;
};

// The event log root: a folder laid out like Windows' log folder. Channel C is
// the file C.evtx (read only) or C.xml (appendable, one rendered event per
// line), with every "/" of the name written "%4"; file names match without
// regard to letter case. A "remote computer" is a sub-folder named after it.
// A channel "path" that is an absolute file path reads that file.
//
// Holds only the folder: every method may be called from any thread.
class TChannelStore {
 public:
  enum class TChannelKind : uint8_t { ckEvtx = 0, ckXml = 1 };

  struct TLocation {
    std::filesystem::path File;  // where the channel's file is or would be
    TChannelKind Kind = TChannelKind::ckXml;
    bool Exists = false;
  };

  explicit TChannelStore(std::filesystem::path ARoot) : FRoot(std::move(ARoot)) {}

  const std::filesystem::path& Root() const { return FRoot; }

  // The store of computer AComputer (a sub-folder of this root). Throws
  // EChannelError for a name that is not a single folder name.
  [[nodiscard]] TChannelStore ForComputer(std::string_view AComputer) const;

  // The file name (without extension) of channel AChannel: "/" becomes "%4".
  [[nodiscard]] static std::string FileStem(std::string_view AChannel);
  // The channel name of a file name (with or without extension): "%4" becomes "/".
  [[nodiscard]] static std::string ChannelOf(std::string_view AFileName);

  // Finds AChannel's file: an absolute path as it is (.xml by its extension,
  // else .evtx); otherwise NAME.evtx, else NAME.xml in the root. When neither
  // exists, the location says where the XML channel would be created. Throws
  // EChannelError for an empty name or one the file system cannot hold.
  [[nodiscard]] TLocation Locate(std::string_view AChannel) const;

  // The channels of the root (the .evtx and .xml files in it), sorted, each once.
  [[nodiscard]] std::vector<std::string> Channels() const;

  // A reader of AChannel's records that follows the channel's file wherever
  // Locate finds it at each call.
  [[nodiscard]] std::unique_ptr<IRecordSource> OpenChannel(std::string_view AChannel) const;

 private:
  std::filesystem::path FRoot;
};

// A reader of one .evtx file (see TEvtxReader) as a record source.
[[nodiscard]] std::unique_ptr<IRecordSource> OpenEvtxSource(const std::filesystem::path& AFile);

}  // namespace zor
