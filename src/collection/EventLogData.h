#pragma once

#include <pugixml.hpp>

#include <string>
#include <vector>

#include "support/ConfigList.h"

namespace zor {

// One "Data" element of an event: its Name attribute and its text.
struct TData {
  std::string ParamName;
  std::string Value;
};

// The "EventData" element of one rendered event: its Data items in document
// order. Plain value class, owned by its TEventLog and refilled by every Reset;
// not shared between threads.
class TEventLogData {
 public:
  TEventLogData() = default;
  // Parses a string whose document element is an EventData element; fails
  // with EEventLogError on XML that does not parse.
  explicit TEventLogData(const std::string& AXMLString);
  explicit TEventLogData(const pugi::xml_node& AXMLNode);

  void Reset();
  void Reset(const std::string& AXMLString);
  // Appends one pair per child named "Data"; other children (Binary) are skipped.
  void Reset(const pugi::xml_node& AXMLNode);

  void Add(const TData& AValue);
  // Each fails with EArgumentOutOfRange (support/ConfigList.h) for an index
  // outside the list.
  void Delete(int AIndex);
  const TData& GetListItem(int AIndex) const;
  void SetListItem(int AIndex, const TData& AValue);

  bool HasData() const { return FHasData; }
  int Count() const { return static_cast<int>(FCount); }

 private:
  void CheckIndex(int AIndex) const;

  // Items [0, FCount) are the list; the entries beyond are kept only for the
  // capacity of their strings, so a reused record does not reallocate.
  std::vector<TData> FList;
  size_t FCount = 0;
  bool FHasData = false;
};

}  // namespace zor
