#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "support/Utilities.h"

namespace zor::test {

// Sets the process's time zone (TZ, then TUtilities::TimeZoneChanged) for the life of the object
// and restores the previous setting afterwards. POSIX rule strings such as
// "EST5EDT,M3.2.0,M11.1.0" need no zone database. Not thread-safe: use it only
// where no other thread reads local time.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const std::string& AZone) {
    if (const char* previous = std::getenv("TZ")) FPrevious = previous;
    ::setenv("TZ", AZone.c_str(), 1);
    TUtilities::TimeZoneChanged();
  }
  ~ScopedTimeZone() {
    if (FPrevious) {
      ::setenv("TZ", FPrevious->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    TUtilities::TimeZoneChanged();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> FPrevious;
};

}  // namespace zor::test
