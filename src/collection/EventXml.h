#pragma once

#include <pugixml.hpp>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Errors.h"
#include "support/Utilities.h"

// Small helpers shared by the event record parts (EventLogSystem, EventLogData,
// EventLogRenderingInfo): reading a parsed event DOM and converting its texts.
// Stateless; any thread may call them.

namespace zor {

// Event XML that does not parse. Reset of the record passes it on to its
// caller, as it does EConvertError for a text that is not a number where one
// is required.
class EEventLogError : public EZorError {
 public:
  using EZorError::EZorError;
};

namespace eventxml {

// pugixml options for rendered events: entity references decoded, line ends
// normalised and attribute white space converted as any XML parser does; a
// text made only of blanks is kept when it is the element's only child (a
// <Data> holding one blank keeps it), white space between elements is not.
// No processing instructions, comments or doctype nodes are built.
constexpr unsigned int ParseOptions = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol |
                                      pugi::parse_wconv_attribute | pugi::parse_ws_pcdata_single;

// The element's own text: the value of its first text or CDATA child, or
// nullptr when it has none (the caller then leaves its field unchanged).
inline const char* ElementText(const pugi::xml_node& ANode) {
  for (pugi::xml_node child = ANode.first_child(); child; child = child.next_sibling()) {
    const pugi::xml_node_type type = child.type();
    if (type == pugi::node_pcdata || type == pugi::node_cdata) return child.value();
  }
  return nullptr;
}

// Integer text (the system's conversion, TUtilities::TryStrToInt) to a signed
// 32-bit integer; fails with EConvertError naming AWhat and the text when it
// is not one.
int32_t ToInt32(std::string_view AText, const char* AWhat);
int64_t ToInt64(std::string_view AText, const char* AWhat);

// Integer text to a signed integer, or -1 when it is not one.
int32_t ToInt32OrMinusOne(std::string_view AText);
int64_t ToInt64OrMinusOne(std::string_view AText);

// The text without its first and last character (the braces of a GUID);
// empty when it is shorter than two characters.
std::string WithoutFirstAndLast(std::string_view AText);

// Fails with EEventLogError (description and byte offset) unless AResult is
// a successful parse.
void CheckParseResult(const pugi::xml_parse_result& AResult);

// Whether ATail, the text of an event after the end of a child of its
// document element "Event", is well-formed to the end of the event as the
// XML parser above reads it: content made of elements with quoted attributes
// (a blank before each) and text, then "</Event>", then blanks only.
// Comments, CDATA sections, processing instructions, non-ASCII names, a NUL,
// a "<" inside a value or nesting deeper than 64 give false even where the
// parser would accept them: false means only "not known to be well formed".
// Reads the text once and allocates nothing; any thread may call it.
bool ClosesEvent(std::string_view ATail);

// Parses AText as one XML document into ADocument, failing with
// EEventLogError (description and byte offset) when it is not well formed.
// ADocument keeps its own copy of the text.
void ParseDocument(pugi::xml_document& ADocument, const std::string& AText);

// Reset of a record part from a string: empty the part, parse the text, read
// its document element.
template <typename TPart>
void ResetPartFromString(TPart& APart, const std::string& AXMLString) {
  APart.Reset();
  pugi::xml_document document;
  ParseDocument(document, AXMLString);
  APart.Reset(document.document_element());
}

}  // namespace eventxml
}  // namespace zor
