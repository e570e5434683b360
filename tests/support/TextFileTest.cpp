#include "support/TextFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/TempDir.h"

namespace zor {
namespace {

TEST(TextFileTest, DecodesByTheByteOrderMark) {
  using namespace std::string_literals;
  const struct {
    const char* Name;
    std::string Bytes;
    std::string Text;
  } cases[] = {
      {"NoMark", "a\xC3\xA4", "a\xC3\xA4"},
      {"NoMarkKeepsBadBytes", "a\xFF", "a\xFF"},
      {"Utf8Mark", "\xEF\xBB\xBF{}", "{}"},
      {"Utf8MarkOnly", "\xEF\xBB\xBF", ""},
      {"Utf16LE", "\xFF\xFE" "a\0\xE4\0\xAC\x20"s, "a\xC3\xA4\xE2\x82\xAC"},
      {"Utf16BE", "\xFE\xFF" "\0a\0\xE4\x20\xAC"s, "a\xC3\xA4\xE2\x82\xAC"},
      {"Utf16SurrogatePair", "\xFF\xFE" "\x3D\xD8\x00\xDE"s, "\xF0\x9F\x98\x80"},
      {"Utf16LoneHighSurrogate", "\xFF\xFE" "\x3D\xD8" "a\0"s, "\xEF\xBF\xBD" "a"},
      {"Utf16LoneLowSurrogate", "\xFF\xFE" "\x00\xDE"s, "\xEF\xBF\xBD"},
      {"Utf16HighSurrogateAtEnd", "\xFF\xFE" "\x3D\xD8"s, "\xEF\xBF\xBD"},
      {"Utf16OddLastByte", "\xFF\xFE" "a\0b"s, "a\xEF\xBF\xBD"},
      {"Utf16Nul", "\xFF\xFE" "\0\0"s, "\0"s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(TextFile::DecodeText(c.Bytes), c.Text);
  }
}

TEST(TextFileTest, WritesByReplacingAndReadsBack) {
  test::TempDir dir;
  const std::string file = (dir / "f.txt").string();
  TextFile::WriteTextReplacing(file, "first\r\n");
  TextFile::WriteTextReplacing(file, "second");
  EXPECT_EQ(TextFile::ReadText(file), "second");
  EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
  EXPECT_THROW(TextFile::WriteTextReplacing((dir / "no" / "f.txt").string(), "x"), ETextFileError);
  EXPECT_THROW((void)TextFile::ReadText((dir / "missing").string()), ETextFileError);
  EXPECT_THROW((void)TextFile::ReadText(dir.Path().string()), ETextFileError);
}

}  // namespace
}  // namespace zor
