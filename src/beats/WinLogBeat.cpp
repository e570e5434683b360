#include "beats/WinLogBeat.h"

namespace zor {

namespace {

// Table of a part's text fields, in writing order.
template <class TPart>
TJSONKeyTable<TPart> TextTable(std::initializer_list<std::pair<const char*, std::string TPart::*>> AFields) {
  TJSONKeyTable<TPart> table;
  for (const auto& [key, field] : AFields) table.String(key, field);
  return table;
}

// A held part written as an object (always, even without data) and read
// from one.
template <class TOwner, class TPart>
void AddHeldPart(TJSONKeyTable<TOwner>& ATable, const char* AKey, TPart& (TOwner::*AGet)(),
                 const TPart& (TOwner::*AGetConst)() const) {
  ATable
      .Custom(
          AKey, [AGetConst](const TOwner& AOwner) { return std::move(*(AOwner.*AGetConst)().ToJSONObject()); },
          [AGet, AKey](TOwner& AOwner, const TJSONValue& AValue) {
            (AOwner.*AGet)().FromJSONObject(Json::RequireObject(AValue, AKey));
          },
          [AGet](TOwner& AOwner) { (AOwner.*AGet)().Clear(); })
      .TextWith([AGetConst](const TOwner& AOwner, std::string& AOut) { (AOwner.*AGetConst)().AppendJSON(AOut); })
      .DataWhen([AGetConst](const TOwner& AOwner) { return (AOwner.*AGetConst)().HasData(); });
}

void AddInteger(TJSONKeyTable<TWinLogBeat>& ATable, const char* AKey, int32_t (TWinLogBeat::*AGet)() const,
                void (TWinLogBeat::*ASet)(int32_t)) {
  ATable.IntegerProperty(AKey, AGet, ASet, int32_t{0})
      .DataWhen([AGet](const TWinLogBeat& AOwner) { return (AOwner.*AGet)() != 0; });
}

}  // namespace

const TJSONKeyTable<TBeat>& TBeat::Keys() {
  static const auto table = TextTable<TBeat>(
      {{"hostname", &TBeat::FHostName}, {"name", &TBeat::FName}, {"timezone", &TBeat::FTimeZone},
       {"version", &TBeat::FVersion}});
  return table;
}

const TJSONKeyTable<TContainer>& TContainer::Keys() {
  static const auto table =
      TextTable<TContainer>({{"id", &TContainer::FID}, {"image", &TContainer::FImage}, {"name", &TContainer::FName}});
  return table;
}

const TJSONKeyTable<TDocker>& TDocker::Keys() {
  static const auto table = [] {
    TJSONKeyTable<TDocker> t;
    AddHeldPart<TDocker, TContainer>(t, "container", &TDocker::Container, &TDocker::Container);
    return t;
  }();
  return table;
}

const TJSONKeyTable<TError>& TError::Keys() {
  static const auto table =
      TextTable<TError>({{"code", &TError::FCode}, {"message", &TError::FMessage}, {"type", &TError::FType}});
  return table;
}

const TJSONKeyTable<TCloud>& TCloud::Keys() {
  static const auto table = TextTable<TCloud>({{"availability_zone", &TCloud::FAvailability_Zone},
                                               {"instance_id", &TCloud::FInstance_Id},
                                               {"instance_name", &TCloud::FInstance_Name},
                                               {"machine_type", &TCloud::FMachine_Type},
                                               {"project_id", &TCloud::FProject_Id},
                                               {"provider", &TCloud::FProvider},
                                               {"region", &TCloud::FRegion}});
  return table;
}

const TJSONKeyTable<TMeta>& TMeta::Keys() {
  static const auto table = [] {
    TJSONKeyTable<TMeta> t;
    AddHeldPart<TMeta, TCloud>(t, "cloud", &TMeta::Cloud, &TMeta::Cloud);
    return t;
  }();
  return table;
}

const TJSONKeyTable<TUser>& TUser::Keys() {
  static const auto table = TextTable<TUser>({{"domain", &TUser::FDomain},
                                              {"identifier", &TUser::FIdentifier},
                                              {"name", &TUser::FName},
                                              {"type", &TUser::FType}});
  return table;
}

const TJSONKeyTable<TUserData>& TUserData::Keys() {
  static const auto table = TextTable<TUserData>({{"AppType", &TUserData::FAppType},
                                                  {"AppVersion", &TUserData::FAppVersion},
                                                  {"Type", &TUserData::FType},
                                                  {"DisplayName", &TUserData::FDisplayName},
                                                  {"FullPath", &TUserData::FFullPath},
                                                  {"Pid", &TUserData::FPid},
                                                  {"Reason", &TUserData::FReason},
                                                  {"RebootReasons", &TUserData::FRebootReasons},
                                                  {"RmSessionId", &TUserData::FRmSessionId},
                                                  {"Status", &TUserData::FStatus},
                                                  {"TSSessionId", &TUserData::FTSSessionId},
                                                  {"UTCStartTime", &TUserData::FUTCStartTime},
                                                  {"nApplications", &TUserData::FnApplications},
                                                  {"xml_name", &TUserData::FXml_Name}});
  return table;
}

const TJSONKeyTable<TEventData>& TEventData::Keys() {
  static const auto table = TextTable<TEventData>({{"AuthenticationPackageName", &TEventData::FAuthenticationPackageName},
                                                   {"Binary", &TEventData::FBinary},
                                                   {"IpAddress", &TEventData::FIpAddress},
                                                   {"IpPort", &TEventData::FIpPort},
                                                   {"KeyLength", &TEventData::FKeyLength},
                                                   {"LmPackageName", &TEventData::FLmPackageName},
                                                   {"LogonGuid", &TEventData::FLogonGuid},
                                                   {"LogonProcessName", &TEventData::FLogonProcessName},
                                                   {"LogonType", &TEventData::FLogonType},
                                                   {"PrivilegeList", &TEventData::FPrivilegeList},
                                                   {"ProcessId", &TEventData::FProcessId},
                                                   {"ProcessName", &TEventData::FProcessName},
                                                   {"SubjectDomainName", &TEventData::FSubjectDomainName},
                                                   {"SubjectLogonId", &TEventData::FSubjectLogonId},
                                                   {"SubjectUserName", &TEventData::FSubjectUserName},
                                                   {"SubjectUserSid", &TEventData::FSubjectUserSid},
                                                   {"TargetDomainName", &TEventData::FTargetDomainName},
                                                   {"TargetLogonId", &TEventData::FTargetLogonId},
                                                   {"TargetUserName", &TEventData::FTargetUserName},
                                                   {"TargetUserSid", &TEventData::FTargetUserSid},
                                                   {"TransmittedServices", &TEventData::FTransmittedServices},
                                                   {"WorkstationName", &TEventData::FWorkstationName},
                                                   {"param1", &TEventData::Fparam1},
                                                   {"param2", &TEventData::Fparam2},
                                                   {"param3", &TEventData::Fparam3},
                                                   {"param4", &TEventData::Fparam4},
                                                   {"param5", &TEventData::Fparam5},
                                                   {"param6", &TEventData::Fparam6},
                                                   {"param7", &TEventData::Fparam7}});
  return table;
}

// An owned part: written only when it has data; read into a fresh part that
// replaces the held one (so keys absent from the object end up empty).
template <class TPart>
void TWinLogBeat::AddPart(TJSONKeyTable<TWinLogBeat>& ATable, const char* AKey,
                          std::unique_ptr<TPart> TWinLogBeat::*AField) {
  ATable
      .Custom(
          AKey, [AField](const TWinLogBeat& AOwner) { return std::move(*(AOwner.*AField)->ToJSONObject()); },
          [AField, AKey](TWinLogBeat& AOwner, const TJSONValue& AValue) {
            auto part = std::make_unique<TPart>();
            part->FromJSONObject(Json::RequireObject(AValue, AKey));
            AOwner.*AField = std::move(part);
          })
      .TextWith([AField](const TWinLogBeat& AOwner, std::string& AOut) { (AOwner.*AField)->AppendJSON(AOut); })
      .WriteWhen([AField](const TWinLogBeat& AOwner) { return (AOwner.*AField)->HasData(); })
      .DataWhen([AField](const TWinLogBeat& AOwner) { return (AOwner.*AField)->HasData(); });
}

const TJSONKeyTable<TWinLogBeat>& TWinLogBeat::Keys() {
  static const auto table = [] {
    using T = TWinLogBeat;
    TJSONKeyTable<T> t;
    t.Custom(
        "@timestamp", [](const T& AOwner) { return TJSONValue(TUtilities::DateTimeToISOTimestampString(AOwner.FTimeStamp)); },
        [](T& AOwner, const TJSONValue& AValue) {
          AOwner.FTimeStamp = TUtilities::ConvertIso8601StringToDateTime(Json::Text(AValue));
        })
        .TextWith([](const T& AOwner, std::string& AOut) {
          Json::AppendQuoted(AOut, TUtilities::DateTimeToISOTimestampString(AOwner.FTimeStamp));
        });
    t.String("activity_id", &T::FActivityID);
    AddPart(t, "beat", &T::FBeat);
    t.String("computer_name", &T::FComputerName);
    AddPart(t, "docker", &T::FDocker);
    AddPart(t, "error", &T::FError);
    AddPart(t, "event_data", &T::FEventData);
    AddInteger(t, "event_id", &T::EventID, &T::SetEventID);
    t.Custom(
         "keywords",
         [](const T& AOwner) {
           TJSONValue array = TJSONValue::array();
           for (const auto& keyword : AOwner.FKeywords) array.push_back(keyword);
           return array;
         },
         [](T& AOwner, const TJSONValue& AValue) {
           for (const auto& element : Json::RequireArray(AValue, "keywords")) AOwner.FKeywords.push_back(Json::Text(element));
         })
        .TextWith([](const T& AOwner, std::string& AOut) {
          AOut += '[';
          for (size_t i = 0; i < AOwner.FKeywords.size(); ++i) {
            if (i != 0) AOut += ',';
            Json::AppendQuoted(AOut, AOwner.FKeywords[i]);
          }
          AOut += ']';
        })
        .WriteWhen([](const T& AOwner) { return !AOwner.FKeywords.empty(); })
        .DataWhen([](const T& AOwner) { return !AOwner.FKeywords.empty(); });
    t.String("level", &T::FLevel)
        .String("log_name", &T::FLogName)
        .String("message", &T::FMessage)
        .String("message_error", &T::FMessage_Error);
    AddPart(t, "meta", &T::FMeta);
    t.String("opcode", &T::FOpcode);
    AddInteger(t, "process_id", &T::Process_Id, &T::SetProcess_Id);
    t.String("provider_guid", &T::FProvider_Guid)
        .String("record_number", &T::FRecord_Number)
        .String("related_activity_id", &T::FRelated_Activity_Id)
        .String("source_name", &T::FSource_Name)
        .String("tags", &T::FTags)
        .String("task", &T::FTask);
    AddInteger(t, "thread_id", &T::Thread_Id, &T::SetThread_Id);
    t.String("type", &T::FType);
    AddPart(t, "user", &T::FUser);
    AddPart(t, "user_data", &T::FUserData);
    AddInteger(t, "version", &T::Version, &T::SetVersion);
    t.String("xml", &T::FXml);
    return t;
  }();
  return table;
}

std::string TWinLogBeat::IdentityText() const {
  return FComputerName + '\n' + FLogName + '\n' + FRecord_Number + '\n';
}

TWinLogBeat::TWinLogBeat()
    : FTimeStamp(TUtilities::Now()),
      FBeat(std::make_unique<TBeat>()),
      FDocker(std::make_unique<TDocker>()),
      FError(std::make_unique<TError>()),
      FEventData(std::make_unique<TEventData>()),
      FMeta(std::make_unique<TMeta>()),
      FUser(std::make_unique<TUser>()),
      FUserData(std::make_unique<TUserData>()) {}

TWinLogBeat::TWinLogBeat(const TWinLogBeat& ASource)
    : TLogBeat(),
      FTimeStamp(ASource.FTimeStamp),
      FActivityID(ASource.FActivityID),
      FBeat(std::make_unique<TBeat>(*ASource.FBeat)),
      FComputerName(ASource.FComputerName),
      FDocker(std::make_unique<TDocker>(*ASource.FDocker)),
      FError(std::make_unique<TError>(*ASource.FError)),
      FEventData(std::make_unique<TEventData>(*ASource.FEventData)),
      FEventID(ASource.FEventID),
      FKeywords(ASource.FKeywords),
      FLevel(ASource.FLevel),
      FLogName(ASource.FLogName),
      FMessage(ASource.FMessage),
      FMessage_Error(ASource.FMessage_Error),
      FMeta(std::make_unique<TMeta>(*ASource.FMeta)),
      FOpcode(ASource.FOpcode),
      FProcess_Id(ASource.FProcess_Id),
      FProvider_Guid(ASource.FProvider_Guid),
      FRecord_Number(ASource.FRecord_Number),
      FRelated_Activity_Id(ASource.FRelated_Activity_Id),
      FSource_Name(ASource.FSource_Name),
      FTags(ASource.FTags),
      FTask(ASource.FTask),
      FThread_Id(ASource.FThread_Id),
      FType(ASource.FType),
      FUser(std::make_unique<TUser>(*ASource.FUser)),
      FUserData(std::make_unique<TUserData>(*ASource.FUserData)),
      FVersion(ASource.FVersion),
      FXml(ASource.FXml) {}

bool TWinLogBeat::HasData() const { return Keys().HasData(*this); }

void TWinLogBeat::Clear() {
  Keys().SetDefaults(*this);  // the texts
  FBeat->Clear();
  FDocker->Clear();
  FError->Clear();
  FEventData->Clear();
  FMeta->Clear();
  FUser->Clear();
  FUserData->Clear();
  FKeywords.clear();
  FEventID = FProcess_Id = FThread_Id = FVersion = 0;
}

std::unique_ptr<TJSONObject> TWinLogBeat::ToJSONObject() const { return Keys().ToJSONObject(*this); }

void TWinLogBeat::AppendJSON(std::string& AOut) const { Keys().AppendCompact(*this, AOut); }

void TWinLogBeat::FromJSONObject(const TJSONObject& AValue) { Keys().Read(*this, AValue); }

}  // namespace zor
