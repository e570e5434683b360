#include "collection/EventXml.h"

namespace zor::eventxml {

namespace {

std::string Quoted(std::string_view AText) {
  // Bound the text in messages: an event may carry a megabyte in one element.
  constexpr size_t MaxShown = 64;
  std::string result = "'";
  result.append(AText.substr(0, MaxShown));
  if (AText.size() > MaxShown) result.append("...");
  result.append("'");
  return result;
}

[[noreturn]] void ThrowNotAnInteger(std::string_view AText, const char* AWhat) {
  throw EConvertError(std::string(AWhat) + ": " + Quoted(AText) + " is not a valid integer value");
}

}  // namespace

int32_t ToInt32(std::string_view AText, const char* AWhat) {
  int32_t value = 0;
  if (!TUtilities::TryStrToInt(std::string(AText), value)) ThrowNotAnInteger(AText, AWhat);
  return value;
}

int64_t ToInt64(std::string_view AText, const char* AWhat) {
  int64_t value = 0;
  if (!TUtilities::TryStrToInt64(std::string(AText), value)) ThrowNotAnInteger(AText, AWhat);
  return value;
}

int32_t ToInt32OrMinusOne(std::string_view AText) {
  int32_t value = 0;
  return TUtilities::TryStrToInt(std::string(AText), value) ? value : -1;
}

int64_t ToInt64OrMinusOne(std::string_view AText) {
  int64_t value = 0;
  return TUtilities::TryStrToInt64(std::string(AText), value) ? value : -1;
}

std::string WithoutFirstAndLast(std::string_view AText) {
  if (AText.size() < 2) return std::string();
  return std::string(AText.substr(1, AText.size() - 2));
}

void ParseDocument(pugi::xml_document& ADocument, const std::string& AText) {
  const pugi::xml_parse_result result =
      ADocument.load_buffer(AText.data(), AText.size(), ParseOptions, pugi::encoding_utf8);
  CheckParseResult(result);
}

void CheckParseResult(const pugi::xml_parse_result& AResult) {
  if (!AResult)
    throw EEventLogError(std::string("Invalid event XML: ") + AResult.description() + " at offset " +
                         std::to_string(AResult.offset));
}

}  // namespace zor::eventxml
