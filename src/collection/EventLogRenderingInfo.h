#pragma once

#include <pugixml.hpp>

#include <string>
#include <vector>

namespace zor {

// The "RenderingInfo" element that formatting with the publisher's message
// texts adds to an event: the message and the display names of level, opcode,
// task, channel, provider and keywords. Plain value class, owned by its
// TEventLog and refilled by every Reset; not shared between threads.
class TEventLogRenderingInfo {
 public:
  TEventLogRenderingInfo() = default;
  // Parses a string whose document element is a RenderingInfo element; fails
  // with EEventLogError on XML that does not parse.
  explicit TEventLogRenderingInfo(const std::string& AXMLString);
  explicit TEventLogRenderingInfo(const pugi::xml_node& AXMLNode);

  void Reset();
  void Reset(const std::string& AXMLString);
  void Reset(const pugi::xml_node& AXMLNode);

  const std::string& MyMessage() const { return FMessage; }
  const std::string& Level() const { return FLevel; }
  const std::string& OpCode() const { return FOpcode; }
  const std::string& Task() const { return FTask; }
  const std::string& Channel() const { return FChannel; }
  const std::string& Provider() const { return FProvider; }
  // The keyword names in document order, duplicates kept.
  const std::vector<std::string>& Keywords() const { return FKeywords; }
  bool HasData() const { return FHasData; }

 private:
  std::string FMessage;
  std::string FLevel;
  std::string FOpcode;
  std::string FTask;
  std::string FChannel;
  std::string FProvider;
  std::vector<std::string> FKeywords;
  bool FHasData = false;
};

}  // namespace zor
