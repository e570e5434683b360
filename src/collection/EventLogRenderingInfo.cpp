#include "collection/EventLogRenderingInfo.h"

#include <string_view>

#include "collection/EventXml.h"

namespace zor {

using eventxml::ElementText;

TEventLogRenderingInfo::TEventLogRenderingInfo(const std::string& AXMLString) { Reset(AXMLString); }

TEventLogRenderingInfo::TEventLogRenderingInfo(const pugi::xml_node& AXMLNode) { Reset(AXMLNode); }

void TEventLogRenderingInfo::Reset() {
  FMessage.clear();
  FLevel.clear();
  FOpcode.clear();
  FTask.clear();
  FChannel.clear();
  FProvider.clear();
  FKeywords.clear();
  FHasData = false;
}

void TEventLogRenderingInfo::Reset(const std::string& AXMLString) {
  eventxml::ResetPartFromString(*this, AXMLString);
}

void TEventLogRenderingInfo::Reset(const pugi::xml_node& AXMLNode) {
  Reset();
  if (!AXMLNode.first_child()) return;
  for (pugi::xml_node child = AXMLNode.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    const std::string_view name = child.name();
    std::string* target = nullptr;
    if (name == "Message")
      target = &FMessage;
    else if (name == "Level")
      target = &FLevel;
    else if (name == "Opcode")
      target = &FOpcode;
    else if (name == "Task")
      target = &FTask;
    else if (name == "Channel")
      target = &FChannel;
    else if (name == "Provider")
      target = &FProvider;
    if (target != nullptr) {
      if (const char* text = ElementText(child)) target->assign(text);
    } else if (name == "Keywords") {
      // Every keyword element, whatever its name, that has a text.
      for (pugi::xml_node keyword = child.first_child(); keyword; keyword = keyword.next_sibling()) {
        if (keyword.type() != pugi::node_element) continue;
        if (const char* text = ElementText(keyword)) FKeywords.emplace_back(text);
      }
    }
  }
  FHasData = true;
}

}  // namespace zor
