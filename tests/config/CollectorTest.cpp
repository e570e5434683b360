#include "config/Collector.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "support/Json.h"
#include "support/TempDir.h"

namespace zor {
namespace {

std::string ReadBytes(const std::filesystem::path& AFile) {
  std::ifstream file(AFile, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteBytes(const std::filesystem::path& AFile, const std::string& ABytes) {
  std::ofstream(AFile, std::ios::binary) << ABytes;
}

// AText as UTF-16 with a byte order mark (ASCII text only).
std::string Utf16(const std::string& AText, bool ABigEndian) {
  std::string bytes = ABigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : AText) {
    bytes += ABigEndian ? '\0' : c;
    bytes += ABigEndian ? c : '\0';
  }
  return bytes;
}

// A configuration with every key set to something other than its default.
const char* const FullConfig = R"({
  "id": 17, "type": 1, "hostName": "host-1", "uniqueId": "6F9619FF-8B86-D011-B42D-00C04FC964FF",
  "softwareVersion": "1.0.0", "ip": "0.0.0.0", "port": 6201, "protocol": "https", "userName": "admin",
  "logLevel": 5, "trainingMode": true, "trainingMsgInterval": 30, "trainingMsg": "hello",
  "certFile": "c.pem", "keyFile": "k.pem", "rootCertFile": "r.pem", "processingThreads": 3,
  "useConfigServer": true, "configServer": "https://cfg:8443", "configServerCheckInterval": 60,
  "configServerUserName": "svc", "apmEnabled": true, "apmServerIp": "10.1.1.1", "apmServerPort": 8201,
  "queueCountThreshold": 500, "queueSecondsThreshold": 7,
  "interfaces": [
    {"id": 1, "collectorId": 17, "interfaceType": 1, "name": "Security", "batchSize": 50,
     "startAtBeginning": false, "enabled": true, "path": "Security", "winHost": "dc1",
     "winAcct": "CORP\\reader", "dbHost": "db", "dbName": "events", "dbUser": "sa",
     "listenAddress": "0.0.0.0", "listenPort": 5140, "selectionDetail": "*[System[(EventID=4624)]]",
     "exclusionRegex": ["^<Event.*4634", "Logon Type:\\s+3"], "defaultFacility": "LocalUseFour",
     "deriveSeverity": true, "defaultSeverity": "Warning", "parse": true, "rawLogOnly": true, "stripNewLines": false,
     "syslogReceivers": [
       {"syslogReceiverId": 5, "name": "siem", "host": "10.0.0.5", "port": 6514, "saveToFile": true,
        "transport": "TLS1.2", "noDelimOnLast": true, "tcpDelimiter": "\\LF", "stripNewLine": true,
        "newLineToSpace": true, "stripTab": true, "tabToSpace": true, "version": 1, "persistentConnection": true,
        "forwardHeader": "X-Forwarded-For", "forwardIpList": ["10.0.0.1", "10.0.0.2"]},
       {"name": "udp", "host": "10.0.0.6", "port": 514}],
     "beatReceivers": [
       {"receiverId": 8, "name": "es", "protocol": "https", "host": "es.local", "port": 9200,
        "userName": "elastic", "esVersion": 7, "createTemplate": true, "templateName": "winlogbeat"}]},
    {"name": "System", "path": "System", "enabled": false}]
})";

class CollectorTest : public ::testing::Test {
 protected:
  // FullConfig with the passwords set in memory (they are stored encrypted).
  static std::unique_ptr<TCollector> Full() {
    auto collector = TCollector::GetFromJSONString(FullConfig);
    collector->SetLocalAPIPassword("api pass");
    collector->SetConfigServerPassword("cfg pass \xE2\x82\xAC");
    collector->GetInterface(0).SetWinAcctPassword("win pass");
    collector->GetInterface(0).SetDbPassword(std::string(60, 'd'));
    collector->GetInterface(0).BeatReceivers().GetListItem(0).SetPassword("es pass");
    return collector;
  }

  test::TempDir FDir;
  std::string FFile = (FDir / "Svc" / "SvcConfig.json").string();
};

TEST_F(CollectorTest, EmptyObjectGivesTheDefaults) {
  EXPECT_EQ(TCollector::GetFromJSONString("{}")->AsJSONString(),
            R"({"id":-1,"type":0,"hostName":"","uniqueId":"","softwareVersion":"","ip":"127.0.0.1","port":6200,)"
            R"("protocol":"http","userName":"","logLevel":4,"trainingMode":false,"trainingMsgInterval":-1,)"
            R"("trainingMsg":"","certFile":"","keyFile":"","rootCertFile":"","processingThreads":1,)"
            R"("useConfigServer":false,"configServer":"","configServerCheckInterval":0,"configServerUserName":"",)"
            R"("apmEnabled":false,"queueCountThreshold":0,"queueSecondsThreshold":0,"interfaces":[]})");
}

TEST_F(CollectorTest, UnreadableValuesFallBack) {
  const struct {
    std::string Json;
    void (*Check)(const TCollector&);
  } cases[] = {
      {R"({"port":"abc","logLevel":"x","configServerCheckInterval":"","processingThreads":"two"})",
       [](const TCollector& c) {
         EXPECT_EQ(c.LocalAPIPort(), 0);
         EXPECT_EQ(c.LogLevel(), 4);
         EXPECT_EQ(c.ConfigServerCheckInterval(), 1440);
         EXPECT_EQ(c.ProcessingThreads(), 1);
       }},
      {R"({"id":"1.5","type":"9","trainingMsgInterval":null,"queueCountThreshold":"-1","port":"6300"})",
       [](const TCollector& c) {
         EXPECT_EQ(c.CollectorID(), -1);
         EXPECT_EQ(c.CollectorType(), TCollectorType::ctNone);
         EXPECT_EQ(c.TrainingMessageInterval(), -1);
         EXPECT_EQ(c.QueueCountThreshold(), 0u);
         EXPECT_EQ(c.LocalAPIPort(), 6300);
       }},
      // apmServerPort is read only when apmEnabled is already true.
      {R"({"apmEnabled":false,"apmServerPort":9000})", [](const TCollector& c) { EXPECT_EQ(c.APMServerPort(), 0); }},
      {R"({"apmServerPort":9000,"apmEnabled":"true"})", [](const TCollector& c) { EXPECT_EQ(c.APMServerPort(), 9000); }},
      {R"({"apmEnabled":true,"apmServerPort":"x"})", [](const TCollector& c) { EXPECT_EQ(c.APMServerPort(), 8200); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Json);
    c.Check(*TCollector::GetFromJSONString(c.Json));
  }
}

TEST_F(CollectorTest, BooleansAreTrueOnlyForTheWordTrue) {
  const struct {
    std::string Value;
    bool Expected;
  } cases[] = {{R"("True")", true}, {R"("TRUE")", true}, {"true", true}, {R"("yes")", false}, {"1", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Value);
    EXPECT_EQ(TCollector::GetFromJSONString(R"({"trainingMode":)" + c.Value + "}")->TrainingMode(), c.Expected);
  }
}

TEST_F(CollectorTest, PasswordsAreWrittenOnlyWhenNotBlankAndKeptWhenUndecryptable) {
  TCollector collector;
  collector.SetLocalAPIPassword("  \r\n");
  EXPECT_EQ(collector.AsJSONString().find("\"password\""), std::string::npos);
  collector.SetLocalAPIPassword("secret");
  EXPECT_EQ((*collector.ToJSONObject())["password"], "Nk+hO+ug83xqMsOhV2mkMQ==");

  collector.SetAsJSONString(R"({"password":"abc","configServerPassword":"AAAAAAAAAAAAAAAAAAAAAA=="})");
  EXPECT_EQ(collector.LocalAPIPassword(), "secret");
  EXPECT_EQ(collector.ConfigServerPassword(), "");
}

TEST_F(CollectorTest, SaveAndLoadKeepEverySetting) {
  const auto saved = Full();
  saved->SaveAsJson(FFile);
  TCollector loaded;
  loaded.LoadFromJson(FFile);
  EXPECT_FALSE(TCollector::HasChanged(*saved, loaded));
  // Beyond what HasChanged compares: the same document, passwords included.
  EXPECT_EQ(loaded.AsJSONString(), saved->AsJSONString());
  EXPECT_EQ(loaded.ConfigServerPassword(), "cfg pass \xE2\x82\xAC");
  EXPECT_EQ(loaded.GetInterface(0).DbPassword(), std::string(60, 'd'));
  EXPECT_EQ(loaded.GetInterface(0).BeatReceivers().GetListItem(0).Password(), "es pass");
  EXPECT_EQ(loaded.GetInterface(0).SyslogReceivers().GetListItem(0).ForwardIPList().size(), 2u);
  EXPECT_EQ(loaded.GetInterface(0).SyslogReceivers().GetListItem(0).SyslogVersion(), 1);
}

TEST_F(CollectorTest, SavedFileIsPrettyUtf8WithCrLf) {
  TCollector collector;
  collector.AddInterface(TCollectionInterface::GetFromJSONString(R"({"name":"A","exclusionRegex":["x"]})"));
  collector.SaveAsJson(FFile);
  const std::string text = ReadBytes(FFile);
  EXPECT_TRUE(text.starts_with("{\r\n  \"id\" : -1,\r\n  \"type\" : 0,\r\n")) << text;
  EXPECT_TRUE(text.ends_with("\r\n}\r\n"));
  EXPECT_NE(text.find("  \"interfaces\" : [\r\n{\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("      \"exclusionRegex\" : [\r\n          \"x\"\r\n        ],\r\n"), std::string::npos) << text;
  // Every line break is CR LF.
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
    ASSERT_EQ(text[at - 1], '\r');
  }
  EXPECT_FALSE(TCollector::HasChanged(collector, *TCollector::GetFromJSONString(text)));
}

TEST_F(CollectorTest, LoadsEveryTextEncodingTheFileMayHave) {
  const std::string json = R"({"hostName":"h","logLevel":5})";
  const struct {
    const char* Name;
    std::string Bytes;
  } cases[] = {
      {"Utf8", json},
      {"Utf8Bom", "\xEF\xBB\xBF" + json},
      {"Utf16LE", Utf16(json, false)},
      {"Utf16BE", Utf16(json, true)},
  };
  std::filesystem::create_directories(FDir / "Svc");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteBytes(FFile, c.Bytes);
    TCollector collector;
    collector.LoadFromJson(FFile);
    EXPECT_EQ(collector.HostName(), "h");
    EXPECT_EQ(collector.LogLevel(), 5);
  }
}

TEST_F(CollectorTest, BadFilesFailWithAClearMessage) {
  const struct {
    const char* Name;
    std::string Bytes;
    std::string Message;  // a part of the error message
  } cases[] = {
      {"Empty", "", "is empty"},
      {"Blank", " \r\n\t ", "is empty"},
      {"BlankUtf16", Utf16("  ", false), "is empty"},
      {"NotJson", "hello", "Invalid JSON at line 1, column 1"},
      {"Truncated", R"({"interfaces":[{"name":"a")", "Invalid JSON"},
      {"TrailingGarbage", "{} {}", "Invalid JSON"},
      {"Array", "[]", "expected a JSON object, found array"},
      {"InterfacesNotArray", R"({"interfaces":{}})", "interfaces: expected a JSON array, found object"},
      {"ReceiverNotObject", R"({"interfaces":[{"syslogReceivers":[{},1]}]})",
       "interfaces[0].syslogReceivers[1]: expected a JSON object, found number"},
      {"TooDeep", std::string(300, '[') + std::string(300, ']'), "nesting deeper"},
      {"NotUtf8", "{\"hostName\":\"\xFF\"}", "Invalid JSON"},
      {"NumberTooLarge", R"({"id":1e999})", "Invalid JSON: number overflow"},
  };
  std::filesystem::create_directories(FDir / "Svc");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteBytes(FFile, c.Bytes);
    TCollector collector;
    try {
      collector.LoadFromJson(FFile);
      ADD_FAILURE() << "no error";
    } catch (const EZorError& e) {
      EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << e.what();
    }
  }
}

TEST_F(CollectorTest, MissingAndEnormousFilesAreRefused) {
  TCollector collector;
  try {
    collector.LoadFromJson(FFile);
    FAIL() << "no error";
  } catch (const EConfigFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Config File " + FFile + " does not exist");
  }
  std::filesystem::create_directories(FDir / "Svc");
  {
    std::ofstream file(FFile, std::ios::binary);
    file << "{\"hostName\":\"";
    file << std::string(17 * 1024 * 1024, 'a');
    file << "\"}";
  }
  EXPECT_THROW(collector.LoadFromJson(FFile), EConfigFileError);
  EXPECT_EQ(collector.HostName(), "");
}

TEST_F(CollectorTest, HasChangedIgnoresTheLocalSideAndReaderOrder) {
  const auto base = Full();
  const struct {
    const char* Name;
    void (*Change)(TCollector&);
    bool Changed;
  } cases[] = {
      {"ConfigServer", [](TCollector& c) { c.SetConfigServer("https://other"); }, false},
      {"ConfigServerPassword", [](TCollector& c) { c.SetConfigServerPassword("x"); }, false},
      {"UniqueID", [](TCollector& c) { c.SetUniqueID("other"); }, false},
      {"SoftwareVersion", [](TCollector& c) { c.SetSoftwareVersion("2"); }, false},
      {"UseConfigServer", [](TCollector& c) { c.SetUseConfigServer(false); }, false},
      {"ReadersReordered",
       [](TCollector& c) {
         TCollectionInterface first(c.GetInterface(0));
         c.DeleteInterface(0);
         c.AddInterface(std::make_unique<TCollectionInterface>(first));
       },
       false},
      {"LogLevel", [](TCollector& c) { c.SetLogLevel(2); }, true},
      {"Password", [](TCollector& c) { c.SetLocalAPIPassword("x"); }, true},
      {"HostNameCase", [](TCollector& c) { c.SetHostName("HOST-1"); }, true},
      {"ApmServerIP", [](TCollector& c) { c.SetAPMServerIP("10.1.1.2"); }, true},
      {"QueueSeconds", [](TCollector& c) { c.SetQueueSecondsThreshold(8); }, true},
      {"CheckInterval", [](TCollector& c) { c.SetConfigServerCheckInterval(61); }, true},
      {"ReaderRemoved", [](TCollector& c) { c.DeleteInterface(1); }, true},
      {"ReaderChanged", [](TCollector& c) { c.GetInterface(1).SetBatchSize(9); }, true},
      {"ReceiverChanged",
       [](TCollector& c) { c.GetInterface(0).SyslogReceivers().GetListItem(1).SetHost("10.0.0.7"); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TCollector changed(*base);
    c.Change(changed);
    EXPECT_EQ(TCollector::HasChanged(*base, changed), c.Changed);
  }
}

TEST_F(CollectorTest, ReadersAreFoundByIdAndIndex) {
  auto collector = Full();
  ASSERT_EQ(collector->InterfaceCount(), 2);
  EXPECT_EQ(collector->GetInterfaceByID(1), &collector->GetInterface(0));
  EXPECT_EQ(collector->GetInterfaceByID(-1), &collector->GetInterface(1));
  EXPECT_EQ(collector->GetInterfaceByID(2), nullptr);
  EXPECT_THROW((void)collector->GetInterface(2), EArgumentOutOfRange);
  EXPECT_THROW(collector->SetInterface(-1, std::make_unique<TCollectionInterface>()), EArgumentOutOfRange);
  collector->SetInterface(1, TCollectionInterface::GetFromJSONString(R"({"id":2})"));
  EXPECT_EQ(collector->GetInterfaceByID(2), &collector->GetInterface(1));
}

TEST_F(CollectorTest, UniqueIdIsCreatedOnceAndKept) {
  const std::string folder = (FDir / "new" / "Svc").string();
  const std::string id = TCollector::GetUniqueID(folder);
  EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
      << id;
  EXPECT_EQ(ReadBytes(FDir / "new" / "Svc" / "WinEvt.uuid"), id);
  EXPECT_EQ(TCollector::GetUniqueID(folder), id);
  EXPECT_NE(TCollector::GetUniqueID((FDir / "other").string()), id);

  // An existing file is returned as it is (decoded by its byte order mark).
  WriteBytes(FDir / "new" / "Svc" / "WinEvt.uuid", Utf16("my-id\r\n", false));
  EXPECT_EQ(TCollector::GetUniqueID(folder), "my-id\r\n");
}

}  // namespace
}  // namespace zor
