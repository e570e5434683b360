#include "support/TextFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/FileReplacer.h"
#include "platform/PlatformError.h"

namespace zor::TextFile {

namespace {

void AppendUtf8(std::string& AOut, char32_t ACodePoint) {
  if (ACodePoint < 0x80) {
    AOut += static_cast<char>(ACodePoint);
  } else if (ACodePoint < 0x800) {
    AOut += static_cast<char>(0xC0 | (ACodePoint >> 6));
    AOut += static_cast<char>(0x80 | (ACodePoint & 0x3F));
  } else if (ACodePoint < 0x10000) {
    AOut += static_cast<char>(0xE0 | (ACodePoint >> 12));
    AOut += static_cast<char>(0x80 | ((ACodePoint >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (ACodePoint & 0x3F));
  } else {
    AOut += static_cast<char>(0xF0 | (ACodePoint >> 18));
    AOut += static_cast<char>(0x80 | ((ACodePoint >> 12) & 0x3F));
    AOut += static_cast<char>(0x80 | ((ACodePoint >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (ACodePoint & 0x3F));
  }
}

std::string DecodeUtf16(std::string_view AData, bool ABigEndian) {
  constexpr char32_t Replacement = 0xFFFD;
  const auto unitAt = [&](std::size_t AOffset) -> char32_t {
    const auto first = static_cast<uint8_t>(AData[AOffset]);
    const auto second = static_cast<uint8_t>(AData[AOffset + 1]);
    return ABigEndian ? (char32_t{first} << 8) | second : (char32_t{second} << 8) | first;
  };
  std::string text;
  text.reserve(AData.size());
  std::size_t offset = 0;
  while (offset + 1 < AData.size()) {
    const char32_t unit = unitAt(offset);
    offset += 2;
    if (unit >= 0xD800 && unit <= 0xDBFF && offset + 1 < AData.size()) {
      const char32_t low = unitAt(offset);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        offset += 2;
        AppendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        continue;
      }
    }
    AppendUtf8(text, unit >= 0xD800 && unit <= 0xDFFF ? Replacement : unit);
  }
  if (offset < AData.size()) AppendUtf8(text, Replacement);
  return text;
}

std::string SystemMessage(int AError) { return std::strerror(AError); }

}  // namespace

std::string DecodeText(std::string_view AData) {
  if (AData.starts_with("\xEF\xBB\xBF")) return std::string(AData.substr(3));
  if (AData.starts_with("\xFF\xFE")) return DecodeUtf16(AData.substr(2), false);
  if (AData.starts_with("\xFE\xFF")) return DecodeUtf16(AData.substr(2), true);
  return std::string(AData);
}

std::string ReadText(const std::string& AFileName) {
  std::error_code error;
  if (std::filesystem::is_directory(AFileName, error)) throw ETextFileError("Cannot read " + AFileName + ": a folder");
  std::ifstream file(AFileName, std::ios::binary);
  if (!file) throw ETextFileError("Cannot open " + AFileName + ": " + SystemMessage(errno));
  std::string data;
  char buffer[65536];
  while (file) {
    file.read(buffer, sizeof buffer);
    data.append(buffer, static_cast<std::size_t>(file.gcount()));
    if (data.size() > MaxTextFileSize) {
      throw ETextFileError("File " + AFileName + " is larger than " + std::to_string(MaxTextFileSize) + " bytes");
    }
  }
  if (file.bad()) throw ETextFileError("Cannot read " + AFileName);
  return DecodeText(data);
}

void WriteTextReplacing(const std::string& AFileName, std::string_view AText) {
  try {
    TFileReplacer().Replace(AFileName, AText);
  } catch (const EPlatformError& e) {
    throw ETextFileError("Cannot write " + AFileName + ": " + SystemMessage(e.ErrorCode()));
  }
}

}  // namespace zor::TextFile
