#include "platform/OsRelease.h"

#include <fstream>

namespace zor {

namespace {

// The value of KEY=VALUE, without the quotes os-release allows around it.
std::string PrettyNameIn(const char* AFileName) {
  std::ifstream file(AFileName);
  std::string line;
  while (std::getline(file, line)) {
    if (!line.starts_with("PRETTY_NAME=")) continue;
    std::string value = line.substr(12);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return value;
  }
  return std::string();
}

}  // namespace

std::string OperatingSystemName() {
  for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::string name = PrettyNameIn(file);
    if (!name.empty()) return name;
  }
  return "Linux";
}

}  // namespace zor
