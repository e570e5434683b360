#include "management/ConfigServiceQuery.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "management/ConfigRequest.h"
#include "management/ConfigResponseFactory.h"
#include "support/ConfigServer.h"
#include "support/Json.h"
#include "support/ServiceFolders.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

namespace zor {
namespace {

using test::TConfigAnswer;
using test::TConfigServer;
using test::WaitUntil;

TEST(ConfigRequestTest, KeysInOrderAndTheTypeMustBeAnInteger) {
  TConfigRequest request;
  request.SetHostName("host.example");
  request.SetUniqueID("0A1B");
  request.SetCollectorType(TCollectorType::ctWinEvt);
  request.SetCollectorVersion("1.0.0.0");
  EXPECT_EQ(request.AsJSONString(),
            R"({"hostName":"host.example","hostIp":"","uniqueId":"0A1B","colectorType":1,"colectorVersion":"1.0.0.0"})");
  // A peer reads requests back; the type is an ordinal.
  EXPECT_EQ(TConfigRequest::GetFromJSONString(R"({"colectorType": "3"})")->CollectorType(),
            TCollectorType::ctTraceFile);
  try {
    (void)TConfigRequest::GetFromJSONString(R"({"colectorType": "x1"})");
    FAIL() << "a type that is not an integer was read";
  } catch (const EConfigError& error) {
    EXPECT_STREQ(error.what(), "colectorType: Invlid Collector Tyepe x1");
  }
}

struct TAnswerCase {
  const char* Name;
  std::string Answer;
  // The error's text; empty when the answer reads.
  std::string Error;
};

TEST(ConfigResponseFactoryTest, ReadsEachKindAndRefusesTheRest) {
  const std::string longText = "{" + std::string(10000, 'x');
  const TAnswerCase cases[] = {
      {"not JSON", "{oops", "Invalid Json String: {oops"},
      {"not an object", "[1,2]", "Invalid Json String: [1,2]"},
      {"long text is cut short", longText,
       "Invalid Json String: " + longText.substr(0, 4096) + "... (10001 bytes)"},
      {"no type", R"({"collector": {}})", "Config response type value not present"},
      {"pending is no type", R"({"type": "pending"})", "Invalid config response type value: pending."},
      {"letter case counts", R"({"type": "Collector", "collector": {}})",
       "Invalid config response type value: Collector."},
      {"collector without one", R"({"type": "collector"})",
       "Config response of type collector holds no collector object"},
      {"collector not an object", R"({"type": "collector", "collector": "x"})",
       "Config response of type collector holds no collector object"},
      {"a value of the wrong kind", R"({"type": "collector", "collector": {"interfaces": 5}})",
       "collector.interfaces: expected a JSON array, found number"},
      {"collector", R"({"type": "collector", "newVersion": 12, "collector": {"logLevel": 5}})", ""},
      {"pending", R"({"type": "pendingCollector", "error": "not yet", "pendingCollector": {"id": "x", "type": 1}})",
       ""},
  };
  for (const TAnswerCase& c : cases) {
    SCOPED_TRACE(c.Name);
    try {
      const auto response = TConfigResponseFactory::GetResponse(c.Answer);
      EXPECT_EQ(c.Error, "") << "read as " << response->Type();
      if (const auto* collector = dynamic_cast<const TCollectorConfigResponse*>(response.get())) {
        EXPECT_EQ(collector->Collector().LogLevel(), 5);
        EXPECT_EQ(collector->NewVersion(), "12");
      } else {
        const auto& pending = dynamic_cast<const TPendingConfigResponse&>(*response);
        EXPECT_EQ(pending.Error(), "not yet");
        EXPECT_TRUE(pending.HasError());
        EXPECT_EQ(pending.PendingCollector().PendingCollectorID(), -1);
        EXPECT_EQ(pending.PendingCollector().CollectorType(), TCollectorType::ctWinEvt);
      }
    } catch (const std::exception& error) {
      EXPECT_EQ(error.what(), c.Error);
    }
  }
}

TEST(ConfigResponseFactoryTest, TheWrittenFormsReadBack) {
  for (const char* answer : {R"({"type":"pendingCollector","error":"e","pendingCollector":{"id":4,"hostName":"h"}})",
                             R"({"type":"collector","collector":{"logLevel":2},"newVersion":"9"})"}) {
    const auto response = TConfigResponseFactory::GetResponse(answer);
    EXPECT_EQ(TConfigResponseFactory::GetResponse(response->AsJSONString())->AsJSONString(), response->AsJSONString());
  }
}

TEST(ConfigServiceQueryTest, IntervalFromSeconds) {
  TCurrentConfig config("unused", nullptr);
  const std::pair<int32_t, uint32_t> cases[] = {
      {1440 * 60, 86400000u}, {1, 1000u}, {0, INFINITE}, {-60, INFINITE}, {INT32_MAX, INFINITE - 1}};
  for (const auto& [seconds, milliseconds] : cases) {
    TConfigServiceQuery query(seconds, "http://127.0.0.1", 1, "", "", "", TCollectorType::ctWinEvt, config);
    EXPECT_EQ(query.TimingIntervalMsec(), milliseconds) << seconds;
  }
}

// The thread against a server of the test, on a configuration file of its own.
class ConfigServiceQueryThreadTest : public testing::Test {
 protected:
  ConfigServiceQueryThreadTest() : FConfig((FDir / "SvcConfig.json").string(), nullptr) {
    TCollector collector;
    collector.SetAsJSONString(R"({"logLevel": 3, "configServer": "local"})");
    collector.SaveAsJson(FConfig.FileName());
    (void)FConfig.Load(true);
  }

  std::unique_ptr<TConfigServiceQuery> Start(int32_t AIntervalSeconds) {
    auto query = std::make_unique<TConfigServiceQuery>(AIntervalSeconds, "http://127.0.0.1", FServer.Port(), "svc",
                                                       "pw", "ID-1", TCollectorType::ctWinEvt, FConfig);
    EXPECT_TRUE(query->ThreadStart(false, 0));
    return query;
  }

  test::TempDir FDir;
  TCurrentConfig FConfig;
  TConfigServer FServer;
};

TEST_F(ConfigServiceQueryThreadTest, AdoptsAChangedCollectorOnceAndAsksAgainAfterTheInterval) {
  FServer.SetAnswer({200, TConfigServer::CollectorAnswer(R"({"logLevel": 5, "configServer": "remote"})")});
  auto query = Start(1);
  ASSERT_TRUE(WaitUntil([&] { return FConfig.Snapshot()->LogLevel() == 5; }));
  EXPECT_EQ(FConfig.Snapshot()->ConfigServer(), "local");
  const TJSONValue request = Json::Parse(FServer.LastBody());
  EXPECT_EQ(request["uniqueId"], "ID-1");
  EXPECT_EQ(request["colectorType"], 1);
  EXPECT_NE(request["hostName"], "");
  EXPECT_EQ(FServer.LastAuthorization(), "Basic c3ZjOnB3");

  // The second answer changes nothing saved: the file stays as it is.
  const std::string saved = test::ReadFile(FConfig.FileName());
  const auto savedTime = std::filesystem::last_write_time(FConfig.FileName());
  ASSERT_TRUE(WaitUntil([&] { return FServer.Requests() >= 2; }, std::chrono::seconds(10)));
  EXPECT_TRUE(query->ThreadStop(true, INFINITE));
  EXPECT_EQ(test::ReadFile(FConfig.FileName()), saved);
  EXPECT_EQ(std::filesystem::last_write_time(FConfig.FileName()), savedTime);
}

TEST_F(ConfigServiceQueryThreadTest, AStopEndsARequestTheServerDoesNotAnswer) {
  FServer.Hold();
  auto query = Start(0);
  ASSERT_TRUE(WaitUntil([&] { return FServer.Requests() == 1; }));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(query->ThreadStop(true, INFINITE));
  // Well below the client's request time-out of a minute.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  FServer.Release();
  EXPECT_EQ(FConfig.Snapshot()->LogLevel(), 3);
}

}  // namespace
}  // namespace zor
