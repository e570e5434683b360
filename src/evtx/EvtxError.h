#pragma once

#include <cstdint>
#include <string>

#include "platform/Errors.h"

namespace zor {

// A fault in EVTX data: where it was found (file or chunk offset), what was
// being read, and what was expected versus found. Thrown inside evtx/; the
// reader turns it into a TEvtxIssue for the damaged chunk or record and goes on.
class EEvtxError : public EZorError {
 public:
  EEvtxError(uint64_t AOffset, const std::string& AWhat, const std::string& AExpected, const std::string& AFound)
      : EZorError(Format(AOffset, AWhat, AExpected, AFound)), FOffset(AOffset) {}
  explicit EEvtxError(const std::string& AMessage, uint64_t AOffset = 0) : EZorError(AMessage), FOffset(AOffset) {}

  uint64_t Offset() const { return FOffset; }

 private:
  static std::string Format(uint64_t AOffset, const std::string& AWhat, const std::string& AExpected,
                            const std::string& AFound) {
    return AWhat + " at offset " + std::to_string(AOffset) + ": expected " + AExpected + ", found " + AFound;
  }

  uint64_t FOffset;
};

// The file cannot be read as an EVTX file at all (missing, unreadable, not
// EVTX). Thrown by TEvtxReader's constructor and Refresh.
class EEvtxFileError : public EEvtxError {
 public:
  using EEvtxError::EEvtxError;
};

}  // namespace zor
