#define PCRE2_CODE_UNIT_WIDTH 8
#include "collection/RegularExpression.h"

#include <pcre2.h>

#include "support/Utilities.h"

namespace zor {

namespace {

std::string ErrorText(int ACode) {
  PCRE2_UCHAR buffer[256];
  const int length = pcre2_get_error_message(ACode, buffer, sizeof(buffer));
  if (length < 0) return "PCRE2 error " + std::to_string(ACode);
  return std::string(reinterpret_cast<const char*>(buffer), static_cast<size_t>(length));
}

}  // namespace

void TRegularExpression::TCodeFree::operator()(pcre2_code* ACode) const { pcre2_code_free(ACode); }
void TRegularExpression::TMatchDataFree::operator()(pcre2_match_data* AData) const { pcre2_match_data_free(AData); }

TRegularExpression::TRegularExpression(std::string_view APattern) : FPattern(APattern) {
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  FCode.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(FPattern.data()), FPattern.size(), 0, &errorCode,
                            &errorOffset, nullptr));
  if (!FCode) {
    throw ERegularExpressionError(TUtilities::Format("%s at offset %zu in regular expression \"%s\"",
                                                     ErrorText(errorCode).c_str(), static_cast<size_t>(errorOffset),
                                                     FPattern.c_str()));
  }
  // JIT is an optimisation only: where the platform or the library lacks it,
  // the interpreter gives the same matches.
  FJitCompiled = pcre2_jit_compile(FCode.get(), PCRE2_JIT_COMPLETE) == 0;
  FMatchData.reset(pcre2_match_data_create_from_pattern(FCode.get(), nullptr));
  if (!FMatchData) throw ERegularExpressionError("Out of memory for the match data of \"" + FPattern + "\"");
}

TRegularExpression::~TRegularExpression() = default;

bool TRegularExpression::Find(std::string_view AText) const {
  const auto subject = reinterpret_cast<PCRE2_SPTR>(AText.data());
  const int result = FJitCompiled
                         ? pcre2_jit_match(FCode.get(), subject, AText.size(), 0, 0, FMatchData.get(), nullptr)
                         : pcre2_match(FCode.get(), subject, AText.size(), 0, 0, FMatchData.get(), nullptr);
  if (result >= 0) return true;
  if (result == PCRE2_ERROR_NOMATCH) return false;
  throw ERegularExpressionError(TUtilities::Format("Matching \"%s\" failed: %s", FPattern.c_str(),
                                                   ErrorText(result).c_str()));
}

}  // namespace zor
