#include "collection/EventLogData.h"

#include <cstring>

#include "collection/EventXml.h"

namespace zor {

TEventLogData::TEventLogData(const std::string& AXMLString) { Reset(AXMLString); }

TEventLogData::TEventLogData(const pugi::xml_node& AXMLNode) { Reset(AXMLNode); }

void TEventLogData::Reset() {
  FCount = 0;
  FHasData = false;
}

void TEventLogData::Reset(const std::string& AXMLString) { eventxml::ResetPartFromString(*this, AXMLString); }

void TEventLogData::Reset(const pugi::xml_node& AXMLNode) {
  Reset();
  for (pugi::xml_node child = AXMLNode.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element || std::strcmp(child.name(), "Data") != 0) continue;
    if (FCount == FList.size()) FList.emplace_back();
    TData& item = FList[FCount++];
    item.ParamName.clear();
    item.Value.clear();
    if (const pugi::xml_attribute name = child.attribute("Name")) item.ParamName.assign(name.value());
    if (const char* text = eventxml::ElementText(child)) item.Value.assign(text);
  }
  FHasData = FCount > 0;
}

void TEventLogData::Add(const TData& AValue) {
  if (FCount == FList.size())
    FList.push_back(AValue);
  else
    FList[FCount] = AValue;
  ++FCount;
}

void TEventLogData::CheckIndex(int AIndex) const {
  if (AIndex < 0 || static_cast<size_t>(AIndex) >= FCount)
    throw EArgumentOutOfRange("Event data index " + std::to_string(AIndex) + " out of range (count " +
                              std::to_string(FCount) + ")");
}

void TEventLogData::Delete(int AIndex) {
  CheckIndex(AIndex);
  FList.erase(FList.begin() + AIndex);
  --FCount;
}

const TData& TEventLogData::GetListItem(int AIndex) const {
  CheckIndex(AIndex);
  return FList[static_cast<size_t>(AIndex)];
}

void TEventLogData::SetListItem(int AIndex, const TData& AValue) {
  CheckIndex(AIndex);
  FList[static_cast<size_t>(AIndex)] = AValue;
}

}  // namespace zor
