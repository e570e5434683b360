#include "collection/EventLog.h"

#include <cstring>
#include <iterator>
#include <string_view>

#include "collection/EventXml.h"
#include "support/Utilities.h"

namespace zor {

TEventLog::TEventLog(const std::string& AXMLString) { Reset(AXMLString); }

void TEventLog::Reset(const std::string& AXMLString) {
  FEventLogXML = AXMLString;
  Parse();
}

void TEventLog::Reset(std::string&& AXMLString) {
  FEventLogXML = std::move(AXMLString);
  Parse();
}

void TEventLog::Reset(std::istream& AXMLStream) {
  FEventLogXML.assign(std::istreambuf_iterator<char>(AXMLStream), std::istreambuf_iterator<char>());
  Parse();
}

void TEventLog::ResetSystem(std::string&& AXMLString) {
  FEventLogXML = std::move(AXMLString);
  Parse(true);
}

void TEventLog::ResetSystem(std::string&& AXMLString, const TEventLogSystem& ASystem) {
  FEventLogXML = std::move(AXMLString);
  // Assigned, not moved: the record's strings keep their room from event to event.
  FSystem = ASystem;
  FEventData.Reset();
  FRenderingInfo.Reset();
}

pugi::xml_node TEventLog::ReadSystemOf(std::string_view AXml, bool& ASystemRead) {
  FEventLogXML.clear();
  ASystemRead = false;
  try {
    ParseText(AXml, false, true);
    ASystemRead = true;
  } catch (const EEventLogError&) {
    // A failed parse leaves what it read before the error.
    FDocument.reset();
    return {};
  } catch (const EConvertError&) {
    // The document stands; System holds what it read before the number.
  }
  return FDocument.document_element();
}

bool TEventLog::ParseSystemPart(std::string_view AXml) {
  // The cut ends with the first "</System>" and is closed with "</Event>". It
  // reads as the whole does when it parses with "Event" as its only top-level
  // element and the rest of the text closes that element in plain XML: the
  // parser reads an element's content the same whatever follows its end. A
  // "</System>" inside a comment, CDATA section or value, or one that closes
  // a deeper element, leaves a cut that does not parse so.
  constexpr std::string_view EndTag = "</System>";
  constexpr std::string_view RootEnd = "</Event>";
  const std::string_view xml = AXml;
  // memmem: find's first-character scan stops at every "<" of the event.
  const void* found = memmem(xml.data(), xml.size(), EndTag.data(), EndTag.size());
  if (found == nullptr) return false;
  const size_t cut = static_cast<size_t>(static_cast<const char*>(found) - xml.data()) + EndTag.size();
  // A NUL ends the parser's input: leave such texts to the whole parse.
  if (std::memchr(xml.data(), '\0', cut) != nullptr || !eventxml::ClosesEvent(xml.substr(cut))) return false;
  FDocument.reset();
  FParseBuffer.assign(xml.substr(0, cut));
  FParseBuffer.append(RootEnd);
  if (!FDocument.load_buffer_inplace(FParseBuffer.data(), FParseBuffer.size(), eventxml::ParseOptions,
                                     pugi::encoding_utf8))
    return false;
  const pugi::xml_node root = FDocument.first_child();
  if (root != FDocument.document_element() || root.next_sibling() || std::strcmp(root.name(), "Event") != 0)
    return false;
  for (pugi::xml_node child = root.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element && std::strcmp(child.name(), "System") == 0) {
      FSystem.Reset(child);
      break;
    }
  }
  return true;
}

void TEventLog::Parse(bool AOnlySystem) { ParseText(FEventLogXML, AOnlySystem, AOnlySystem); }

void TEventLog::ParseText(std::string_view AXml, bool ACutAtSystem, bool AOnlySystem) {
  FSystem.Reset();
  FEventData.Reset();
  FRenderingInfo.Reset();
  if (TUtilities::IsBlank(AXml)) {
    FDocument.reset();
    return;
  }
  if (ACutAtSystem && ParseSystemPart(AXml)) return;

  // The document points into the buffer: drop it before the buffer changes.
  FDocument.reset();
  FParseBuffer.assign(AXml);
  const pugi::xml_parse_result result = FDocument.load_buffer_inplace(
      FParseBuffer.data(), FParseBuffer.size(), eventxml::ParseOptions, pugi::encoding_utf8);
  eventxml::CheckParseResult(result);

  // The first child of each name; other children (UserData, ...) are ignored.
  pugi::xml_node system, eventData, renderingInfo;
  for (pugi::xml_node child = FDocument.document_element().first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    const char* name = child.name();
    if (!system && std::strcmp(name, "System") == 0)
      system = child;
    else if (!eventData && std::strcmp(name, "EventData") == 0)
      eventData = child;
    else if (!renderingInfo && std::strcmp(name, "RenderingInfo") == 0)
      renderingInfo = child;
  }
  if (system) FSystem.Reset(system);
  if (AOnlySystem) return;
  if (eventData) FEventData.Reset(eventData);
  if (renderingInfo) FRenderingInfo.Reset(renderingInfo);
}

}  // namespace zor
