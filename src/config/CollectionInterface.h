#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "beats/BeatReceiver.h"
#include "support/ConfigList.h"
#include "support/JSONConfig.h"
#include "support/JSONKeyTable.h"
#include "syslog/SyslogGlobal.h"
#include "syslog/SyslogReceiver.h"

namespace zor {

// Kind of a reader, stored as its ordinal. Every enabled reader is read as a
// Windows event log channel whatever its kind.
enum class TInterfaceType : uint8_t { rtNone = 0, rtWinEvt = 1, rtTraceFile = 2, rtFile = 3, rtFlow = 4 };

// One reader of the configuration ("interfaces" entry): the event log channel
// (Path) on a computer (WinHost, empty: this one) with an account, the events
// to drop (ExclusionRegex), the syslog priority to give, and the syslog and
// beat receivers the results go to. Passwords are clear text in memory and
// encrypted in JSON.
//
// A plain value: the copy constructor copies the exclusion list and both
// receiver lists deeply, which is how subscribers and processing batches get
// their own copy. Not thread-safe.
class TCollectionInterface : public TJSONConfig<TCollectionInterface> {
 public:
  TCollectionInterface();

  [[nodiscard]] int32_t InterfaceID() const { return FInterfaceID; }
  void SetInterfaceID(int32_t AValue) { FInterfaceID = AValue; }
  [[nodiscard]] int32_t CollectorID() const { return FCollectorID; }
  void SetCollectorID(int32_t AValue) { FCollectorID = AValue; }
  [[nodiscard]] TInterfaceType InterfaceType() const { return FInterfaceType; }
  void SetInterfaceType(TInterfaceType AValue) { FInterfaceType = AValue; }
  [[nodiscard]] const std::string& Name() const { return FName; }
  void SetName(const std::string& AValue) { FName = AValue; }
  [[nodiscard]] int32_t BatchSize() const { return FBatchSize; }
  void SetBatchSize(int32_t AValue) { FBatchSize = AValue; }
  [[nodiscard]] bool StartAtBeginning() const { return FStartAtBeginning; }
  void SetStartAtBeginning(bool AValue) { FStartAtBeginning = AValue; }
  [[nodiscard]] bool Enabled() const { return FEnabled; }
  void SetEnabled(bool AValue) { FEnabled = AValue; }
  [[nodiscard]] const std::string& Path() const { return FPath; }
  void SetPath(const std::string& AValue) { FPath = AValue; }
  [[nodiscard]] const std::string& WinHost() const { return FWinHost; }
  void SetWinHost(const std::string& AValue) { FWinHost = AValue; }
  [[nodiscard]] const std::string& WinAcct() const { return FWinAcct; }
  void SetWinAcct(const std::string& AValue) { FWinAcct = AValue; }
  [[nodiscard]] const std::string& WinAcctPassword() const { return FWinAcctPassword; }
  void SetWinAcctPassword(const std::string& AValue) { FWinAcctPassword = AValue; }
  [[nodiscard]] const std::string& DbHost() const { return FDbHost; }
  void SetDbHost(const std::string& AValue) { FDbHost = AValue; }
  [[nodiscard]] const std::string& DbName() const { return FDbName; }
  void SetDbName(const std::string& AValue) { FDbName = AValue; }
  [[nodiscard]] const std::string& DbUser() const { return FDbUser; }
  void SetDbUser(const std::string& AValue) { FDbUser = AValue; }
  [[nodiscard]] const std::string& DbPassword() const { return FDbPassword; }
  void SetDbPassword(const std::string& AValue) { FDbPassword = AValue; }
  [[nodiscard]] const std::string& ListenAddress() const { return FListenAddress; }
  void SetListenAddress(const std::string& AValue) { FListenAddress = AValue; }
  [[nodiscard]] uint16_t ListenPort() const { return FListenPort; }
  void SetListenPort(uint16_t AValue) { FListenPort = AValue; }
  [[nodiscard]] const std::string& SelectionDetail() const { return FSelectionDetail; }
  void SetSelectionDetail(const std::string& AValue) { FSelectionDetail = AValue; }
  // Changed in place.
  [[nodiscard]] std::vector<std::string>& ExclusionRegex() { return FExclusionRegex; }
  [[nodiscard]] const std::vector<std::string>& ExclusionRegex() const { return FExclusionRegex; }
  [[nodiscard]] TSyslogFacility DefaultFacility() const { return FDefaultFacility; }
  void SetDefaultFacility(TSyslogFacility AValue) { FDefaultFacility = AValue; }
  [[nodiscard]] bool DeriveSeverity() const { return FDeriveSeverity; }
  void SetDeriveSeverity(bool AValue) { FDeriveSeverity = AValue; }
  [[nodiscard]] TSyslogSeverity DefaultSeverity() const { return FDefaultSeverity; }
  void SetDefaultSeverity(TSyslogSeverity AValue) { FDefaultSeverity = AValue; }
  [[nodiscard]] bool Parse() const { return FParse; }
  void SetParse(bool AValue) { FParse = AValue; }
  [[nodiscard]] bool RawLogOnly() const { return FRawLogOnly; }
  void SetRawLogOnly(bool AValue) { FRawLogOnly = AValue; }
  [[nodiscard]] bool StripNewLines() const { return FStripNewLines; }
  void SetStripNewLines(bool AValue) { FStripNewLines = AValue; }
  // Owned by the reader; changed in place.
  [[nodiscard]] TSyslogReceiverList& SyslogReceivers() { return FSyslogReceivers; }
  [[nodiscard]] const TSyslogReceiverList& SyslogReceivers() const { return FSyslogReceivers; }
  [[nodiscard]] TBeatReceiverList& BeatReceivers() { return FBeatReceivers; }
  [[nodiscard]] const TBeatReceiverList& BeatReceivers() const { return FBeatReceivers; }

  // Applies the keys present; the exclusion list is always emptied first and
  // refilled only from a present "exclusionRegex". A list value of the wrong
  // kind raises EConfigError with its path.
  void FromJSONObject(const TJSONValue& AValue);

  // Every scalar (passwords included, strings exactly), the exclusion list in
  // order, and both receiver lists in any order.
  using TJSONConfig::AreEqual;

 private:
  friend class TJSONConfig<TCollectionInterface>;
  static const TJSONKeyTable<TCollectionInterface>& Keys();

  // Defaults come from the key table (constructor).
  int32_t FInterfaceID{};
  int32_t FCollectorID{};
  TInterfaceType FInterfaceType{};
  std::string FName;
  int32_t FBatchSize{};
  bool FStartAtBeginning{};
  bool FEnabled{};
  std::string FPath;
  std::string FWinHost;
  std::string FWinAcct;
  std::string FWinAcctPassword;
  std::string FDbHost;
  std::string FDbName;
  std::string FDbUser;
  std::string FDbPassword;
  std::string FListenAddress;
  uint16_t FListenPort{};
  std::string FSelectionDetail;
  std::vector<std::string> FExclusionRegex;
  TSyslogFacility FDefaultFacility{};
  bool FDeriveSeverity{};
  TSyslogSeverity FDefaultSeverity{};
  bool FParse{};
  bool FRawLogOnly{};
  bool FStripNewLines{};
  TSyslogReceiverList FSyslogReceivers;
  TBeatReceiverList FBeatReceivers;
};

// The readers of the configuration, owned, in order.
using TCollectionInterfaceList = TConfigList<TCollectionInterface>;

}  // namespace zor
