#include "syslog/StructuredData.h"

#include "support/Utilities.h"
#include "syslog/SyslogFields.h"
#include "syslog/SyslogGlobal.h"

namespace zor {

namespace {

std::string EscapeParamValue(std::string AValue) {
  SyslogFields::ReplaceAll(AValue, "\\", "\\\\");
  SyslogFields::ReplaceAll(AValue, "\"", "\\\"");
  SyslogFields::ReplaceAll(AValue, "]", "\\]");
  return AValue;
}

std::string UnescapeParamValue(std::string AValue) {
  SyslogFields::ReplaceAll(AValue, "\\]", "]");
  SyslogFields::ReplaceAll(AValue, "\\\"", "\"");
  SyslogFields::ReplaceAll(AValue, "\\\\", "\\");
  return AValue;
}

int32_t EnterpriseNumberOf(std::string_view AText) {
  int32_t number = -1;
  return TUtilities::TryStrToInt(std::string(AText), number) ? number : -1;
}

// Calls AEach with every piece of AText between single blanks.
template <class TEach>
void ForEachPiece(std::string_view AText, TEach AEach) {
  size_t from = 0;
  while (true) {
    const size_t blank = AText.find(' ', from);
    AEach(AText.substr(from, blank == std::string_view::npos ? std::string_view::npos : blank - from));
    if (blank == std::string_view::npos) break;
    from = blank + 1;
  }
}

void CheckIndex(int AIndex, int ACount) {
  if (AIndex < 0 || AIndex >= ACount) throw ESyslogError(TUtilities::Format("List index out of bounds (%d)", AIndex));
}

}  // namespace

std::string TStructuredData::ID() const {
  if (FEnterpriseNumber < 0) return FName;
  std::string id = FName;
  id += '@';
  id += std::to_string(FEnterpriseNumber);
  return id;
}

void TStructuredData::SetID(std::string_view AValue) {
  const size_t at = AValue.find('@');
  FName = std::string(AValue.substr(0, at));
  FEnterpriseNumber = at == std::string_view::npos ? -1 : EnterpriseNumberOf(AValue.substr(at + 1));
}

void TStructuredData::AddDataPair(const std::string& AName, const std::string& AValue) {
  FStructuredDataParamNames.push_back(AName);
  FStructuredDataParamValues.push_back(AValue);
}

void TStructuredData::Clear() {
  FName.clear();
  FEnterpriseNumber = -1;
  FStructuredDataParamNames.clear();
  FStructuredDataParamValues.clear();
}

const std::string& TStructuredData::GetParamName(int AIndex) const {
  CheckIndex(AIndex, Count());
  return FStructuredDataParamNames[static_cast<size_t>(AIndex)];
}

const std::string& TStructuredData::GetParamValue(int AIndex) const {
  CheckIndex(AIndex, Count());
  return FStructuredDataParamValues[static_cast<size_t>(AIndex)];
}

std::string TStructuredData::EncodedValue() const {
  std::string text = "[";
  text += ID();
  for (size_t i = 0; i < FStructuredDataParamNames.size(); ++i) {
    text += ' ';
    text += FStructuredDataParamNames[i];
    text += "=\"";
    text += EscapeParamValue(FStructuredDataParamValues[i]);
    text += '"';
  }
  text += ']';
  return text;
}

void TStructuredData::SetEncodedValue(std::string_view AValue) {
  Clear();
  const std::string_view text = SyslogFields::Trim(AValue);
  if (text.size() < 2 || text.front() != '[' || text.back() != ']') return;
  bool first = true;
  ForEachPiece(text.substr(1, text.size() - 2), [&](std::string_view APiece) {
    if (first) {
      first = false;
      const size_t at = APiece.find('@');
      FName = std::string(SyslogFields::Trim(APiece.substr(0, at)));
      FEnterpriseNumber =
          at == std::string_view::npos ? -1 : EnterpriseNumberOf(SyslogFields::Trim(APiece.substr(at + 1)));
      return;
    }
    const size_t equals = APiece.find('=');
    if (equals == std::string_view::npos) return;
    const std::string_view value = SyslogFields::Trim(APiece.substr(equals + 1));
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') return;
    AddDataPair(std::string(SyslogFields::Trim(APiece.substr(0, equals))),
                UnescapeParamValue(std::string(value.substr(1, value.size() - 2))));
  });
}

std::string TStructuredData::NameValueList() const {
  std::string text;
  for (size_t i = 0; i < FStructuredDataParamNames.size(); ++i) {
    if (i > 0) text += ' ';
    text += FStructuredDataParamNames[i];
    text += "=\"";
    text += FStructuredDataParamValues[i];
    text += '"';
  }
  return text;
}

void TStructuredData::SetNameValueList(std::string_view AValue) {
  FStructuredDataParamNames.clear();
  FStructuredDataParamValues.clear();
  ForEachPiece(AValue, [&](std::string_view APiece) {
    const size_t equals = APiece.find('=');
    std::string value(equals == std::string_view::npos ? std::string_view() : APiece.substr(equals + 1));
    SyslogFields::ReplaceAll(value, "\"", "");
    AddDataPair(std::string(APiece.substr(0, equals)), value);
  });
}

TStructuredDataList::TStructuredDataList(const TStructuredDataList& AStructuredDataList) {
  *this = AStructuredDataList;
}

TStructuredDataList& TStructuredDataList::operator=(const TStructuredDataList& AStructuredDataList) {
  if (this == &AStructuredDataList) return *this;
  FList.clear();
  for (const auto& element : AStructuredDataList.FList) FList.push_back(std::make_unique<TStructuredData>(*element));
  return *this;
}

void TStructuredDataList::Add(std::unique_ptr<TStructuredData>&& AStructuredData) {
  FList.push_back(std::move(AStructuredData));
}

const TStructuredData& TStructuredDataList::GetStructuredData(int AIndex) const {
  CheckIndex(AIndex, Count());
  return *FList[static_cast<size_t>(AIndex)];
}

TStructuredData& TStructuredDataList::GetStructuredData(int AIndex) {
  CheckIndex(AIndex, Count());
  return *FList[static_cast<size_t>(AIndex)];
}

std::string TStructuredDataList::EncodedData() const {
  if (FList.empty()) return "-";
  std::string text;
  for (const auto& element : FList) text += element->EncodedValue();
  return text;
}

void TStructuredDataList::SetEncodedData(std::string_view AValue) {
  Clear();
  const std::string_view text = SyslogFields::Trim(AValue);
  if (text.size() < 2 || text.front() != '[' || text.back() != ']') return;
  size_t start = 0;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    // "][" ends one element and begins the next, unless the "]" is escaped.
    if (text[i] == ']' && text[i + 1] == '[' && (i == 0 || text[i - 1] != '\\')) {
      auto element = std::make_unique<TStructuredData>();
      element->SetEncodedValue(text.substr(start, i + 1 - start));
      Add(std::move(element));
      start = i + 1;
    }
  }
  auto last = std::make_unique<TStructuredData>();
  last->SetEncodedValue(text.substr(start));
  Add(std::move(last));
}

}  // namespace zor
