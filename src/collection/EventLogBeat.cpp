// TEventLog.GetWinLogBeat: one parsed event as a winlogbeat document, by a
// fixed field mapping.
#include <algorithm>
#include <array>
#include <string_view>

#include "beats/WinLogBeat.h"
#include "collection/EventLog.h"

namespace zor {

namespace {

using TEventDataSetter = void (TEventData::*)(const std::string&);

struct TEventDataField {
  std::string_view Name;
  TEventDataSetter Set;
};

// The event data names a document has a field for, sorted by byte value for
// the binary search (upper case before lower case: "param1" comes last).
constexpr std::array<TEventDataField, 29> EventDataFields = {{
    {"AuthenticationPackageName", &TEventData::SetAuthenticationPackageName},
    {"Binary", &TEventData::SetBinary},
    {"IpAddress", &TEventData::SetIpAddress},
    {"IpPort", &TEventData::SetIpPort},
    {"KeyLength", &TEventData::SetKeyLength},
    {"LmPackageName", &TEventData::SetLmPackageName},
    {"LogonGuid", &TEventData::SetLogonGuid},
    {"LogonProcessName", &TEventData::SetLogonProcessName},
    {"LogonType", &TEventData::SetLogonType},
    {"PrivilegeList", &TEventData::SetPrivilegeList},
    {"ProcessId", &TEventData::SetProcessId},
    {"ProcessName", &TEventData::SetProcessName},
    {"SubjectDomainName", &TEventData::SetSubjectDomainName},
    {"SubjectLogonId", &TEventData::SetSubjectLogonId},
    {"SubjectUserName", &TEventData::SetSubjectUserName},
    {"SubjectUserSid", &TEventData::SetSubjectUserSid},
    {"TargetDomainName", &TEventData::SetTargetDomainName},
    {"TargetLogonId", &TEventData::SetTargetLogonId},
    {"TargetUserName", &TEventData::SetTargetUserName},
    {"TargetUserSid", &TEventData::SetTargetUserSid},
    {"TransmittedServices", &TEventData::SetTransmittedServices},
    {"WorkstationName", &TEventData::SetWorkstationName},
    {"param1", &TEventData::SetParam1},
    {"param2", &TEventData::SetParam2},
    {"param3", &TEventData::SetParam3},
    {"param4", &TEventData::SetParam4},
    {"param5", &TEventData::SetParam5},
    {"param6", &TEventData::SetParam6},
    {"param7", &TEventData::SetParam7},
}};

static_assert(std::is_sorted(EventDataFields.begin(), EventDataFields.end(),
                             [](const TEventDataField& A, const TEventDataField& B) { return A.Name < B.Name; }));

// The setter of the field named exactly AName (case-sensitive), or nullptr.
TEventDataSetter FindEventDataSetter(std::string_view AName) {
  const auto it =
      std::lower_bound(EventDataFields.begin(), EventDataFields.end(), AName,
                       [](const TEventDataField& AField, std::string_view AKey) { return AField.Name < AKey; });
  return it != EventDataFields.end() && it->Name == AName ? it->Set : nullptr;
}

}  // namespace

std::unique_ptr<TWinLogBeat> TEventLog::GetWinLogBeat() const {
  auto beat = std::make_unique<TWinLogBeat>();
  FillWinLogBeat(*beat);
  return beat;
}

void TEventLog::FillWinLogBeat(TWinLogBeat& ADocument) const {
  // The event's UTC time as the record holds it: "@timestamp" shows it with "Z".
  ADocument.SetTimeStamp(FSystem.TimeCreated());
  ADocument.SetComputerName(FSystem.Computer());
  ADocument.SetEventID(FSystem.EventID().ID);

  // A later item of the same name overwrites an earlier one; other names are dropped.
  TEventData& eventData = ADocument.EventData();
  for (int i = 0; i < FEventData.Count(); ++i) {
    const TData& item = FEventData.GetListItem(i);
    if (const TEventDataSetter set = FindEventDataSetter(item.ParamName)) (eventData.*set)(item.Value);
  }

  const std::vector<std::string>& keywords = FRenderingInfo.Keywords();
  ADocument.Keywords().insert(ADocument.Keywords().end(), keywords.begin(), keywords.end());
  // The level name comes from the level number, never from the rendered text.
  ADocument.SetLevel(TEventLogSystem::LevelToString(FSystem.Level()));
  ADocument.SetLogName(FSystem.Channel());
  ADocument.SetLogType("wineventlog");
  ADocument.SetLogMessage(FRenderingInfo.MyMessage());
  ADocument.SetProcess_Id(FSystem.Execution().ProcessID);
  ADocument.SetThread_Id(FSystem.Execution().ThreadID);
  ADocument.SetProvider_Guid(FSystem.Provider().GUID);
  ADocument.SetSource_Name(FSystem.Provider().Name);
  ADocument.SetRecord_Number(std::to_string(FSystem.EventRecordID()));

  TUser& user = ADocument.User();
  user.SetIdentifier(FSystem.UserID());
  user.SetName(FSystem.UserName());
  user.SetDomain(FSystem.UserDomain());
}

}  // namespace zor
