#include "beats/BeatReceiver.h"

namespace zor {

const TJSONKeyTable<TBeatReceiver>& TBeatReceiver::Keys() {
  static const TJSONKeyTable<TBeatReceiver> table = [] {
    using TReceiver = TBeatReceiver;
    TJSONKeyTable<TReceiver> t;
    const auto hasUser = [](const TReceiver& AReceiver) { return JSONConfig::IsNotBlank(AReceiver.FUserName); };
    t.Integer("receiverId", &TReceiver::FBeatReceiverID, -1, -1)
        .NotCompared()
        .String("name", &TReceiver::FName)
        .String("protocol", &TReceiver::FProtocol)
        .String("host", &TReceiver::FHost)
        // The port keeps the low 16 bits of the integer given (70000 is 4464).
        .Custom(
            "port", [](const TReceiver& AReceiver) { return TJSONValue(AReceiver.FPort); },
            [](TReceiver& AReceiver, const TJSONValue& AValue) {
              AReceiver.FPort = static_cast<uint16_t>(Json::ToInteger<int32_t>(AValue, 0));
            },
            [](TReceiver& AReceiver) { AReceiver.FPort = 0; })
        .Compare([](const TReceiver& A1, const TReceiver& A2) { return A1.FPort == A2.FPort; })
        .String("userName", &TReceiver::FUserName)
        .NotCompared()
        .WriteWhen(hasUser);
    // With a user name the password is written even when it is empty.
    JSONConfig::TPasswordRules<TReceiver> passwordRules;
    passwordRules.WriteWhen = hasUser;
    passwordRules.AlsoWhenBlank = true;
    JSONConfig::AddPassword(t, "password", &TReceiver::FPassword, passwordRules)
        .NotCompared()
        .Integer("esVersion", &TReceiver::FESVersion, 6, 0)
        .Boolean("createTemplate", &TReceiver::FCreateTemplate)
        .String("templateName", &TReceiver::FTemplateName)
        // Written only when set, so files without them stay as they were.
        .Boolean("verifyCertificate", &TReceiver::FVerifyCertificate)
        .WriteWhen([](const TReceiver& AReceiver) { return AReceiver.FVerifyCertificate; })
        .String("caFile", &TReceiver::FCAFile)
        .WriteWhen([](const TReceiver& AReceiver) { return JSONConfig::IsNotBlank(AReceiver.FCAFile); })
        .Boolean("documentId", &TReceiver::FDocumentId)
        .WriteWhen([](const TReceiver& AReceiver) { return AReceiver.FDocumentId; });
    return t;
  }();
  return table;
}

TBeatReceiver::TBeatReceiver() { Keys().SetDefaults(*this); }

}  // namespace zor
