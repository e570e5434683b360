#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/Errors.h"

// Whole-file text reading and writing for the service's own small files (the
// configuration file, the unique identifier file). Stateless; safe from any
// thread as long as no two threads write the same file.

namespace zor {

// A text file could not be read or written; the message names the file.
class ETextFileError : public EZorError {
 public:
  explicit ETextFileError(const std::string& AMessage) : EZorError(AMessage) {}
};

namespace TextFile {

// Largest file ReadText accepts. The files read this way are written by people
// or by the service itself and are a few kilobytes; anything this large is not one.
constexpr std::size_t MaxTextFileSize = 16 * 1024 * 1024;

// AData as UTF-8 text. A byte order mark selects the encoding (UTF-8, UTF-16
// little- or big-endian) and is dropped; without one the bytes are UTF-8 and
// are returned as they are. In UTF-16 a lone surrogate or an odd last byte
// becomes U+FFFD.
[[nodiscard]] std::string DecodeText(std::string_view AData);

// Reads the whole file and decodes it with DecodeText. Throws ETextFileError
// when the file cannot be opened or read, or is larger than MaxTextFileSize.
[[nodiscard]] std::string ReadText(const std::string& AFileName);

// Replaces AFileName with AText (written as it is, no byte order mark): the
// text goes to a temporary file beside it that is flushed and then renamed
// over it (TFileReplacer), so readers see the old or the new file, never a
// half-written one, also after a crash. Throws
// ETextFileError naming the file on failure.
void WriteTextReplacing(const std::string& AFileName, std::string_view AText);

}  // namespace TextFile
}  // namespace zor
