#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/FileReplacer.h"

namespace zor {

// The file that keeps one reader's position in its channel: the bookmark XML
// as the Event Log API renders it, UTF-8 without byte order mark, replaced
// whole on every save.
//
// Every reader's file lies directly in the bookmark folder, named after the
// reader's channel "path" with ".xml" added, each "/" written "%4" (as
// Windows names its log files) and each "\" written "%5C". A path with a
// separator therefore no longer names a file in a sub-folder that does not
// exist (or, with "..", outside the folder). A file saved under the former,
// unescaped name is still read when it lies inside the folder and the new
// file does not exist yet.
//
// Stateless apart from the names; any thread may use its own object.
class TBookmarkFile {
 public:
  // AReplacer writes the file (tests give one that fails a step).
  TBookmarkFile(const std::filesystem::path& AFolder, std::string_view AChannelPath, TFileReplacer AReplacer = TFileReplacer());

  // The file name (without folder) for AChannelPath.
  [[nodiscard]] static std::string FileNameOf(std::string_view AChannelPath);

  [[nodiscard]] const std::filesystem::path& FileName() const { return FFileName; }

  // The saved text, or nothing when no file exists. AFrom tells which file
  // was read. A byte order mark selects the encoding. Throws ETextFileError
  // when a file exists but cannot be read.
  [[nodiscard]] std::optional<std::string> Load(std::filesystem::path* AFrom = nullptr) const;
  // Replaces the file with AText so that readers, and a start after a crash
  // or a power loss, see the old or the new text (TFileReplacer; AInPlace is
  // called once a crash would leave the new text). Throws EPlatformError
  // naming the file.
  void Save(std::string_view AText, const std::function<void()>& AInPlace = {}) const;

 private:
  std::filesystem::path FFileName;
  // The unescaped name of earlier versions; empty when it is the same file or
  // would lie outside the folder.
  std::filesystem::path FLegacyFileName;
  TFileReplacer FReplacer;
};

}  // namespace zor
