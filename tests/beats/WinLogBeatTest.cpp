#include "beats/WinLogBeat.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "beats/RenderedBeat.h"

namespace zor {
namespace {

std::string ReadFile(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A document at a fixed time, so its text is fixed.
std::unique_ptr<TWinLogBeat> Fresh() {
  auto beat = std::make_unique<TWinLogBeat>();
  beat->SetTimeStamp(TUtilities::EncodeDateTime(2024, 3, 5, 7, 8, 9, 12));
  return beat;
}

TEST(WinLogBeatTest, FreshDocumentWritesScalarsAndNoParts) {
  const auto beat = Fresh();
  EXPECT_FALSE(beat->HasData());
  EXPECT_EQ(beat->AsJSONString(),
            R"({"@timestamp":"2024-03-05T07:08:09.012Z","activity_id":"","computer_name":"","event_id":0,)"
            R"("level":"","log_name":"","message":"","message_error":"","opcode":"","process_id":0,)"
            R"("provider_guid":"","record_number":"","related_activity_id":"","source_name":"","tags":"",)"
            R"("task":"","thread_id":0,"type":"","version":0,"xml":""})");
}

TEST(WinLogBeatTest, PartsAreWrittenOnlyWithNonBlankData) {
  auto beat = Fresh();
  beat->EventData().SetParam3(" \t");
  beat->Docker().Container().SetImage("\r\n");
  EXPECT_FALSE(beat->HasData());
  EXPECT_EQ(Json::Find(*beat->ToJSONObject(), "event_data"), nullptr);

  beat->EventData().SetParam3("x");
  beat->Meta().Cloud().SetRegion("eu");
  EXPECT_TRUE(beat->HasData());
  const TJSONValue json = *beat->ToJSONObject();
  const TJSONValue* eventData = Json::Find(json, "event_data");
  ASSERT_NE(eventData, nullptr);
  EXPECT_EQ(eventData->size(), 29u);
  EXPECT_EQ((*eventData)["param3"], "x");
  EXPECT_EQ((*eventData)["AuthenticationPackageName"], "");
  EXPECT_EQ(Json::Compact(json["meta"]),
            R"({"cloud":{"availability_zone":"","instance_id":"","instance_name":"","machine_type":"",)"
            R"("project_id":"","provider":"","region":"eu"}})");
  EXPECT_EQ(Json::Find(json, "docker"), nullptr);

  // Keys stay in document order: event_data before event_id, meta after message_error.
  std::string order;
  for (const auto& pair : json.items()) order += pair.key() + ",";
  EXPECT_NE(order.find("computer_name,event_data,event_id,level"), std::string::npos) << order;
  EXPECT_NE(order.find("message_error,meta,opcode"), std::string::npos) << order;
}

TEST(WinLogBeatTest, HasDataCountsIntegersKeywordsAndParts) {
  const struct {
    const char* Name;
    void (*Change)(TWinLogBeat&);
  } cases[] = {
      {"EventID", [](TWinLogBeat& ABeat) { ABeat.SetEventID(1); }},
      {"Version", [](TWinLogBeat& ABeat) { ABeat.SetVersion(-1); }},
      {"Keyword", [](TWinLogBeat& ABeat) { ABeat.Keywords().push_back(""); }},
      {"Text", [](TWinLogBeat& ABeat) { ABeat.SetTags("t"); }},
      {"Part", [](TWinLogBeat& ABeat) { ABeat.User().SetName("n"); }},
      {"HeldPart", [](TWinLogBeat& ABeat) { ABeat.Docker().Container().SetID("c"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto beat = Fresh();
    c.Change(*beat);
    EXPECT_TRUE(beat->HasData());
  }
}

TEST(WinLogBeatTest, EscapesToPureAscii) {
  auto beat = Fresh();
  beat->SetLogMessage("caf\xC3\xA9 a/b \"q\"\t\x01");
  EXPECT_EQ(Json::Compact((*beat->ToJSONObject())["message"]), R"("caf\u00E9 a\/b \"q\"\t\u0001")");
}

TEST(WinLogBeatTest, ReadsThroughTextAndAppendsKeywords) {
  auto beat = Fresh();
  beat->Keywords().push_back("old");
  beat->User().SetName("replaced");
  beat->SetAsJSONString(
      R"({"event_id":"12x","process_id":"77","thread_id":1.5,"version":true,"record_number":123,)"
      R"("keywords":["a",2],"user":{"domain":"D"},"level":false,"@timestamp":"2020-01-02T03:04:05.1234567Z"})");
  EXPECT_EQ(beat->EventID(), 0);
  EXPECT_EQ(beat->Process_Id(), 77);
  EXPECT_EQ(beat->Thread_Id(), 0);
  EXPECT_EQ(beat->Version(), 0);
  EXPECT_EQ(beat->Record_Number(), "123");
  EXPECT_EQ(beat->Level(), "false");
  EXPECT_EQ(beat->Keywords(), (std::vector<std::string>{"old", "a", "2"}));
  EXPECT_EQ(beat->User().Domain(), "D");
  EXPECT_EQ(beat->User().Name(), "");  // the part is replaced, not merged
  EXPECT_EQ(beat->TimeStamp(), TUtilities::EncodeDateTime(2020, 1, 2, 3, 4, 5, 123));
}

TEST(WinLogBeatTest, WrongKindsFail) {
  auto beat = Fresh();
  EXPECT_THROW(beat->SetAsJSONString(R"({"user":"x"})"), EJSONTypeError);
  EXPECT_THROW(beat->SetAsJSONString(R"({"keywords":"x"})"), EJSONTypeError);
  EXPECT_THROW(beat->SetAsJSONString(R"({"docker":{"container":[]}})"), EJSONTypeError);
  EXPECT_THROW(beat->SetAsJSONString("[]"), EJSONTypeError);
  EXPECT_THROW(beat->SetAsJSONString("{"), EJSONError);
  EXPECT_THROW(beat->SetAsJSONString(R"({"@timestamp":"yesterday"})"), EConvertError);
}

TEST(WinLogBeatTest, SecurityLogonDocumentRoundTripsByteForByte) {
  const std::string text = ReadFile(std::string(ZOR_TEST_DATA_DIR) + "/beats/security-4624.json");
  ASSERT_FALSE(text.empty());
  TWinLogBeat beat;
  beat.SetAsJSONString(text);
  EXPECT_EQ(beat.EventID(), 4624);
  EXPECT_EQ(beat.EventData().TargetUserName(), "j.d\xC3\xB6" "e");
  EXPECT_EQ(beat.AsJSONString(), text);

  TWinLogBeat copy(beat);
  beat.EventData().SetTargetUserName("changed");
  beat.Keywords().clear();
  EXPECT_EQ(copy.AsJSONString(), text);
}

TEST(WinLogBeatTest, CopyLeavesRoutingAndSettersOwnParts) {
  auto beat = Fresh();
  beat->SetDestinationHost("es");
  beat->SetDestinationPort(9200);
  beat->SetBeat(std::make_unique<TBeat>("h", "n", "tz", "1"));
  const TWinLogBeat copy(*beat);
  EXPECT_EQ(copy.DestinationHost(), "");
  EXPECT_EQ(copy.DestinationPort(), 0);
  EXPECT_EQ(copy.Beat().AsJSONString(), R"({"hostname":"h","name":"n","timezone":"tz","version":"1"})");
  beat->SetBeat(nullptr);
  EXPECT_FALSE(beat->Beat().HasData());
}

// One document is filled event after event: Clear must leave nothing of the
// last event, in any part, nested parts included.
TEST(WinLogBeatTest, ClearedDocumentWritesAsAFreshOne) {
  TWinLogBeat beat;
  beat.SetAsJSONString(ReadFile(std::string(ZOR_TEST_DATA_DIR) + "/beats/security-4624.json"));
  beat.SetAsJSONString(R"({"docker":{"container":{"id":"c1"}},"meta":{"cloud":{"region":"r"}},)"
                       R"("error":{"code":"E"},"user_data":{"Pid":"1"},"xml":"<x/>","thread_id":3,"version":2})");
  ASSERT_TRUE(beat.Docker().HasData() && beat.Meta().HasData() && beat.Error().HasData());
  beat.Clear();
  const auto fresh = Fresh();
  beat.SetTimeStamp(fresh->TimeStamp());
  EXPECT_FALSE(beat.HasData());
  EXPECT_EQ(beat.AsJSONString(), fresh->AsJSONString());
}

// The text kept by a rendered document is the text of the document it was
// made from, and it stays a full TLogBeat: parsed, changed, copied.
TEST(WinLogBeatTest, RenderedDocumentKeepsTheTextAndIdentity) {
  const std::string text = ReadFile(std::string(ZOR_TEST_DATA_DIR) + "/beats/security-4624.json");
  TWinLogBeat beat;
  beat.SetAsJSONString(text);
  std::string scratch = "left over from the last document";
  const auto rendered = TRenderedBeat::Render(beat, scratch);
  EXPECT_EQ(rendered->AsJSONString(), text);
  EXPECT_EQ(rendered->IdentityText(), "WS-0042.corp.example.com\nSecurity\n1185712\n");
  EXPECT_EQ(Json::Compact(*rendered->ToJSONObject()), text);

  const auto copy = rendered->CopyText();
  rendered->SetAsJSONString(R"({"computer_name":"other","zzz":1})");
  EXPECT_EQ(copy->AsJSONString(), text);
  const TJSONValue changed = *rendered->ToJSONObject();
  EXPECT_EQ(changed["computer_name"], "other");
  EXPECT_EQ(changed.begin().key(), "@timestamp");
  EXPECT_EQ((--changed.end()).key(), "zzz");
  EXPECT_EQ(rendered->IdentityText(), copy->IdentityText());
  EXPECT_THROW(rendered->SetAsJSONString("[1]"), EJSONTypeError);
}

}  // namespace
}  // namespace zor
