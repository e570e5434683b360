#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "beats/LogBeat.h"
#include "support/JSONKeyTable.h"

namespace zor {

// The parts of a winlogbeat document. Each is a plain value of text fields
// (TDocker and TMeta hold one part each) with its own key table: every key is
// written, empty strings included, and the part "has data" when a text is not
// blank (or the part it holds has data). A part without data is left out of
// the document.
template <class TPart>
class TBeatPart {
 public:
  [[nodiscard]] bool HasData() const { return TPart::Keys().HasData(Self()); }
  [[nodiscard]] std::unique_ptr<TJSONObject> ToJSONObject() const { return TPart::Keys().ToJSONObject(Self()); }
  // Applies the keys present; AValue must be an object (else EJSONTypeError).
  void FromJSONObject(const TJSONObject& AValue) { TPart::Keys().Read(static_cast<TPart&>(*this), AValue); }
  // Appends the compact text of ToJSONObject, without building it.
  void AppendJSON(std::string& AOut) const { TPart::Keys().AppendCompact(Self(), AOut); }
  [[nodiscard]] std::string AsJSONString() const {
    std::string text;
    AppendJSON(text);
    return text;
  }
  void SetAsJSONString(std::string_view AValue) { FromJSONObject(Json::ParseObject(AValue)); }
  // Empties every text (and held part), keeping the text buffers.
  void Clear() { TPart::Keys().SetDefaults(static_cast<TPart&>(*this)); }

 private:
  const TPart& Self() const { return static_cast<const TPart&>(*this); }
};

// A text property: Name() and SetName() over the field AField.
#define ZOR_BEAT_TEXT(Name, AField)                                     \
  [[nodiscard]] const std::string& Name() const { return AField; }      \
  void Set##Name(const std::string& AValue) { AField = AValue; }

class TBeat : public TBeatPart<TBeat> {
 public:
  TBeat() = default;
  TBeat(std::string AHostName, std::string AName, std::string ATimeZone, std::string AVersion)
      : FHostName(std::move(AHostName)), FName(std::move(AName)), FTimeZone(std::move(ATimeZone)),
        FVersion(std::move(AVersion)) {}
  ZOR_BEAT_TEXT(HostName, FHostName)
  ZOR_BEAT_TEXT(Name, FName)
  ZOR_BEAT_TEXT(TimeZone, FTimeZone)
  ZOR_BEAT_TEXT(Version, FVersion)
  static const TJSONKeyTable<TBeat>& Keys();

 private:
  std::string FHostName, FName, FTimeZone, FVersion;
};

class TContainer : public TBeatPart<TContainer> {
 public:
  TContainer() = default;
  TContainer(std::string AID, std::string AImage, std::string AName)
      : FID(std::move(AID)), FImage(std::move(AImage)), FName(std::move(AName)) {}
  ZOR_BEAT_TEXT(ID, FID)
  ZOR_BEAT_TEXT(Image, FImage)
  ZOR_BEAT_TEXT(Name, FName)
  static const TJSONKeyTable<TContainer>& Keys();

 private:
  std::string FID, FImage, FName;
};

class TDocker : public TBeatPart<TDocker> {
 public:
  [[nodiscard]] const TContainer& Container() const { return FContainer; }
  [[nodiscard]] TContainer& Container() { return FContainer; }
  static const TJSONKeyTable<TDocker>& Keys();

 private:
  TContainer FContainer;
};

class TError : public TBeatPart<TError> {
 public:
  TError() = default;
  TError(std::string ACode, std::string AMessage, std::string AType)
      : FCode(std::move(ACode)), FMessage(std::move(AMessage)), FType(std::move(AType)) {}
  ZOR_BEAT_TEXT(Code, FCode)
  ZOR_BEAT_TEXT(ErrorMessage, FMessage)
  ZOR_BEAT_TEXT(ErrorType, FType)
  static const TJSONKeyTable<TError>& Keys();

 private:
  std::string FCode, FMessage, FType;
};

class TCloud : public TBeatPart<TCloud> {
 public:
  ZOR_BEAT_TEXT(Availability_Zone, FAvailability_Zone)
  ZOR_BEAT_TEXT(Instance_Id, FInstance_Id)
  ZOR_BEAT_TEXT(Instance_Name, FInstance_Name)
  ZOR_BEAT_TEXT(Machine_Type, FMachine_Type)
  ZOR_BEAT_TEXT(Project_Id, FProject_Id)
  ZOR_BEAT_TEXT(Provider, FProvider)
  ZOR_BEAT_TEXT(Region, FRegion)
  static const TJSONKeyTable<TCloud>& Keys();

 private:
  std::string FAvailability_Zone, FInstance_Id, FInstance_Name, FMachine_Type, FProject_Id, FProvider, FRegion;
};

class TMeta : public TBeatPart<TMeta> {
 public:
  [[nodiscard]] const TCloud& Cloud() const { return FCloud; }
  [[nodiscard]] TCloud& Cloud() { return FCloud; }
  static const TJSONKeyTable<TMeta>& Keys();

 private:
  TCloud FCloud;
};

class TUser : public TBeatPart<TUser> {
 public:
  TUser() = default;
  TUser(std::string ADomain, std::string AIdentifier, std::string AName, std::string AType)
      : FDomain(std::move(ADomain)), FIdentifier(std::move(AIdentifier)), FName(std::move(AName)),
        FType(std::move(AType)) {}
  ZOR_BEAT_TEXT(Domain, FDomain)
  ZOR_BEAT_TEXT(Identifier, FIdentifier)
  ZOR_BEAT_TEXT(Name, FName)
  ZOR_BEAT_TEXT(UserType, FType)
  static const TJSONKeyTable<TUser>& Keys();

 private:
  std::string FDomain, FIdentifier, FName, FType;
};

class TUserData : public TBeatPart<TUserData> {
 public:
  ZOR_BEAT_TEXT(AppType, FAppType)
  ZOR_BEAT_TEXT(AppVersion, FAppVersion)
  ZOR_BEAT_TEXT(UserDataType, FType)
  ZOR_BEAT_TEXT(DisplayName, FDisplayName)
  ZOR_BEAT_TEXT(FullPath, FFullPath)
  ZOR_BEAT_TEXT(Pid, FPid)
  ZOR_BEAT_TEXT(Reason, FReason)
  ZOR_BEAT_TEXT(RebootReasons, FRebootReasons)
  ZOR_BEAT_TEXT(RmSessionId, FRmSessionId)
  ZOR_BEAT_TEXT(Status, FStatus)
  ZOR_BEAT_TEXT(TSSessionId, FTSSessionId)
  ZOR_BEAT_TEXT(UTCStartTime, FUTCStartTime)
  ZOR_BEAT_TEXT(nApplications, FnApplications)
  ZOR_BEAT_TEXT(Xml_Name, FXml_Name)
  static const TJSONKeyTable<TUserData>& Keys();

 private:
  std::string FAppType, FAppVersion, FType, FDisplayName, FFullPath, FPid, FReason, FRebootReasons, FRmSessionId,
      FStatus, FTSSessionId, FUTCStartTime, FnApplications, FXml_Name;
};

class TEventData : public TBeatPart<TEventData> {
 public:
  ZOR_BEAT_TEXT(AuthenticationPackageName, FAuthenticationPackageName)
  ZOR_BEAT_TEXT(Binary, FBinary)
  ZOR_BEAT_TEXT(IpAddress, FIpAddress)
  ZOR_BEAT_TEXT(IpPort, FIpPort)
  ZOR_BEAT_TEXT(KeyLength, FKeyLength)
  ZOR_BEAT_TEXT(LmPackageName, FLmPackageName)
  ZOR_BEAT_TEXT(LogonGuid, FLogonGuid)
  ZOR_BEAT_TEXT(LogonProcessName, FLogonProcessName)
  ZOR_BEAT_TEXT(LogonType, FLogonType)
  ZOR_BEAT_TEXT(PrivilegeList, FPrivilegeList)
  ZOR_BEAT_TEXT(ProcessId, FProcessId)
  ZOR_BEAT_TEXT(ProcessName, FProcessName)
  ZOR_BEAT_TEXT(SubjectDomainName, FSubjectDomainName)
  ZOR_BEAT_TEXT(SubjectLogonId, FSubjectLogonId)
  ZOR_BEAT_TEXT(SubjectUserName, FSubjectUserName)
  ZOR_BEAT_TEXT(SubjectUserSid, FSubjectUserSid)
  ZOR_BEAT_TEXT(TargetDomainName, FTargetDomainName)
  ZOR_BEAT_TEXT(TargetLogonId, FTargetLogonId)
  ZOR_BEAT_TEXT(TargetUserName, FTargetUserName)
  ZOR_BEAT_TEXT(TargetUserSid, FTargetUserSid)
  ZOR_BEAT_TEXT(TransmittedServices, FTransmittedServices)
  ZOR_BEAT_TEXT(WorkstationName, FWorkstationName)
  ZOR_BEAT_TEXT(Param1, Fparam1)
  ZOR_BEAT_TEXT(Param2, Fparam2)
  ZOR_BEAT_TEXT(Param3, Fparam3)
  ZOR_BEAT_TEXT(Param4, Fparam4)
  ZOR_BEAT_TEXT(Param5, Fparam5)
  ZOR_BEAT_TEXT(Param6, Fparam6)
  ZOR_BEAT_TEXT(Param7, Fparam7)
  static const TJSONKeyTable<TEventData>& Keys();

 private:
  std::string FAuthenticationPackageName, FBinary, FIpAddress, FIpPort, FKeyLength, FLmPackageName, FLogonGuid,
      FLogonProcessName, FLogonType, FPrivilegeList, FProcessId, FProcessName, FSubjectDomainName, FSubjectLogonId,
      FSubjectUserName, FSubjectUserSid, FTargetDomainName, FTargetLogonId, FTargetUserName, FTargetUserSid,
      FTransmittedServices, FWorkstationName, Fparam1, Fparam2, Fparam3, Fparam4, Fparam5, Fparam6, Fparam7;
};

// A winlogbeat-shaped event document: the fields below in the order their
// keys are written ("@timestamp", "activity_id", "beat", ... "xml"). Texts
// and the four integers are always written; the parts and "keywords" only
// when they hold data. The document owns its parts and keyword list.
class TWinLogBeat : public TLogBeat {
 public:
  // The current local time, empty texts, zero integers, empty parts.
  TWinLogBeat();
  // A deep copy (not the routing fields of TLogBeat).
  explicit TWinLogBeat(const TWinLogBeat& ASource);

  // Stored as given and written with "Z": no time-zone conversion.
  [[nodiscard]] TDateTime TimeStamp() const { return FTimeStamp; }
  void SetTimeStamp(TDateTime AValue) { FTimeStamp = AValue; }
  ZOR_BEAT_TEXT(ActivityID, FActivityID)
  ZOR_BEAT_TEXT(ComputerName, FComputerName)
  ZOR_BEAT_TEXT(Level, FLevel)
  ZOR_BEAT_TEXT(LogName, FLogName)
  ZOR_BEAT_TEXT(LogMessage, FMessage)
  ZOR_BEAT_TEXT(ErrorMessage, FMessage_Error)
  ZOR_BEAT_TEXT(Opcode, FOpcode)
  ZOR_BEAT_TEXT(Provider_Guid, FProvider_Guid)
  ZOR_BEAT_TEXT(Record_Number, FRecord_Number)
  ZOR_BEAT_TEXT(Related_Activity_Id, FRelated_Activity_Id)
  ZOR_BEAT_TEXT(Source_Name, FSource_Name)
  ZOR_BEAT_TEXT(Tags, FTags)
  ZOR_BEAT_TEXT(Task, FTask)
  ZOR_BEAT_TEXT(LogType, FType)
  ZOR_BEAT_TEXT(Xml, FXml)
  [[nodiscard]] int32_t EventID() const { return FEventID; }
  void SetEventID(int32_t AValue) { FEventID = AValue; }
  [[nodiscard]] int32_t Process_Id() const { return FProcess_Id; }
  void SetProcess_Id(int32_t AValue) { FProcess_Id = AValue; }
  [[nodiscard]] int32_t Thread_Id() const { return FThread_Id; }
  void SetThread_Id(int32_t AValue) { FThread_Id = AValue; }
  [[nodiscard]] int32_t Version() const { return FVersion; }
  void SetVersion(int32_t AValue) { FVersion = AValue; }

  // ComputerName, LogName (the channel) and Record_Number.
  [[nodiscard]] std::string IdentityText() const override;

  // The keyword list (owned by the document).
  [[nodiscard]] const std::vector<std::string>& Keywords() const { return FKeywords; }
  [[nodiscard]] std::vector<std::string>& Keywords() { return FKeywords; }

  // The parts. Each setter takes ownership and frees the part it replaces
  // (a null AValue is replaced by an empty part).
  [[nodiscard]] const TBeat& Beat() const { return *FBeat; }
  [[nodiscard]] TBeat& Beat() { return *FBeat; }
  void SetBeat(std::unique_ptr<TBeat>&& AValue) { Replace(FBeat, std::move(AValue)); }
  [[nodiscard]] const TDocker& Docker() const { return *FDocker; }
  [[nodiscard]] TDocker& Docker() { return *FDocker; }
  void SetDocker(std::unique_ptr<TDocker>&& AValue) { Replace(FDocker, std::move(AValue)); }
  [[nodiscard]] const TError& Error() const { return *FError; }
  [[nodiscard]] TError& Error() { return *FError; }
  void SetError(std::unique_ptr<TError>&& AValue) { Replace(FError, std::move(AValue)); }
  [[nodiscard]] const TEventData& EventData() const { return *FEventData; }
  [[nodiscard]] TEventData& EventData() { return *FEventData; }
  void SetEventData(std::unique_ptr<TEventData>&& AValue) { Replace(FEventData, std::move(AValue)); }
  [[nodiscard]] const TMeta& Meta() const { return *FMeta; }
  [[nodiscard]] TMeta& Meta() { return *FMeta; }
  void SetMeta(std::unique_ptr<TMeta>&& AValue) { Replace(FMeta, std::move(AValue)); }
  [[nodiscard]] const TUser& User() const { return *FUser; }
  [[nodiscard]] TUser& User() { return *FUser; }
  void SetUser(std::unique_ptr<TUser>&& AValue) { Replace(FUser, std::move(AValue)); }
  [[nodiscard]] const TUserData& UserData() const { return *FUserData; }
  [[nodiscard]] TUserData& UserData() { return *FUserData; }
  void SetUserData(std::unique_ptr<TUserData>&& AValue) { Replace(FUserData, std::move(AValue)); }

  // True when a text is not blank, an integer is not 0, a keyword exists or
  // a part has data (the time stamp does not count).
  [[nodiscard]] bool HasData() const;
  // Empties every text, integer, keyword and part, keeping the parts and the
  // text buffers, so that one document can be filled event after event
  // without allocating its fields again. The time stamp stays as it is.
  void Clear();

  [[nodiscard]] std::unique_ptr<TJSONObject> ToJSONObject() const override;
  // The compact text of ToJSONObject, written field by field.
  void AppendJSON(std::string& AOut) const override;
  // "@timestamp" must be ISO 8601 (else the conversion's EConvertError);
  // parts must be objects and "keywords" an array (else EJSONTypeError);
  // keywords are appended to those already held.
  void FromJSONObject(const TJSONObject& AValue) override;

  static const TJSONKeyTable<TWinLogBeat>& Keys();

 private:
  template <class TPart>
  static void Replace(std::unique_ptr<TPart>& AField, std::unique_ptr<TPart>&& AValue) {
    AField = AValue ? std::move(AValue) : std::make_unique<TPart>();
  }
  template <class TPart>
  static void AddPart(TJSONKeyTable<TWinLogBeat>& ATable, const char* AKey,
                      std::unique_ptr<TPart> TWinLogBeat::*AField);

  TDateTime FTimeStamp;
  std::string FActivityID;
  std::unique_ptr<TBeat> FBeat;
  std::string FComputerName;
  std::unique_ptr<TDocker> FDocker;
  std::unique_ptr<TError> FError;
  std::unique_ptr<TEventData> FEventData;
  int32_t FEventID = 0;
  std::vector<std::string> FKeywords;
  std::string FLevel;
  std::string FLogName;
  std::string FMessage;
  std::string FMessage_Error;
  std::unique_ptr<TMeta> FMeta;
  std::string FOpcode;
  int32_t FProcess_Id = 0;
  std::string FProvider_Guid;
  std::string FRecord_Number;
  std::string FRelated_Activity_Id;
  std::string FSource_Name;
  std::string FTags;
  std::string FTask;
  int32_t FThread_Id = 0;
  std::string FType;
  std::unique_ptr<TUser> FUser;
  std::unique_ptr<TUserData> FUserData;
  int32_t FVersion = 0;
  std::string FXml;
};

#undef ZOR_BEAT_TEXT

}  // namespace zor
