#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

// One SD-ELEMENT of an RFC 5424 message: an SD-ID (name, "@" and an optional
// private enterprise number) and its PARAM-NAME/PARAM-VALUE pairs, values held
// unescaped. A plain value.
class TStructuredData {
 public:
  TStructuredData() = default;  // empty name, enterprise number -1, no pairs

  [[nodiscard]] int Count() const { return static_cast<int>(FStructuredDataParamNames.size()); }
  [[nodiscard]] const std::string& Name() const { return FName; }
  void SetName(const std::string& AValue) { FName = AValue; }
  // Negative: none.
  [[nodiscard]] int32_t EnterpriseNumber() const { return FEnterpriseNumber; }
  void SetEnterpriseNumber(int32_t AValue) { FEnterpriseNumber = AValue; }

  // "name" or "name@number". Writing splits at the first "@" (a number that
  // is not an integer reads as -1).
  [[nodiscard]] std::string ID() const;
  void SetID(std::string_view AValue);

  void AddDataPair(const std::string& AName, const std::string& AValue);
  void Clear();
  // AIndex outside 0..Count-1 throws ESyslogError.
  [[nodiscard]] const std::string& GetParamName(int AIndex) const;
  [[nodiscard]] const std::string& GetParamValue(int AIndex) const;

  // [ID name="value" ...] with backslash, double quote and "]" escaped in
  // values. Writing parses that form; text that is not one leaves the element
  // empty, and values holding blanks are lost (pieces split at every blank).
  [[nodiscard]] std::string EncodedValue() const;
  void SetEncodedValue(std::string_view AValue);

  // name="value" pairs joined by single blanks, values not escaped. Writing
  // replaces the pairs: split at blanks, name before the first "=", value
  // after it with every double quote removed.
  [[nodiscard]] std::string NameValueList() const;
  void SetNameValueList(std::string_view AValue);

  bool operator==(const TStructuredData&) const = default;

 private:
  std::string FName;
  int32_t FEnterpriseNumber = -1;
  std::vector<std::string> FStructuredDataParamNames;
  std::vector<std::string> FStructuredDataParamValues;
};

// The STRUCTURED-DATA field: a list of elements that the list owns.
class TStructuredDataList {
 public:
  TStructuredDataList() = default;
  TStructuredDataList(const TStructuredDataList& AStructuredDataList);  // deep copy
  TStructuredDataList& operator=(const TStructuredDataList& AStructuredDataList);

  [[nodiscard]] int Count() const { return static_cast<int>(FList.size()); }
  void Add(std::unique_ptr<TStructuredData>&& AStructuredData);
  void Clear() { FList.clear(); }
  // AIndex outside 0..Count-1 throws ESyslogError.
  [[nodiscard]] const TStructuredData& GetStructuredData(int AIndex) const;
  [[nodiscard]] TStructuredData& GetStructuredData(int AIndex);

  // "-" when empty, else the elements' EncodedValue back to back. Writing
  // clears, then cuts "[...][...]" at every "][" not preceded by a backslash.
  [[nodiscard]] std::string EncodedData() const;
  void SetEncodedData(std::string_view AValue);

 private:
  std::vector<std::unique_ptr<TStructuredData>> FList;
};

}  // namespace zor
