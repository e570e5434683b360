#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "beats/WinLogBeat.h"
#include "collection/EventLog.h"
#include "evtx/EvtxReader.h"
#include "support/EventFixtures.h"

namespace zor {
namespace {

std::unique_ptr<TWinLogBeat> BeatOf(const std::string& AXml) { return TEventLog(AXml).GetWinLogBeat(); }

std::string JsonOf(const std::string& AXml) { return BeatOf(AXml)->AsJSONString(); }

std::string EventWith(const std::string& ASystemChildren, const std::string& AMore = "") {
  return "<Event><System>" + ASystemChildren + "</System>" + AMore + "</Event>";
}

// The golden documents (*.beat.json beside each event) were written by hand
// from the field mapping. ZOR_REGENERATE_GOLDEN=1 rewrites them from the
// current output instead of comparing; review the diff before committing.
TEST(EventLogBeatTest, RealEventsGiveTheGoldenDocuments) {
  const bool regenerate = std::getenv("ZOR_REGENERATE_GOLDEN") != nullptr;
  for (const std::string name : {"scm_7036_rendered", "sysmon_1", "security_4624"}) {
    SCOPED_TRACE(name);
    const std::string json = JsonOf(test::ReadEventFixture(name + ".xml"));
    if (regenerate) {
      std::ofstream(test::EventFixturePath(name + ".beat.json"), std::ios::binary) << json;
      continue;
    }
    EXPECT_EQ(json, test::ReadEventFixture(name + ".beat.json"));
  }
}

// The document text is written field by field, without the JSON tree: on
// every record of every sample file it must be the tree's compact text.
TEST(EventLogBeatTest, DirectTextIsTheTreesTextOnEverySampleRecord) {
  size_t records = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(ZOR_SHARED_DIR) + "/evtx-samples")) {
    if (entry.path().extension() != ".evtx") continue;
    SCOPED_TRACE(entry.path().filename().string());
    TEvtxReaderOptions options;
    options.EveryRecord = true;
    TEvtxReader reader(entry.path().string(), std::move(options));
    TEvtxRecord record;
    TEventLog event;
    std::string text;
    while (reader.Next(record)) {
      event.Reset(std::string(record.Xml));
      const std::unique_ptr<TWinLogBeat> document = event.GetWinLogBeat();
      text.clear();
      document->AppendJSON(text);
      ASSERT_EQ(text, Json::Compact(*document->ToJSONObject())) << "record " << record.RecordId;
      ++records;
    }
  }
  EXPECT_GT(records, 20000u);
}

TEST(EventLogBeatTest, LevelNameComesFromTheLevelNumber) {
  const struct {
    const char* Level;
    const char* Name;
  } cases[] = {{"0", "Verbose"}, {"1", "Critical"}, {"2", "Error"}, {"3", "Warning"}, {"4", "Information"},
               {"5", "Verbose"}, {"16", "Verbose"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Level);
    // The rendered level text is not used.
    const auto beat = BeatOf(EventWith(std::string("<Level>") + c.Level + "</Level>",
                                       "<RenderingInfo><Level>Rendered</Level></RenderingInfo>"));
    EXPECT_EQ(beat->Level(), c.Name);
  }
}

TEST(EventLogBeatTest, EventDataNamesMatchExactly) {
  const auto beat = BeatOf(EventWith(
      "", "<EventData><Data Name='processid'>1</Data><Data Name='ProcessId'>2</Data><Data Name='IpPort'>3</Data>"
          "<Data Name='IpPort'>4</Data><Data Name='param7'>p</Data><Data Name='Param1'>x</Data><Data>y</Data>"
          "<Data Name='ZZZ'>z</Data></EventData>"));
  const TEventData& data = beat->EventData();
  EXPECT_EQ(data.ProcessId(), "2");
  EXPECT_EQ(data.IpPort(), "4");  // the later item wins
  EXPECT_EQ(data.Param7(), "p");
  EXPECT_EQ(data.Param1(), "");
  EXPECT_EQ(data.AuthenticationPackageName(), "");
  EXPECT_EQ(data.WorkstationName(), "");
}

TEST(EventLogBeatTest, PartsAndKeysAreLeftOutWhenEmpty) {
  // No listed data name, no rendered keywords, no user.
  const std::string json = JsonOf(EventWith("<EventID>5</EventID><Security/>",
                                            "<EventData><Data Name='Other'>v</Data></EventData>"));
  for (const char* key : {"\"event_data\"", "\"keywords\"", "\"user\"", "\"beat\"", "\"docker\"", "\"error\"",
                          "\"meta\"", "\"user_data\""}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(json.find(key), std::string::npos);
  }
  EXPECT_NE(json.find("\"event_id\":5,"), std::string::npos);
}

TEST(EventLogBeatTest, MissingElementsGiveTheRecordDefaults) {
  // Neither Execution nor EventRecordID; a correlation and rendered opcode and
  // task that the mapping does not carry.
  const std::string json = JsonOf(EventWith(
      "<TimeCreated SystemTime='2024-03-05T07:08:09.0120000Z'/><Correlation ActivityID='{a}' "
      "RelatedActivityID='{b}'/>",
      "<RenderingInfo><Opcode>Info</Opcode><Task>Logon</Task></RenderingInfo>"));
  EXPECT_EQ(json,
            "{\"@timestamp\":\"2024-03-05T07:08:09.012Z\",\"activity_id\":\"\",\"computer_name\":\"\","
            "\"event_id\":-1,\"level\":\"Verbose\",\"log_name\":\"\",\"message\":\"\",\"message_error\":\"\","
            "\"opcode\":\"\",\"process_id\":-1,\"provider_guid\":\"\",\"record_number\":\"-1\","
            "\"related_activity_id\":\"\",\"source_name\":\"\",\"tags\":\"\",\"task\":\"\",\"thread_id\":-1,"
            "\"type\":\"wineventlog\",\"version\":0,\"xml\":\"\"}");
}

TEST(EventLogBeatTest, RecordNumbersBeyond32BitsAndKeywordsInOrder) {
  const auto beat = BeatOf(EventWith(
      "<EventRecordID>8589934592</EventRecordID><Security UserID='S-1-5-21-1-2-3-500'/>",
      "<RenderingInfo><Keywords><Keyword>Audit Success</Keyword><Keyword>Classic</Keyword>"
      "<Keyword>Audit Success</Keyword></Keywords></RenderingInfo>"));
  EXPECT_EQ(beat->Record_Number(), "8589934592");
  EXPECT_EQ(beat->Keywords(), (std::vector<std::string>{"Audit Success", "Classic", "Audit Success"}));
  // An identifier that does not resolve still makes a user part.
  EXPECT_EQ(beat->User().Identifier(), "S-1-5-21-1-2-3-500");
  EXPECT_EQ(beat->User().Name(), "");
  EXPECT_TRUE(beat->User().HasData());
}

TEST(EventLogBeatTest, EmptyRecordGivesADocumentWithDefaults) {
  const auto beat = BeatOf("");
  EXPECT_EQ(beat->TimeStamp(), 0.0);
  EXPECT_EQ(beat->EventID(), -1);
  EXPECT_EQ(beat->LogType(), "wineventlog");
  EXPECT_FALSE(beat->EventData().HasData());
  EXPECT_FALSE(beat->User().HasData());
}

}  // namespace
}  // namespace zor
