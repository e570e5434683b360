#pragma once

#include <memory>
#include <string>
#include <vector>

#include "config/Collector.h"

namespace zor {

// Checks a configuration file the way the service reads it and lists what
// is wrong with it, each problem with where it is:
//  - the file itself: missing, empty, too large, not JSON (line and column),
//    not an object; nothing further is checked then;
//  - every value of the wrong kind ("interfaces" not an array, a receiver
//    that is not an object, ...), with its key path; the checker goes on past
//    each one as if the value were empty, so one run reports all of them;
//  - every value the service would not take as written: a text that is not
//    an integer and falls back, a Boolean word that is not true or false, an
//    unknown facility, a password that does not decrypt, and keys that are
//    unknown or not used with the other settings.
// Stateless; any thread.
class TConfigChecker {
 public:
  TConfigChecker() = delete;

  struct TResult {
    std::vector<std::string> Problems;
    // The configuration as the service would take it; null when the file
    // itself could not be read as a JSON object.
    std::unique_ptr<TCollector> Effective;
  };

  [[nodiscard]] static TResult CheckFile(const std::string& AFileName);

  // The same for a document already parsed (the checks after the file's own).
  [[nodiscard]] static TResult CheckDocument(TJSONValue ADocument);
};

}  // namespace zor
