#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/Errors.h"

struct pcre2_real_code_8;
struct pcre2_real_match_data_8;

namespace zor {

// An expression that does not compile, or a match that fails for another
// reason than finding nothing (a resource limit); the message is PCRE2's.
class ERegularExpressionError : public EZorError {
 public:
  explicit ERegularExpressionError(const std::string& AMessage) : EZorError(AMessage) {}
};

// A Perl-compatible regular expression (PCRE2, 8-bit code units), compiled
// once with default options (case-sensitive, "^"/"$" at the text's ends only,
// "." not matching a line break), with JIT code where the platform has it.
//
// Owns its compiled code and its match data. Not thread-safe: Find reuses the
// match data, so one thread uses an expression at a time.
class TRegularExpression {
 public:
  // Throws ERegularExpressionError with PCRE2's message and the offset of
  // the fault in APattern.
  explicit TRegularExpression(std::string_view APattern);
  ~TRegularExpression();
  TRegularExpression(const TRegularExpression&) = delete;
  TRegularExpression& operator=(const TRegularExpression&) = delete;

  // True when the expression matches anywhere in AText. Throws
  // ERegularExpressionError when matching fails (e.g. a match limit).
  [[nodiscard]] bool Find(std::string_view AText) const;

  [[nodiscard]] const std::string& Pattern() const { return FPattern; }
  [[nodiscard]] bool JitCompiled() const { return FJitCompiled; }

 private:
  struct TCodeFree {
    void operator()(pcre2_real_code_8* ACode) const;
  };
  struct TMatchDataFree {
    void operator()(pcre2_real_match_data_8* AData) const;
  };

  std::string FPattern;
  std::unique_ptr<pcre2_real_code_8, TCodeFree> FCode;
  std::unique_ptr<pcre2_real_match_data_8, TMatchDataFree> FMatchData;
  bool FJitCompiled = false;
};

}  // namespace zor
