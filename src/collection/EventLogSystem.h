#pragma once

#include <pugixml.hpp>

#include <cstdint>
#include <string>

#include "syslog/SyslogGlobal.h"

namespace zor {

struct TProvider {
  std::string Name;
  std::string GUID;  // without its braces
  std::string EventSourceName;
};

struct TEventID {
  int32_t ID = -1;
  int32_t Qualifiers = -1;
};

struct TCorrelation {
  std::string ActivityID;  // without braces
  std::string RelatedActivityID;
};

struct TExecution {
  int32_t ProcessID = -1;
  int32_t ThreadID = -1;
  int32_t ProcessorID = -1;
  int32_t SessionID = -1;
  int64_t KernelTime = -1;
  int64_t UserTime = -1;
  int64_t ProcessorTime = -1;
};

// The "System" element of one rendered event. Plain value class, owned by its
// TEventLog and refilled by every Reset; not shared between threads.
class TEventLogSystem {
 public:
  TEventLogSystem() = default;
  // Parses a string whose document element is a System element; fails with
  // EEventLogError on XML that does not parse or a number that does not convert.
  explicit TEventLogSystem(const std::string& AXMLString);
  explicit TEventLogSystem(const pugi::xml_node& AXMLNode);

  // Makes the record empty (the values of a default-constructed one).
  void Reset();
  // Makes it empty, then reads the element. Fields read before a failing
  // conversion keep what they read.
  void Reset(const std::string& AXMLString);
  void Reset(const pugi::xml_node& AXMLNode);

  // Event level to syslog severity: 1 critical, 2 error, 3 warning, 4 notice,
  // 5 informational, anything else notice.
  [[nodiscard]] static TSyslogSeverity LevelToSeverity(int32_t ALevel);
  // Event level to its name; 0, 5 and unknown levels are "Verbose".
  [[nodiscard]] static const std::string& LevelToString(int32_t ALevel);

  const TProvider& Provider() const { return FProvider; }
  const TEventID& EventID() const { return FEventID; }
  const TCorrelation& Correlation() const { return FCorrelation; }
  const TExecution& Execution() const { return FExecution; }
  bool HasData() const { return FHasData; }

  int32_t Version() const { return FVersion; }
  void SetVersion(int32_t AValue) { FVersion = AValue; }
  int32_t Level() const { return FLevel; }
  void SetLevel(int32_t AValue) { FLevel = AValue; }
  int32_t Task() const { return FTask; }
  void SetTask(int32_t AValue) { FTask = AValue; }
  int32_t OpCode() const { return FOpcode; }
  void SetOpCode(int32_t AValue) { FOpcode = AValue; }
  uint64_t Keywords() const { return FKeywords; }
  void SetKeywords(uint64_t AValue) { FKeywords = AValue; }
  // Days since 1899-12-30: the event's UTC time as written in the XML.
  double TimeCreated() const { return FTimeCreated; }
  void SetTimeCreated(double AValue) { FTimeCreated = AValue; }
  // 64-bit: record identifiers of a long-lived channel pass 2^31.
  int64_t EventRecordID() const { return FEventRecordID; }
  void SetEventRecordID(int64_t AValue) { FEventRecordID = AValue; }
  const std::string& Channel() const { return FChannel; }
  void SetChannel(const std::string& AValue) { FChannel = AValue; }
  const std::string& Computer() const { return FComputer; }
  void SetComputer(const std::string& AValue) { FComputer = AValue; }
  const std::string& UserID() const { return FUserID; }
  void SetUserID(const std::string& AValue) { FUserID = AValue; }
  const std::string& UserName() const { return FUserName; }
  void SetUserName(const std::string& AValue) { FUserName = AValue; }
  const std::string& UserDomain() const { return FUserDomain; }
  void SetUserDomain(const std::string& AValue) { FUserDomain = AValue; }

 private:
  void ReadChild(const pugi::xml_node& AChild);
  void ResolveAccount();

  TProvider FProvider;
  TEventID FEventID;
  int32_t FVersion = -1;
  int32_t FLevel = -1;
  int32_t FTask = -1;
  int32_t FOpcode = -1;
  uint64_t FKeywords = 0;
  double FTimeCreated = 0;
  int64_t FEventRecordID = -1;
  TCorrelation FCorrelation;
  TExecution FExecution;
  std::string FChannel;
  std::string FComputer;
  std::string FUserID;
  std::string FUserName;
  std::string FUserDomain;
  bool FHasData = false;
};

}  // namespace zor
