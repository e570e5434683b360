#include "collection/EvtObjects.h"

#include <pugixml.hpp>

#include <cctype>

#include "evtx/EventQuery.h"
#include "support/Utilities.h"

namespace zor {

namespace {

std::optional<uint64_t> ParseRecordId(std::string_view AText) {
  if (AText.empty() || AText.size() > 20) return std::nullopt;
  uint64_t value = 0;
  for (char c : AText) {
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

void AppendAttributeText(std::string& AOut, std::string_view AText) {
  for (char c : AText) {
    switch (c) {
      case '&': AOut += "&amp;"; break;
      case '<': AOut += "&lt;"; break;
      case '>': AOut += "&gt;"; break;
      case '\'': AOut += "&apos;"; break;
      case '"': AOut += "&quot;"; break;
      default: AOut += c;
    }
  }
}

std::string_view LocalName(const char* AName) {
  std::string_view name(AName);
  const size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

}  // namespace

TEvtBookmark::TParseResult TEvtBookmark::Parse(std::string_view AXml, std::unique_ptr<TEvtBookmark>& ABookmark,
                                               std::string& AError) {
  auto bookmark = std::make_unique<TEvtBookmark>();
  if (TUtilities::IsBlank(AXml)) {
    ABookmark = std::move(bookmark);
    return TParseResult::bprOk;
  }
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(AXml.data(), AXml.size());
  if (!parsed) {
    AError = std::string("bookmark XML: ") + parsed.description() + " at offset " + std::to_string(parsed.offset);
    return TParseResult::bprMalformed;
  }
  const pugi::xml_node root = document.document_element();
  if (std::string_view(root.name()) != "BookmarkList") {
    AError = "bookmark XML: the root element is not BookmarkList";
    return TParseResult::bprWrongStructure;
  }
  TCriticalSectionGuard guard(bookmark->FLock);
  for (pugi::xml_node node : root.children()) {
    if (node.type() != pugi::node_element) continue;
    if (std::string_view(node.name()) != "Bookmark") {
      AError = "bookmark XML: unexpected element " + std::string(node.name());
      return TParseResult::bprWrongStructure;
    }
    const std::string channel = node.attribute("Channel").value();
    const auto recordId = ParseRecordId(node.attribute("RecordId").value());
    if (channel.empty() || !recordId) {
      AError = "bookmark XML: a Bookmark needs a Channel and a decimal RecordId";
      return TParseResult::bprWrongStructure;
    }
    if (SameChannelName(node.attribute("IsCurrent").value(), "true")) bookmark->FCurrent = bookmark->FEntries.size();
    // An unreadable offset only costs the quick way back to the record: it is
    // then found by its id.
    bookmark->FEntries.push_back({channel, {*recordId, ParseRecordId(node.attribute("Offset").value())}});
  }
  ABookmark = std::move(bookmark);
  return TParseResult::bprOk;
}

size_t TEvtBookmark::Place(const TEvtPosition& APosition) {
  for (size_t i = 0; i < FEntries.size(); ++i)
    if (SameChannelName(FEntries[i].Channel, APosition.Channel)) {
      FEntries[i].Place = APosition.Place;
      return i;
    }
  FEntries.push_back(APosition);
  return FEntries.size() - 1;
}

void TEvtBookmark::Update(const TEvtEvent& AEvent) {
  TCriticalSectionGuard guard(FLock);
  bool placedCurrent = false;
  for (const TEvtPosition& position : AEvent.Positions) {
    if (SameChannelName(position.Channel, AEvent.Channel)) {
      FCurrent = Place({AEvent.Channel, AEvent.Place});
      placedCurrent = true;
    } else {
      Place(position);
    }
  }
  if (!placedCurrent) FCurrent = Place({AEvent.Channel, AEvent.Place});
}

std::string TEvtBookmark::Render() {
  TCriticalSectionGuard guard(FLock);
  std::string xml = "<BookmarkList>\r\n";
  for (size_t i = 0; i < FEntries.size(); ++i) {
    xml += "  <Bookmark Channel='";
    AppendAttributeText(xml, FEntries[i].Channel);
    xml += "' RecordId='" + std::to_string(FEntries[i].Place.RecordId) + "'";
    if (FEntries[i].Place.Offset) xml += " Offset='" + std::to_string(*FEntries[i].Place.Offset) + "'";
    if (i == FCurrent) xml += " IsCurrent='true'";
    xml += "/>\r\n";
  }
  xml += "</BookmarkList>";
  return xml;
}

std::optional<TRecordPlace> TEvtBookmark::PlaceOf(std::string_view AChannel) {
  TCriticalSectionGuard guard(FLock);
  for (const TEvtPosition& entry : FEntries)
    if (SameChannelName(entry.Channel, AChannel)) return entry.Place;
  return std::nullopt;
}

std::optional<TEvtRenderContext::TValuePath> TEvtRenderContext::ParsePath(std::string_view APath) {
  TValuePath path;
  while (!APath.empty()) {
    const size_t slash = APath.find('/');
    const std::string_view step = APath.substr(0, slash);
    if (step.empty()) return std::nullopt;
    if (step.front() == '@') {
      if (slash != std::string_view::npos || step.size() == 1) return std::nullopt;
      path.Attribute = std::string(step.substr(1));
    } else {
      for (char c : step)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.')) return std::nullopt;
      path.Elements.emplace_back(step);
    }
    if (slash == std::string_view::npos) break;
    APath.remove_prefix(slash + 1);
    if (APath.empty()) return std::nullopt;
  }
  if (path.Elements.empty()) return std::nullopt;
  return path;
}

namespace {

// When every path lies under Event/System, the event up to the first
// "</System>", closed with "</Event>": that document answers them as the whole
// event does, and most of an event is its EventData. Empty when the paths go
// elsewhere or there is no such end tag. A cut that does not leave System as
// a whole child of Event (a "</System>" in a comment, a CDATA section or
// deeper down, a prefixed root) does not parse, and the caller then parses
// the whole event.
std::string SystemPart(std::string_view AXml, const std::vector<TEvtRenderContext::TValuePath>& APaths) {
  constexpr std::string_view EndTag = "</System>";
  if (APaths.empty()) return {};
  for (const TEvtRenderContext::TValuePath& path : APaths)
    if (path.Elements.size() < 2 || path.Elements[0] != "Event" || path.Elements[1] != "System") return {};
  const size_t end = AXml.find(EndTag);
  if (end == std::string_view::npos) return {};
  std::string part;
  part.reserve(end + EndTag.size() + 8);
  part.append(AXml.substr(0, end + EndTag.size()));
  part.append("</Event>");
  return part;
}

}  // namespace

std::vector<std::optional<std::string>> TEvtRenderContext::Values(std::string_view AXml) const {
  std::vector<std::optional<std::string>> values(Paths.size());
  pugi::xml_document document;
  const std::string systemPart = SystemPart(AXml, Paths);
  if (systemPart.empty() || !document.load_buffer(systemPart.data(), systemPart.size()) ||
      std::string_view(document.document_element().name()) != "Event") {
    if (!document.load_buffer(AXml.data(), AXml.size())) return values;
  }
  for (size_t i = 0; i < Paths.size(); ++i) {
    const TValuePath& path = Paths[i];
    pugi::xml_node node = document;
    for (const std::string& element : path.Elements) {
      pugi::xml_node child = node.first_child();
      while (child && !(child.type() == pugi::node_element && LocalName(child.name()) == element))
        child = child.next_sibling();
      node = child;
      if (!node) break;
    }
    if (!node) continue;
    if (path.Attribute.empty()) {
      values[i] = node.text().get();
      continue;
    }
    for (pugi::xml_attribute attribute = node.first_attribute(); attribute; attribute = attribute.next_attribute())
      if (LocalName(attribute.name()) == path.Attribute) {
        values[i] = attribute.value();
        break;
      }
  }
  return values;
}

TEvtRenderContext::TValues TEvtRenderContext::Values(const std::shared_ptr<TEvtEvent>& AEvent) const {
  {
    TCriticalSectionGuard guard(FLastLock);
    if (!FLastEvent.owner_before(AEvent) && !AEvent.owner_before(FLastEvent) && !FLastEvent.expired())
      return FLastValues;
  }
  TValues values = Values(AEvent->Xml);
  TCriticalSectionGuard guard(FLastLock);
  FLastEvent = AEvent;
  FLastValues = values;
  return values;
}

std::optional<std::string> TEvtNameEnum::Peek() {
  TCriticalSectionGuard guard(FLock);
  if (FNext >= FNames.size()) return std::nullopt;
  return FNames[FNext];
}

void TEvtNameEnum::Advance() {
  TCriticalSectionGuard guard(FLock);
  if (FNext < FNames.size()) ++FNext;
}

}  // namespace zor
