#include "collection/BookmarkFile.h"

#include <system_error>
#include <utility>

#include "support/TextFile.h"

namespace zor {

namespace {

// True when ACandidate, taken lexically, lies inside AFolder.
bool LiesInside(const std::filesystem::path& AFolder, const std::filesystem::path& ACandidate) {
  const std::filesystem::path folder = AFolder.lexically_normal();
  const std::filesystem::path relative = ACandidate.lexically_normal().lexically_relative(folder);
  if (relative.empty() || relative.is_absolute()) return false;
  const std::string first = relative.begin()->string();
  return first != ".." && first != ".";
}

}  // namespace

TBookmarkFile::TBookmarkFile(const std::filesystem::path& AFolder, std::string_view AChannelPath,
                             TFileReplacer AReplacer)
    : FFileName(AFolder / FileNameOf(AChannelPath)), FReplacer(std::move(AReplacer)) {
  const std::string legacyName = std::string(AChannelPath) + ".xml";
  if (legacyName.find_first_of("/\\") != std::string::npos) {
    // Earlier versions wrote "folder/path.xml" as it came, separators and all.
    std::string legacy = AFolder.string();
    if (!legacy.empty() && legacy.back() != '/') legacy += '/';
    legacy += legacyName;
    for (char& c : legacy)
      if (c == '\\') c = '/';
    if (LiesInside(AFolder, legacy)) FLegacyFileName = legacy;
  }
}

std::string TBookmarkFile::FileNameOf(std::string_view AChannelPath) {
  std::string name;
  name.reserve(AChannelPath.size() + 8);
  for (const char c : AChannelPath) {
    if (c == '/')
      name += "%4";
    else if (c == '\\')
      name += "%5C";
    else
      name += c;
  }
  return name + ".xml";
}

std::optional<std::string> TBookmarkFile::Load(std::filesystem::path* AFrom) const {
  std::error_code error;
  for (const std::filesystem::path& file : {FFileName, FLegacyFileName}) {
    if (file.empty() || !std::filesystem::is_regular_file(file, error)) continue;
    if (AFrom) *AFrom = file;
    return TextFile::ReadText(file.string());
  }
  return std::nullopt;
}

void TBookmarkFile::Save(std::string_view AText, const std::function<void()>& AInPlace) const {
  FReplacer.Replace(FFileName.string(), AText, AInPlace);
}

}  // namespace zor
