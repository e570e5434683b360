#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/ConfigList.h"
#include "support/JSONConfig.h"
#include "support/JSONKeyTable.h"
#include "syslog/SyslogGlobal.h"

namespace zor {

// One syslog destination of a reader: where to send, over which transport
// with which frame delimiter, in which message format (SyslogVersion 0: BSD,
// else IETF), and whether the sender keeps a copy in a file named after Name.
//
// A plain value: copies are deep (the forward address list included). Not
// thread-safe; each thread works on its own copy of the reader that holds it.
class TSyslogReceiver : public TJSONConfig<TSyslogReceiver> {
 public:
  TSyslogReceiver();

  [[nodiscard]] int32_t SyslogReceiverID() const { return FSyslogReceiverID; }
  void SetSyslogReceiverID(int32_t AValue) { FSyslogReceiverID = AValue; }
  [[nodiscard]] const std::string& Name() const { return FName; }
  void SetName(const std::string& AValue) { FName = AValue; }
  [[nodiscard]] const std::string& Host() const { return FHost; }
  void SetHost(const std::string& AValue) { FHost = AValue; }
  [[nodiscard]] uint16_t Port() const { return FPort; }
  void SetPort(uint16_t AValue) { FPort = AValue; }
  [[nodiscard]] TSysLogTransport Transport() const { return FTransport; }
  void SetTransport(TSysLogTransport AValue) { FTransport = AValue; }
  [[nodiscard]] TSyslogDelimiter TCPDelimiter() const { return FTCPDelimiter; }
  void SetTCPDelimiter(TSyslogDelimiter AValue) { FTCPDelimiter = AValue; }
  [[nodiscard]] bool SaveToFile() const { return FSaveToFile; }
  void SetSaveToFile(bool AValue) { FSaveToFile = AValue; }
  [[nodiscard]] bool StripNewLine() const { return FStripNewLine; }
  void SetStripNewLine(bool AValue) { FStripNewLine = AValue; }
  [[nodiscard]] bool NewLineToSpace() const { return FNewLineToSpace; }
  void SetNewLineToSpace(bool AValue) { FNewLineToSpace = AValue; }
  [[nodiscard]] bool StripTab() const { return FStripTab; }
  void SetStripTab(bool AValue) { FStripTab = AValue; }
  [[nodiscard]] bool TabToSpace() const { return FTabToSpace; }
  void SetTabToSpace(bool AValue) { FTabToSpace = AValue; }
  [[nodiscard]] int32_t SyslogVersion() const { return FSyslogVersion; }
  void SetSyslogVersion(int32_t AValue) { FSyslogVersion = AValue; }
  [[nodiscard]] const std::string& ForwardHeader() const { return FForwardHeader; }
  void SetForwardHeader(const std::string& AValue) { FForwardHeader = AValue; }
  // Changed in place.
  [[nodiscard]] std::vector<std::string>& ForwardIPList() { return FForwardIPList; }
  [[nodiscard]] const std::vector<std::string>& ForwardIPList() const { return FForwardIPList; }
  [[nodiscard]] bool NoDelimOnLast() const { return FNoDelimOnLast; }
  void SetNoDelimOnLast(bool AValue) { FNoDelimOnLast = AValue; }
  [[nodiscard]] bool PersistentConnection() const { return FPersistentConnection; }
  void SetPersistentConnection(bool AValue) { FPersistentConnection = AValue; }

  // Applies the keys present, with three rules beyond the key table: an absent
  // "transport" means UDP and an absent "tcpDelimiter" no delimiter (octet
  // counting); the forward address list is always emptied, and is read from
  // "forwardIpList" only when "forwardHeader" is present.
  void FromJSONObject(const TJSONValue& AValue);

  // Receiver id, name, host, port, transport, delimiter, the four new-line and
  // tab switches, persistent connection and save to file; strings exactly.
  // Version, forward header and address list and noDelimOnLast are not compared.
  using TJSONConfig::AreEqual;

  // The words of "transport" and "tcpDelimiter".
  [[nodiscard]] static std::string TransportToStr(TSysLogTransport AValue);
  [[nodiscard]] static TSysLogTransport StrToTransport(std::string_view AValue);
  [[nodiscard]] static std::string DelimiterToStr(TSyslogDelimiter AValue);
  [[nodiscard]] static TSyslogDelimiter StrToDelimiter(std::string_view AValue);

 private:
  friend class TJSONConfig<TSyslogReceiver>;
  static const TJSONKeyTable<TSyslogReceiver>& Keys();

  // Defaults come from the key table (constructor).
  int32_t FSyslogReceiverID{};
  std::string FName;
  std::string FHost;
  uint16_t FPort{};
  TSysLogTransport FTransport{};
  TSyslogDelimiter FTCPDelimiter{};
  bool FSaveToFile{};
  bool FStripNewLine{};
  bool FNewLineToSpace{};
  bool FStripTab{};
  bool FTabToSpace{};
  int32_t FSyslogVersion{};
  std::string FForwardHeader;
  std::vector<std::string> FForwardIPList;
  bool FNoDelimOnLast{};
  bool FPersistentConnection{};
};

// The syslog receivers of one reader, owned, in order. Besides the array form
// it has an object form {"receivers": [...]}.
class TSyslogReceiverList : public TConfigList<TSyslogReceiver> {
 public:
  // {"receivers": ToJSONArray()}; the caller owns it.
  [[nodiscard]] std::unique_ptr<TJSONObject> ToJSONObject() const;
  // Clears the list and reads the array under "receivers" (absent: stays empty).
  void FromJSONObject(const TJSONValue& AValue);
  [[nodiscard]] std::string AsJSONString() const;
  void SetAsJSONString(std::string_view AText);
  [[nodiscard]] static std::unique_ptr<TSyslogReceiverList> GetFromJSONString(std::string_view AText);
  [[nodiscard]] static std::unique_ptr<TSyslogReceiverList> GetFromJSONArrayString(std::string_view AText);
};

}  // namespace zor
