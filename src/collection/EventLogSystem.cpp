#include "collection/EventLogSystem.h"

#include <charconv>
#include <limits>
#include <string_view>

#include "collection/EventXml.h"
#include "support/Utilities.h"

namespace zor {

using eventxml::ElementText;

TEventLogSystem::TEventLogSystem(const std::string& AXMLString) { Reset(AXMLString); }

TEventLogSystem::TEventLogSystem(const pugi::xml_node& AXMLNode) { Reset(AXMLNode); }

void TEventLogSystem::Reset() {
  // clear() rather than assignment of a fresh record: one record serves a whole
  // batch, so the strings keep their buffers from event to event.
  FProvider.Name.clear();
  FProvider.GUID.clear();
  FProvider.EventSourceName.clear();
  FEventID = TEventID();
  FVersion = -1;
  FLevel = -1;
  FTask = -1;
  FOpcode = -1;
  FKeywords = 0;
  FTimeCreated = 0;
  FEventRecordID = -1;
  FCorrelation.ActivityID.clear();
  FCorrelation.RelatedActivityID.clear();
  FExecution = TExecution();
  FChannel.clear();
  FComputer.clear();
  FUserID.clear();
  FUserName.clear();
  FUserDomain.clear();
  FHasData = false;
}

void TEventLogSystem::Reset(const std::string& AXMLString) { eventxml::ResetPartFromString(*this, AXMLString); }

void TEventLogSystem::Reset(const pugi::xml_node& AXMLNode) {
  Reset();
  if (!AXMLNode.first_child()) return;
  for (pugi::xml_node child = AXMLNode.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element) ReadChild(child);
  }
  FHasData = true;
}

namespace {

// An attribute's value when the element carries it. Absent attributes leave
// their field unchanged.
bool TryAttribute(const pugi::xml_node& ANode, const char* AName, std::string_view& AValue) {
  const pugi::xml_attribute attribute = ANode.attribute(AName);
  if (!attribute) return false;
  AValue = attribute.value();
  return true;
}

void AssignAttributeWithoutBraces(const pugi::xml_node& ANode, const char* AName, std::string& ATarget) {
  std::string_view value;
  if (TryAttribute(ANode, AName, value)) ATarget = eventxml::WithoutFirstAndLast(value);
}

void AssignInt32Text(const pugi::xml_node& ANode, const char* AWhat, int32_t& ATarget) {
  if (const char* text = ElementText(ANode)) ATarget = eventxml::ToInt32(text, AWhat);
}

// "0x" and hexadecimal digits; all bits set when the rest is not a 64-bit
// hexadecimal number.
uint64_t ParseKeywords(std::string_view AText) {
  if (AText.size() <= 2) return std::numeric_limits<uint64_t>::max();
  const std::string_view digits = AText.substr(2);
  uint64_t value = 0;
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, value, 16);
  if (ec != std::errc() || ptr != end) return std::numeric_limits<uint64_t>::max();
  return value;
}

}  // namespace

void TEventLogSystem::ReadChild(const pugi::xml_node& AChild) {
  const std::string_view name = AChild.name();
  if (name == "Provider") {
    for (const pugi::xml_attribute attribute : AChild.attributes()) {
      const std::string_view attributeName = attribute.name();
      if (attributeName == "Name")
        FProvider.Name.assign(attribute.value());
      else if (attributeName == "Guid")
        FProvider.GUID = eventxml::WithoutFirstAndLast(attribute.value());
      else if (attributeName == "EventSourceName")
        FProvider.EventSourceName.assign(attribute.value());
    }
  } else if (name == "EventID") {
    AssignInt32Text(AChild, "EventID", FEventID.ID);
    if (const pugi::xml_attribute qualifiers = AChild.attribute("Qualifiers"))
      FEventID.Qualifiers = eventxml::ToInt32OrMinusOne(qualifiers.value());
  } else if (name == "Version") {
    AssignInt32Text(AChild, "Version", FVersion);
  } else if (name == "Level") {
    AssignInt32Text(AChild, "Level", FLevel);
  } else if (name == "Task") {
    AssignInt32Text(AChild, "Task", FTask);
  } else if (name == "Opcode") {
    AssignInt32Text(AChild, "Opcode", FOpcode);
  } else if (name == "Keywords") {
    if (const char* text = ElementText(AChild)) FKeywords = ParseKeywords(text);
  } else if (name == "TimeCreated") {
    std::string_view value;
    if (TryAttribute(AChild, "SystemTime", value))
      FTimeCreated = TUtilities::ConvertIso8601StringToDateTime(std::string(value));
  } else if (name == "EventRecordID") {
    if (const char* text = ElementText(AChild)) FEventRecordID = eventxml::ToInt64(text, "EventRecordID");
  } else if (name == "Correlation") {
    AssignAttributeWithoutBraces(AChild, "ActivityID", FCorrelation.ActivityID);
    AssignAttributeWithoutBraces(AChild, "RelatedActivityID", FCorrelation.RelatedActivityID);
  } else if (name == "Execution") {
    // One pass over the attributes: an attribute may appear in any order or not at all.
    for (const pugi::xml_attribute attribute : AChild.attributes()) {
      const std::string_view attributeName = attribute.name();
      const char* value = attribute.value();
      if (attributeName == "ProcessID")
        FExecution.ProcessID = eventxml::ToInt32OrMinusOne(value);
      else if (attributeName == "ThreadID")
        FExecution.ThreadID = eventxml::ToInt32OrMinusOne(value);
      else if (attributeName == "ProcessorID")
        FExecution.ProcessorID = eventxml::ToInt32OrMinusOne(value);
      else if (attributeName == "SessionID")
        FExecution.SessionID = eventxml::ToInt32OrMinusOne(value);
      else if (attributeName == "KernelTime")
        FExecution.KernelTime = eventxml::ToInt64OrMinusOne(value);
      else if (attributeName == "UserTime")
        FExecution.UserTime = eventxml::ToInt64OrMinusOne(value);
      else if (attributeName == "ProcessorTime")
        FExecution.ProcessorTime = eventxml::ToInt64OrMinusOne(value);
    }
  } else if (name == "Channel") {
    if (const char* text = ElementText(AChild)) FChannel.assign(text);
  } else if (name == "Computer") {
    if (const char* text = ElementText(AChild)) FComputer.assign(text);
  } else if (name == "Security") {
    const pugi::xml_attribute userID = AChild.attribute("UserID");
    if (userID) {
      FUserID.assign(userID.value());
      ResolveAccount();
    }
  }
}

void TEventLogSystem::ResolveAccount() {
  // Only well-known identifiers resolve here; any other leaves name and domain empty.
  TAccountName account;
  if (TUtilities::LookupAccountBySid(FUserID, account)) {
    FUserName = std::move(account.Name);
    FUserDomain = std::move(account.Domain);
  }
}

TSyslogSeverity TEventLogSystem::LevelToSeverity(int32_t ALevel) {
  switch (ALevel) {
    case 1:
      return TSyslogSeverity::slCritical;
    case 2:
      return TSyslogSeverity::slError;
    case 3:
      return TSyslogSeverity::slWarning;
    case 5:
      return TSyslogSeverity::slInformational;
    default:  // 4, 0 and every unknown level
      return TSyslogSeverity::slNotice;
  }
}

const std::string& TEventLogSystem::LevelToString(int32_t ALevel) {
  static const std::string Critical = "Critical";
  static const std::string Error = "Error";
  static const std::string Warning = "Warning";
  static const std::string Information = "Information";
  static const std::string Verbose = "Verbose";
  switch (ALevel) {
    case 1:
      return Critical;
    case 2:
      return Error;
    case 3:
      return Warning;
    case 4:
      return Information;
    default:  // 0, 5 and every unknown level
      return Verbose;
  }
}

}  // namespace zor
