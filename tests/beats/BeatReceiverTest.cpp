#include "beats/BeatReceiver.h"

#include <gtest/gtest.h>

#include <string>

#include "support/CryptoAPI.h"

namespace zor {
namespace {

TEST(BeatReceiverTest, ReadsEachKeyByItsRule) {
  const struct {
    const char* Name;
    std::string Json;
    std::string Expected;  // AsJSONString of the receiver read from Json
  } cases[] = {
      {"HostAndPortOnly", R"({"host":"es","port":9200})",
       R"({"receiverId":-1,"name":"","protocol":"","host":"es","port":9200,"esVersion":6,"createTemplate":false,"templateName":""})"},
      {"TextNumbersAndBooleans",
       R"({"receiverId":"12","port":"9201","esVersion":"7","createTemplate":"True","templateName":"t"})",
       R"({"receiverId":12,"name":"","protocol":"","host":"","port":9201,"esVersion":7,"createTemplate":true,"templateName":"t"})"},
      {"Unreadable", R"({"receiverId":"x","port":"p","esVersion":"seven","createTemplate":1})",
       R"({"receiverId":-1,"name":"","protocol":"","host":"","port":0,"esVersion":0,"createTemplate":false,"templateName":""})"},
      // Certificate verification, written only when asked for.
      {"VerifiedAgainstAFile", R"({"verifyCertificate":"true","caFile":"ca.pem"})",
       R"({"receiverId":-1,"name":"","protocol":"","host":"","port":0,"esVersion":6,"createTemplate":false,"templateName":"","verifyCertificate":true,"caFile":"ca.pem"})"},
      {"VerificationOff", R"({"verifyCertificate":false,"caFile":" "})",
       R"({"receiverId":-1,"name":"","protocol":"","host":"","port":0,"esVersion":6,"createTemplate":false,"templateName":""})"},
      // Document ids, written only when asked for.
      {"DocumentIds", R"({"documentId":"True"})",
       R"({"receiverId":-1,"name":"","protocol":"","host":"","port":0,"esVersion":6,"createTemplate":false,"templateName":"","documentId":true})"},
      {"NoDocumentIds", R"({"documentId":false})",
       R"({"receiverId":-1,"name":"","protocol":"","host":"","port":0,"esVersion":6,"createTemplate":false,"templateName":""})"},
      // The port keeps the low 16 bits.
      {"PortWraps", R"({"port":70000})",
       R"({"receiverId":-1,"name":"","protocol":"","host":"","port":4464,"esVersion":6,"createTemplate":false,"templateName":""})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(TBeatReceiver::GetFromJSONString(c.Json)->AsJSONString(), c.Expected);
  }
}

TEST(BeatReceiverTest, CredentialsAreWrittenOnlyWithAUserName) {
  TBeatReceiver receiver;
  receiver.SetPassword("secret");
  receiver.SetUserName("   ");
  const std::string blankUser = receiver.AsJSONString();
  EXPECT_EQ(blankUser.find("userName"), std::string::npos);
  EXPECT_EQ(blankUser.find("password"), std::string::npos);
  EXPECT_EQ(TBeatReceiver::GetFromJSONString(blankUser)->Password(), "");

  // With a user name the password is stored encrypted, an empty one included.
  receiver.SetUserName("elastic");
  const auto object = receiver.ToJSONObject();
  EXPECT_EQ((*object)["userName"], "elastic");
  EXPECT_EQ((*object)["password"], "Nk+hO+ug83xqMsOhV2mkMQ==");
  EXPECT_EQ(TBeatReceiver::GetFromJSONString(receiver.AsJSONString())->Password(), "secret");
  receiver.SetPassword("");
  EXPECT_EQ((*receiver.ToJSONObject())["password"], "RDPFMzhwzidSgJtQhExg+w==");
}

TEST(BeatReceiverTest, AnUndecryptablePasswordLeavesThePasswordAsItWas) {
  TBeatReceiver receiver;
  receiver.SetPassword("kept");
  receiver.SetAsJSONString(R"({"password":"abc"})");
  EXPECT_EQ(receiver.Password(), "kept");
}

TEST(BeatReceiverTest, AreEqualIgnoresIdAndCredentials) {
  const auto base = TBeatReceiver::GetFromJSONString(
      R"({"name":"n","protocol":"https","host":"es","port":9200,"templateName":"t","esVersion":7})");
  const struct {
    const char* Name;
    void (*Change)(TBeatReceiver&);
    bool Equal;
  } cases[] = {
      {"Password", [](TBeatReceiver& r) { r.SetPassword("other"); }, true},
      {"UserName", [](TBeatReceiver& r) { r.SetUserName("other"); }, true},
      {"Id", [](TBeatReceiver& r) { r.SetBeatReceiverID(9); }, true},
      {"ProtocolCase", [](TBeatReceiver& r) { r.SetProtocol("HTTPS"); }, false},
      {"Port", [](TBeatReceiver& r) { r.SetPort(9300); }, false},
      {"ESVersion", [](TBeatReceiver& r) { r.SetESVersion(8); }, false},
      {"CreateTemplate", [](TBeatReceiver& r) { r.SetCreateTemplate(true); }, false},
      {"TemplateName", [](TBeatReceiver& r) { r.SetTemplateName("u"); }, false},
      {"VerifyCertificate", [](TBeatReceiver& r) { r.SetVerifyCertificate(true); }, false},
      {"CAFile", [](TBeatReceiver& r) { r.SetCAFile("ca.pem"); }, false},
      {"DocumentId", [](TBeatReceiver& r) { r.SetDocumentId(true); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TBeatReceiver changed(*base);
    c.Change(changed);
    EXPECT_EQ(TBeatReceiver::AreEqual(*base, changed), c.Equal);
  }
}

TEST(BeatReceiverListTest, ReadsArraysInOrderAndRejectsNonObjects) {
  const auto list = TBeatReceiverList::GetFromJSONArrayString(R"([{"host":"a"},{"host":"b","userName":"u"}])");
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(list->GetListItem(1).Host(), "b");
  EXPECT_EQ(list->GetListItem(1).ESVersion(), 6);  // each element starts from the defaults

  TBeatReceiverList copy(*list);
  copy.GetListItem(1).SetPassword("p");
  EXPECT_EQ(list->GetListItem(1).Password(), "");

  try {
    (void)TBeatReceiverList::GetFromJSONArrayString(R"([{"host":"a"},5])");
    FAIL() << "no error";
  } catch (const EConfigError& e) {
    EXPECT_EQ(std::string(e.what()), "[1]: expected a JSON object, found number");
  }
  EXPECT_THROW((void)TBeatReceiverList::GetFromJSONArrayString(R"({"host":"a"})"), EConfigError);
}

}  // namespace
}  // namespace zor
