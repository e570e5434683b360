#pragma once

#include <stdexcept>
#include <string>

namespace zor {

// Base of every exception the system throws. Build the message where the
// fault is found, with its context (offset, key, host:port); catch it once at a
// worker boundary and log it there.
class EZorError : public std::runtime_error {
 public:
  explicit EZorError(const std::string& AMessage) : std::runtime_error(AMessage) {}
};

}  // namespace zor
