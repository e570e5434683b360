#include "collection/EventLog.h"

#include <cstring>
#include <iterator>

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

void TEventLog::Parse() {
  FSystem.Reset();
  FEventData.Reset();
  FRenderingInfo.Reset();
  if (TUtilities::IsBlank(FEventLogXML)) return;

  // The document points into the buffer: drop it before the buffer changes.
  FDocument.reset();
  FParseBuffer.assign(FEventLogXML);
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
  if (eventData) FEventData.Reset(eventData);
  if (renderingInfo) FRenderingInfo.Reset(renderingInfo);
}

}  // namespace zor
