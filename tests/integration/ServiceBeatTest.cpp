// The service program forwarding event logs to the test bulk endpoint: every
// record arrives once as a document in the index of its UTC day, over HTTP
// and HTTPS; the template is installed when missing; nothing is lost while
// the endpoint is down, busy or refusing, or across a reconfiguration; and
// syslog goes on meanwhile.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <fstream>
#include <vector>

#include "evtx/EvtxReader.h"
#include "support/BulkReceiver.h"
#include "support/LoopbackSink.h"
#include "support/MetricsScrape.h"
#include "support/ServiceFolders.h"
#include "support/TestCertificate.h"
#include "support/WaitUntil.h"

namespace zor {
namespace {

using test::TBulkReceiver;
using test::TBulkReceiverOptions;

const std::filesystem::path SampleFile = std::filesystem::path(ZOR_SHARED_DIR) / "evtx-samples" /
                                         "omer_system_zero_data_size.evtx";

std::string Match(const std::string& AText, const std::string& APattern) {
  std::smatch match;
  const std::regex pattern(APattern);
  return std::regex_search(AText, match, pattern) ? match[1].str() : std::string();
}

// What a record's document must show, read from the record's XML.
struct TRecord {
  std::string Id;        // EventRecordID
  std::string EventId;
  std::string Computer;
  std::string Day;       // YYYY-MM-DD of TimeCreated (UTC)
};

std::map<std::string, TRecord> FileRecords(const std::filesystem::path& AFile) {
  std::map<std::string, TRecord> records;
  TEvtxReader reader(AFile.string());
  TEvtxRecord record;
  while (reader.Next(record)) {
    const std::string xml(record.Xml);
    TRecord r{Match(xml, "<EventRecordID>([0-9]+)<"), Match(xml, "<EventID[^>]*>([0-9]+)<"),
              Match(xml, "<Computer>([^<]*)<"), Match(xml, "SystemTime=.([0-9]{4}-[0-9]{2}-[0-9]{2})")};
    records[r.Id] = r;
  }
  return records;
}

// One beat receiver of a reader.
struct TBeatConfig {
  std::string Protocol = "http";
  uint16_t Port = 0;
  int ESVersion = 7;
  bool CreateTemplate = true;
  bool DocumentId = false;
};

std::string ReaderJson(const std::string& AName, const std::string& AChannel, const TBeatConfig& ABeat,
                       uint16_t ASyslogPort = 0, int ABatchSize = 100) {
  std::string json = "{\"name\": \"" + AName + "\", \"path\": \"" + AChannel + "\", \"batchSize\": " +
                     std::to_string(ABatchSize) + ", \"startAtBeginning\": true, \"beatReceivers\": [{\"name\": \"B\", "
                     "\"protocol\": \"" + ABeat.Protocol + "\", \"host\": \"127.0.0.1\", \"port\": " +
                     std::to_string(ABeat.Port) + ", \"esVersion\": " + std::to_string(ABeat.ESVersion) +
                     ", \"createTemplate\": " + (ABeat.CreateTemplate ? "true" : "false") +
                     ", \"templateName\": \"wlb\"" + (ABeat.DocumentId ? ", \"documentId\": true" : "") + "}]";
  if (ASyslogPort != 0)
    json += ", \"syslogReceivers\": [{\"name\": \"S\", \"host\": \"127.0.0.1\", \"port\": " +
            std::to_string(ASyslogPort) + ", \"transport\": \"TCP\", \"tcpDelimiter\": \"\\\\LF\"}]";
  return json + "}";
}

std::string ConfigJson(const std::vector<std::string>& AReaders) {
  std::string json = "{\"port\": 0, \"logLevel\": 4, \"processingThreads\": 2, \"interfaces\": [";
  for (size_t i = 0; i < AReaders.size(); ++i) json += (i ? "," : "") + AReaders[i];
  return json + "]}";
}

class ServiceBeatTest : public testing::Test, protected test::TServiceFolders {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(EventLogDir());
    std::filesystem::create_directories(SvcDir());
    FCertificate = std::make_unique<test::TTestCertificate>(FRoot.Path());
  }

  std::unique_ptr<TBulkReceiver> Receiver(bool AHttps = false) {
    TBulkReceiverOptions options;
    if (AHttps) {
      options.Certificate = FCertificate->Certificate();
      options.Key = FCertificate->Key();
    }
    return std::make_unique<TBulkReceiver>(options);
  }

  std::map<std::string, TRecord> CopySample(const std::string& AChannel) {
    std::filesystem::copy_file(SampleFile, EventLogDir() / (AChannel + ".evtx"));
    return FileRecords(SampleFile);
  }

  void WriteTemplate(int AESVersion) {
    std::ofstream(SvcDir() / ("winlogbeat_template_" + std::to_string(AESVersion) + ".json"))
        << "{\n  \"index_patterns\": [\"winlogbeat-*\"]\n}\n";
  }

  // Waits until every record has a document, then checks each document
  // against its record: in the index of the record's day, with its event id
  // and computer; returns how many records arrived more than once.
  size_t ExpectEveryRecord(const TBulkReceiver& AReceiver, const std::map<std::string, TRecord>& ARecords,
                           std::chrono::seconds ATimeout = std::chrono::seconds(60)) {
    std::map<std::string, int> seen;
    const bool all = test::WaitUntil(
        [&] {
          seen.clear();
          for (const auto& [index, documents] : AReceiver.Documents())
            for (const std::string& document : documents) {
              const std::string id = Match(document, "\"record_number\":\"?([0-9]+)");
              ++seen[id];
              const auto record = ARecords.find(id);
              if (record == ARecords.end()) {
                ADD_FAILURE() << "unknown document " << document.substr(0, 300);
                continue;
              }
              EXPECT_EQ(index, "winlogbeat-" + record->second.Day) << id;
              EXPECT_EQ(Match(document, "\"event_id\":([0-9]+)"), record->second.EventId) << id;
              EXPECT_EQ(Match(document, "\"computer_name\":\"([^\"]*)\""), record->second.Computer) << id;
            }
          for (const auto& [id, record] : ARecords)
            if (seen[id] == 0) return false;
          return true;
        },
        ATimeout, "a document for every record");
    EXPECT_TRUE(all);
    size_t twice = 0;
    for (const auto& [id, count] : seen) twice += count > 1 ? 1 : 0;
    return twice;
  }

  void Stop(test::TChildProcess& AService) {
    AService.Signal(SIGTERM);
    EXPECT_EQ(AService.WaitForExit(), 0) << AService.StandardError();
  }

  std::unique_ptr<test::TTestCertificate> FCertificate;
};

class ServiceBeatEndpointTest : public ServiceBeatTest, public testing::WithParamInterface<bool> {};

TEST_P(ServiceBeatEndpointTest, EveryRecordArrivesOnceInTheIndexOfItsDay) {
  const bool https = GetParam();
  auto receiver = Receiver(https);
  const auto records = CopySample("Forwarded");
  WriteTemplate(7);
  TBeatConfig beat{https ? "https" : "http", receiver->Port()};
  WriteConfig(ConfigJson({ReaderJson("Reader1", "Forwarded", beat)}));
  auto service = Start();

  EXPECT_EQ(ExpectEveryRecord(*receiver, records), 0u) << service->StandardError();
  EXPECT_EQ(receiver->TemplatePuts(), 1u);
  EXPECT_EQ(receiver->GrammarErrors(), 0u) << receiver->LastGrammarError();
  Stop(*service);

  // A second start finds the template in place and sends nothing again.
  service = Start();
  ASSERT_TRUE(test::WaitUntil([&] { return receiver->TemplateHeads() == 2; }));
  Stop(*service);
  EXPECT_EQ(receiver->TemplatePuts(), 1u);
  EXPECT_EQ(receiver->DocumentCount(), records.size());
  const std::string port = std::to_string(receiver->Port());
  EXPECT_TRUE(LogInOrder({"Init Beat Senders", std::string("Loading Beat [0] for Reader [0] ") +
                                                   (https ? "https" : "http") + "://127.0.0.1:" + port,
                          "Template created!", "Shut down log beat senders"}));
}

INSTANTIATE_TEST_SUITE_P(Schemes, ServiceBeatEndpointTest, testing::Values(false, true),
                         [](const auto& AInfo) { return AInfo.param ? "Https" : "Http"; });

TEST_F(ServiceBeatTest, MissingTemplateFileIsOneErrorAndDeliveryGoesOn) {
  auto receiver = Receiver();
  const auto records = CopySample("Forwarded");
  WriteConfig(ConfigJson({ReaderJson("Reader1", "Forwarded", {"http", receiver->Port()})}));
  auto service = Start();
  EXPECT_EQ(ExpectEveryRecord(*receiver, records), 0u) << service->StandardError();
  Stop(*service);
  EXPECT_EQ(receiver->TemplatePuts(), 0u);
  EXPECT_EQ(LogCount("Template file "), 1);
}

// Down at start and up once the sender has tried again, then refusing two
// documents: every document it could take arrives; the refused ones are
// logged; syslog goes on all the while. (Busy answers and dropped
// connections are the sender's own tests, with a short back-off.)
TEST_F(ServiceBeatTest, EndpointDownAtStartAndRefusingLosesNothingAndSyslogGoesOn) {
  auto receiver = Receiver();
  auto syslog = test::TLoopbackSink::Tcp();
  const auto records = CopySample("Forwarded");
  ASSERT_GT(records.size(), 10u);
  const std::string refused1 = std::next(records.begin(), 3)->first;
  const std::string refused2 = std::next(records.begin(), 7)->first;
  receiver->Stop();
  receiver->RejectDocuments([&](std::string_view, std::string_view ADocument) {
    const std::string id = Match(std::string(ADocument), "\"record_number\":\"?([0-9]+)");
    return id == refused1 || id == refused2;
  });
  WriteConfig(ConfigJson({ReaderJson("Reader1", "Forwarded", {"http", receiver->Port(), 7, false},
                                     syslog->Port(), 200)}));
  auto service = Start();
  // Syslog does not wait for the beat endpoint: in sets of 200, the whole
  // sample fits in the sets a reader may have on their way (one for each
  // processing thread, and one).
  ASSERT_TRUE(test::WaitUntil(
                  [&] {
                    const std::string received = syslog->Received();
                    return static_cast<size_t>(std::count(received.begin(), received.end(), '\n')) >= records.size();
                  },
                  std::chrono::seconds(30), "every syslog line"))
      << service->StandardError();
  // The sender has tried again after a failure and waits to try once more.
  ASSERT_TRUE(test::WaitUntil([&] { return LogCount("next attempt in") >= 2; })) << Log();
  receiver->Start();

  std::map<std::string, TRecord> expected = records;
  expected.erase(refused1);
  expected.erase(refused2);
  const size_t twice = ExpectEveryRecord(*receiver, expected, std::chrono::seconds(60));
  RecordProperty("DocumentsReceivedTwice", static_cast<int>(twice));

  // The figures agree with what the receivers got: every document the
  // endpoint stored was counted accepted, the two it refused dropped, and
  // every syslog line sent.
  const uint16_t port = EndPointPort();
  const std::string beat = "{destination=\"http://127.0.0.1:" + std::to_string(receiver->Port()) + "\"}";
  std::map<std::string, double> metrics;
  EXPECT_TRUE(test::WaitUntil([&] {
    metrics = test::ScrapeMetrics(port);
    return test::Sample(metrics, "zor_beat_documents_accepted_total" + beat) ==
               static_cast<double>(receiver->DocumentCount()) &&
           test::Sample(metrics, "zor_beat_documents_dropped_total" + beat) == 2;
  })) << test::Sample(metrics, "zor_beat_documents_accepted_total" + beat) << " accepted, "
      << receiver->DocumentCount() << " stored";
  EXPECT_EQ(test::Sample(metrics, "zor_beat_documents_rejected_total{destination=\"http://127.0.0.1:" +
                                      std::to_string(receiver->Port()) + "\",error_type=\"mapper_parsing_exception\"}"),
            2);
  EXPECT_GT(test::Sample(metrics, "zor_beat_documents_retried_total" + beat), 0);
  EXPECT_EQ(test::Sample(metrics, "zor_beat_last_status" + beat), 200);
  EXPECT_EQ(test::Sample(metrics, "zor_beat_documents_queued" + beat), 0);
  const std::string received = syslog->Received();
  const std::string tcp = "{destination=\"127.0.0.1:" + std::to_string(syslog->Port()) + "\",transport=\"TCP\"}";
  EXPECT_EQ(test::Sample(metrics, "zor_syslog_messages_sent_total" + tcp),
            static_cast<double>(std::count(received.begin(), received.end(), '\n')));
  EXPECT_EQ(test::Sample(metrics, "zor_syslog_bytes_sent_total" + tcp), static_cast<double>(received.size()));
  EXPECT_EQ(test::Sample(metrics, "zor_syslog_messages_dropped_total" + tcp), 0);
  EXPECT_EQ(test::Sample(metrics, "zor_reader_records_read_total{reader=\"Reader1\"}"),
            static_cast<double>(records.size()));
  Stop(*service);
  EXPECT_EQ(receiver->RejectedDocuments(), 2u);
  EXPECT_TRUE(LogHas("refused a document"));
  EXPECT_TRUE(LogHas("mapper_parsing_exception"));
}

// With document ids, a request whose answer is lost after the endpoint
// stored its documents is sent again and replaces them: the index holds every
// record once. Without, the same loss doubles documents.
TEST_F(ServiceBeatTest, DocumentIdsKeepEveryRecordOnceWhenAnAnswerIsLost) {
  const auto records = CopySample("Forwarded");
  for (const bool withIds : {true, false}) {
    SCOPED_TRACE(withIds ? "with ids" : "without ids");
    std::filesystem::remove_all(BookmarkDir());  // each run reads the channel from its start
    auto receiver = Receiver();
    receiver->DropConnections(1, true);
    TBeatConfig beat{"http", receiver->Port(), 7, false};
    beat.DocumentId = withIds;
    WriteConfig(ConfigJson({ReaderJson("Reader1", "Forwarded", beat)}));
    auto service = Start();
    ExpectEveryRecord(*receiver, records);
    // The lost answer's request goes again after the back-off.
    EXPECT_TRUE(test::WaitUntil([&] {
      return withIds ? receiver->UpdatedDocuments() > 0 : receiver->DocumentCount() > records.size();
    }));
    const size_t twice = ExpectEveryRecord(*receiver, records);
    Stop(*service);
    EXPECT_EQ(receiver->GrammarErrors(), 0u) << receiver->LastGrammarError();
    if (withIds) {
      EXPECT_EQ(twice, 0u);
      EXPECT_EQ(receiver->DocumentCount(), records.size());
    } else {
      EXPECT_GT(twice, 0u);
    }
  }
}

// Two readers naming the same host and port share one sender, set up by the
// first reader's receiver (version 8 here: no "_type").
TEST_F(ServiceBeatTest, TwoReadersShareOneSenderWithTheFirstReadersSettings) {
  TBulkReceiverOptions options;
  options.RejectTypes = true;
  TBulkReceiver receiver(options);
  const auto records = CopySample("First");
  (void)CopySample("Second");
  WriteConfig(ConfigJson({ReaderJson("Reader1", "First", {"http", receiver.Port(), 8, false}),
                          ReaderJson("Reader2", "Second", {"http", receiver.Port(), 7, false})}));
  auto service = Start();
  ASSERT_TRUE(test::WaitUntil([&] { return receiver.DocumentCount() == 2 * records.size(); },
                              std::chrono::seconds(60), "both channels"))
      << service->StandardError();
  Stop(*service);
  EXPECT_EQ(receiver.TypedActions(), 0u);
  const std::string log = Log();
  EXPECT_NE(log.find("Loading Beat [0] for Reader [0] http://127.0.0.1:"), std::string::npos);
  EXPECT_EQ(log.find("Loading Beat [0] for Reader [1]"), std::string::npos);
}

// SIGHUP while the endpoint is down: the documents waiting in the senders go
// back to the outbound queue and the new senders deliver them.
TEST_F(ServiceBeatTest, ReconfigureWhileTheEndpointIsDownLosesNothing) {
  auto receiver = Receiver();
  const auto records = CopySample("Forwarded");
  receiver->Stop();
  const std::string config = ConfigJson({ReaderJson("Reader1", "Forwarded", {"http", receiver->Port(), 7, false})});
  WriteConfig(config);
  auto service = Start();
  ASSERT_TRUE(LogHas("POST Failed")) << service->StandardError();
  service->Signal(SIGHUP);
  ASSERT_TRUE(LogHas("Starting up for reconfigure"));
  ASSERT_TRUE(LogHas("unsent documents for 127.0.0.1:" + std::to_string(receiver->Port()) +
                     " kept for the next start-up"));
  receiver->Start();
  EXPECT_EQ(ExpectEveryRecord(*receiver, records, std::chrono::seconds(90)), 0u);
  Stop(*service);
}

}  // namespace
}  // namespace zor
