#pragma once

#include <cctype>
#include <string>

namespace zor {

// AText with its ASCII letters upper-cased: how command words, protocol
// names and reader names are compared without regard to letter case.
[[nodiscard]] inline std::string UpperAscii(std::string AText) {
  for (char& c : AText) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return AText;
}

}  // namespace zor
