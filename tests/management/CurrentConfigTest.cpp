#include "management/CurrentConfig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/ControlWindow.h"
#include "platform/MessageQueue.h"
#include "support/ServiceFolders.h"
#include "support/TempDir.h"

namespace zor {
namespace {

using TOutcome = TConfigChange::TOutcome;

const char* const TwoReaders = R"({"logLevel": 3, "interfaces": [
  {"name": "Security", "path": "Security", "syslogReceivers": [{"host": "127.0.0.1", "port": 514}]},
  {"name": "System", "path": "System", "syslogReceivers": [{"host": "127.0.0.1", "port": 515}]},
  {"name": "security", "path": "Application", "syslogReceivers": [{"host": "127.0.0.1", "port": 516}]}]})";

// A configuration owner on a file in a temporary folder, posting to a
// control window of the test's thread so that posts can be counted.
class CurrentConfigTest : public testing::Test {
 protected:
  CurrentConfigTest() : FWindow([](const TMessage&) {}), FConfig(File(), &FWindow) {}

  std::string File() const { return (FDir / "SvcConfig.json").string(); }
  void WriteFile(const std::string& AText) const {
    TCollector collector;
    collector.SetAsJSONString(AText);
    collector.SaveAsJson(File());
  }
  std::string FileText() const { return test::ReadFile(File()); }
  int Posts() {
    int count = 0;
    TMessage message;
    while (FQueue.PeekMessage(message)) count += message.Message == WM_RECONFIGURE ? 1 : 0;
    return count;
  }
  std::vector<std::string> ReaderNames() const {
    std::vector<std::string> names;
    for (const auto& reader : FConfig.Snapshot()->InterfaceList()) names.push_back(reader->Path());
    return names;
  }

  test::TempDir FDir;
  TMessageQueue FQueue;
  TControlWindow FWindow;
  TCurrentConfig FConfig;
};

TEST_F(CurrentConfigTest, APutOfOneKeyKeepsEveryOtherSettingSavesAndPosts) {
  WriteFile(TwoReaders);
  const std::shared_ptr<const TCollector> before = FConfig.Load(true);
  ASSERT_EQ(Posts(), 0);

  const TConfigChange change = FConfig.ApplyJson(R"({"logLevel": 5})");
  EXPECT_EQ(change.Outcome, TOutcome::coApplied);
  EXPECT_EQ(Posts(), 1);
  EXPECT_EQ(FConfig.Snapshot()->LogLevel(), 5);
  EXPECT_EQ(ReaderNames(), (std::vector<std::string>{"Security", "System", "Application"}));
  EXPECT_EQ(before->LogLevel(), 3) << "a snapshot never changes under its reader";
  TCollector saved;
  saved.LoadFromJson(File());
  EXPECT_FALSE(TCollector::HasChanged(saved, *FConfig.Snapshot()));

  // A present "interfaces" replaces every reader.
  ASSERT_EQ(FConfig.ApplyJson(R"({"interfaces": [{"name": "Only", "path": "Setup",
      "beatReceivers": [{"host": "127.0.0.1", "port": 9200}]}]})").Outcome, TOutcome::coApplied);
  EXPECT_EQ(ReaderNames(), (std::vector<std::string>{"Setup"}));
  EXPECT_EQ(FConfig.Snapshot()->LogLevel(), 5);
}

// A body that reads well but would stop or cripple the start, or that holds
// something the service would not take as written, changes nothing.
TEST_F(CurrentConfigTest, ABodyThatFailsTheCheckChangesNothingAndNamesEveryProblem) {
  WriteFile(TwoReaders);
  (void)FConfig.Load(true);
  const std::string fileBefore = FileText();
  const struct {
    const char* Body;
    std::vector<std::string> Problems;
  } cases[] = {
      {R"({"logLevel": 5, "interfaces": [{"name": "R", "exclusionRegex": ["(unclosed"],
          "syslogReceivers": [{"host": "h", "port": 0}]}, {"name": "Mute"}]})",
       {"interfaces[0].exclusionRegex[0]: ", "interfaces[0].syslogReceivers[0].port: a receiver needs a port other than 0",
        "interfaces[1]: an enabled reader needs a syslog or beat receiver"}},
      {R"({"port": "abc", "bogus": 1})", {"port: \"abc\" is read as 0", "bogus: unknown key, ignored"}},
      {R"({"ip": "not-an-address"})", {"ip: \"not-an-address\" is not an IP address"}},
      {R"({"protocol": "https", "certFile": "missing.pem"})",
       {"certFile: \"missing.pem\" is not found", "keyFile: \"\" is not found"}},
      {R"({"interfaces": {"name": "x"}})", {"interfaces: expected a JSON array, found object"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Body);
    const TConfigChange change = FConfig.ApplyJson(c.Body);
    EXPECT_EQ(change.Outcome, TOutcome::coRejected);
    ASSERT_EQ(change.Problems.size(), c.Problems.size());
    for (size_t i = 0; i < c.Problems.size(); ++i)
      EXPECT_TRUE(change.Problems[i].starts_with(c.Problems[i])) << change.Problems[i];
  }
  EXPECT_EQ(Posts(), 0);
  EXPECT_EQ(FileText(), fileBefore);
  EXPECT_EQ(FConfig.Snapshot()->LogLevel(), 3);
}

TEST_F(CurrentConfigTest, ABodyThatIsNoJsonObjectRaisesAndChangesNothing) {
  WriteFile(TwoReaders);
  (void)FConfig.Load(true);
  for (const char* body : {"[1,2]", "\"text\"", "{\"logLevel\": ", ""}) {
    SCOPED_TRACE(body);
    EXPECT_THROW((void)FConfig.ApplyJson(body), EZorError);
  }
  EXPECT_EQ(Posts(), 0);
  EXPECT_EQ(FConfig.Snapshot()->LogLevel(), 3);
}

TEST_F(CurrentConfigTest, RemovingAReaderTakesTheFirstOfThatNameInAnyCaseAndAlwaysPosts) {
  WriteFile(TwoReaders);
  (void)FConfig.Load(true);
  EXPECT_EQ(FConfig.RemoveReader("SECURITY").Outcome, TOutcome::coApplied);
  EXPECT_EQ(ReaderNames(), (std::vector<std::string>{"System", "Application"}));
  EXPECT_EQ(Posts(), 1);
  const std::string fileBefore = FileText();
  EXPECT_EQ(FConfig.RemoveReader("nobody").Outcome, TOutcome::coUnchanged);
  EXPECT_EQ(Posts(), 1);
  EXPECT_EQ(FileText(), fileBefore);
}

TEST_F(CurrentConfigTest, AdoptionKeepsTheLocalServerSettingsAndComparesWhatTheFileKeeps) {
  WriteFile(R"({"logLevel": 3, "configServer": "https://local:8443", "configServerUserName": "me",
      "configServerVerifyCertificate": true, "configServerCaFile": "/etc/cfg-ca.pem",
      "interfaces": [{"name": "A", "syslogReceivers": [{"host": "127.0.0.1", "port": 514}]},
                     {"name": "B", "syslogReceivers": [{"host": "127.0.0.1", "port": 515}]}]})");
  (void)FConfig.Load(true);
  const auto received = [](const std::string& AText) { return TCollector::GetFromJSONString(AText); };

  // The same readers in another order, another server, an address the file
  // does not keep while APM is off: nothing that the file keeps changes.
  EXPECT_EQ(FConfig.Adopt(*received(R"({"logLevel": 3, "configServer": "https://elsewhere", "apmServerIp": "10.1.1.1",
      "interfaces": [{"name": "B", "syslogReceivers": [{"host": "127.0.0.1", "port": 515}]},
                     {"name": "A", "syslogReceivers": [{"host": "127.0.0.1", "port": 514}]}]})")).Outcome,
            TOutcome::coUnchanged);
  EXPECT_EQ(Posts(), 0);

  EXPECT_EQ(FConfig.Adopt(*received(R"({"logLevel": 5, "configServer": "https://elsewhere",
                                         "configServerVerifyCertificate": false})")).Outcome,
            TOutcome::coApplied);
  EXPECT_EQ(Posts(), 1);
  TCollector saved;
  saved.LoadFromJson(File());
  EXPECT_EQ(saved.LogLevel(), 5);
  EXPECT_EQ(saved.ConfigServer(), "https://local:8443");
  EXPECT_EQ(saved.ConfigServerUserName(), "me");
  EXPECT_TRUE(saved.ConfigServerVerifyCertificate());
  EXPECT_EQ(saved.ConfigServerCAFile(), "/etc/cfg-ca.pem");
  EXPECT_EQ(saved.InterfaceCount(), 0);

  const TConfigChange bad = FConfig.Adopt(*received(R"({"interfaces": [{"name": "Mute"}]})"));
  EXPECT_EQ(bad.Outcome, TOutcome::coRejected);
  EXPECT_EQ(bad.Problems, (std::vector<std::string>{"interfaces[0]: an enabled reader needs a syslog or beat receiver"}));
  EXPECT_EQ(Posts(), 0);
}

// Readers keep their snapshots while writers replace the configuration; no
// change is lost, since each runs whole under the owner's lock.
TEST_F(CurrentConfigTest, ConcurrentReadersAndWritersSeeWholeConfigurations) {
  WriteFile(TwoReaders);
  (void)FConfig.Load(true);
  std::atomic<bool> stop{false};
  std::vector<std::thread> readers;
  for (int i = 0; i < 2; ++i) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        const auto snapshot = FConfig.Snapshot();
        EXPECT_EQ(snapshot->InterfaceCount(), 3);
        EXPECT_FALSE(snapshot->AsJSONString().empty());
      }
    });
  }
  std::vector<std::thread> writers;
  for (int w = 0; w < 2; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < 10; ++i)
        EXPECT_EQ(FConfig.ApplyJson("{\"trainingMsg\": \"" + std::to_string(w * 100 + i) + "\"}").Outcome,
                  TOutcome::coApplied);
    });
  }
  for (auto& writer : writers) writer.join();
  stop = true;
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(Posts(), 20);
}

}  // namespace
}  // namespace zor
