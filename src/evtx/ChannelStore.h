#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Errors.h"

namespace zor {

// A channel name or computer name that cannot name a file of the store.
class EChannelError : public EZorError {
 public:
  explicit EChannelError(const std::string& AMessage) : EZorError(AMessage) {}
};

// Where a record is in its channel file: its record id and, when known, the
// offset where it starts (.evtx: its record header; .xml: its line). The
// offset tells records with the same id apart; the id tells whether the file
// still holds that record at that offset after it changed. A place without
// an offset (a bookmark of earlier versions) is found by its id alone.
struct TRecordPlace {
  uint64_t RecordId = 0;
  std::optional<uint64_t> Offset;
  bool operator==(const TRecordPlace&) const = default;
};

// The ids of the first and the last record of a channel's file, in file
// order. In a log that numbers its records one after another (Windows' own,
// an appendable channel written by this program) Newest - Oldest + 1 is the
// number of records; files put together from elsewhere may hold ids that
// repeat or go backwards, where it is only the span of the two ids.
struct TRecordSpan {
  uint64_t Oldest = 0;
  uint64_t Newest = 0;
  bool operator==(const TRecordSpan&) const = default;
};

// One record of a channel, rendered as Windows renders it (EvtRenderEventXml):
// no RenderingInfo unless the stored event carries one, line breaks inside
// values as real CR/LF characters.
struct TChannelRecord {
  uint64_t RecordId = 0;     // .evtx: the record number; .xml: the line's EventRecordID
  uint64_t WrittenTime = 0;  // FILETIME of TimeCreated (0 when unknown)
  uint64_t Offset = 0;       // where the record (or its line) starts in the file
  std::string Xml;
  [[nodiscard]] TRecordPlace Place() const { return {RecordId, Offset}; }
};

// Reads the records of one channel file in file order, every record once,
// whatever their ids (they may repeat or go backwards: exported events put
// together, several generations of a log in one file). The source keeps its
// position as the place of the last record read; the file is looked at again
// on every call, so growth, replacement by another file and a file that
// appears later are all seen. Not thread-safe: one owner uses it at a time.
class IRecordSource {
 public:
  virtual ~IRecordSource() = default;

  // The next Read starts at the oldest record.
  virtual void StartAtOldest() = 0;
  // The next Read starts after the last record the file holds now, whose
  // place it returns (at the oldest record, and nothing returned, when the
  // file is missing or empty). Throws like Read.
  virtual std::optional<TRecordPlace> StartAtEnd() = 0;
  // The next Read starts right after the record at APlace when the file holds
  // it there. Otherwise (no offset, or the file was replaced or wrapped over
  // it) it starts after the first record with APlace's id in file order, or
  // at the first with a greater id: the oldest record after it.
  virtual void StartAfter(const TRecordPlace& APlace) = 0;

  // Appends to ARecords at most AMax records from the position on, in file
  // order, moves the position past them and returns how many. A missing file
  // has no records. Throws EZorError subclasses when the file exists but
  // cannot be read; the position then stays where it was.
  virtual size_t Read(size_t AMax, std::vector<TChannelRecord>& ARecords) = 0;
};

// Base of the sources over one file: keeps where the next Read goes on.
class TFileRecordSource : public IRecordSource {
 public:
  void StartAtOldest() final {
    FAfter.reset();
    FPositioned = false;
  }
  void StartAfter(const TRecordPlace& APlace) final {
    FAfter = APlace;
    FPositioned = false;
  }

 protected:
  std::optional<TRecordPlace> FAfter;  // the last record read, or the place to start after
  bool FPositioned = false;            // the file's reader stands after FAfter (at the start without it)
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

  // The ids of the first and last record of AChannel's file as it is now
  // (.evtx: from the chunk headers, no record is read; .xml: its first and
  // its last whole line that hold an id), or nothing when the file is
  // missing or holds no record. Throws EChannelError for a name Locate
  // refuses, and EZorError subclasses when the file exists but cannot be read.
  [[nodiscard]] std::optional<TRecordSpan> RecordSpan(std::string_view AChannel) const;

  // A reader of AChannel's records, from its oldest one, that follows the
  // channel's file wherever Locate finds it at each call.
  [[nodiscard]] std::unique_ptr<IRecordSource> OpenChannel(std::string_view AChannel) const;

 private:
  std::filesystem::path FRoot;
};

// A reader of one .evtx file (see TEvtxReader) as a record source.
[[nodiscard]] std::unique_ptr<IRecordSource> OpenEvtxSource(const std::filesystem::path& AFile);

}  // namespace zor
