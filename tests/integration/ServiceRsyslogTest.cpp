// The service program forwarding event logs to a real rsyslogd: every record
// arrives once, in order, in the BSD or IETF form, over every transport; and
// nothing is lost when the receiver is late, goes away for a while, or the
// service is reconfigured while messages wait.
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
#include <vector>

#include "evtx/EvtxReader.h"
#include "evtx/XmlChannel.h"
#include "support/LoopbackSink.h"
#include "support/MetricsScrape.h"
#include "support/RsyslogRunner.h"
#include "support/ServiceFolders.h"
#include "support/TestCertificate.h"
#include "support/WaitUntil.h"

namespace zor {
namespace {

using test::TRsyslogRunner;
using TInput = TRsyslogRunner::TInput;

const std::filesystem::path SampleFile = std::filesystem::path(ZOR_SHARED_DIR) / "evtx-samples" /
                                         "omer_system_zero_data_size.evtx";

// The EventRecordID of an event's XML or of a line that carries one; 0 if none.
uint64_t EventRecordId(const std::string& AText) {
  static const std::regex id("<EventRecordID>([0-9]+)</EventRecordID>");
  std::smatch match;
  return std::regex_search(AText, match, id) ? std::stoull(match[1]) : 0;
}

// The EventRecordIDs of a channel file, in the order the file holds them.
std::vector<uint64_t> FileRecordIds(const std::filesystem::path& AFile) {
  std::vector<uint64_t> ids;
  TEvtxReader reader(AFile.string());
  TEvtxRecord record;
  while (reader.Next(record)) ids.push_back(EventRecordId(std::string(record.Xml)));
  return ids;
}

std::vector<uint64_t> LineRecordIds(const std::vector<std::string>& ALines) {
  std::vector<uint64_t> ids;
  for (const std::string& line : ALines) ids.push_back(EventRecordId(line));
  return ids;
}

// AActual is AExpected: same records, each once, same order. The failure
// says what is missing, what came twice and where the order first differs.
testing::AssertionResult SameRecords(const std::vector<uint64_t>& AActual, const std::vector<uint64_t>& AExpected) {
  if (AActual == AExpected) return testing::AssertionSuccess();
  std::map<uint64_t, int> seen;
  for (uint64_t id : AActual) ++seen[id];
  auto failure = testing::AssertionFailure();
  failure << AActual.size() << " records received, " << AExpected.size() << " expected;";
  int missing = 0;
  for (uint64_t id : AExpected)
    if (seen[id] == 0 && ++missing <= 10) failure << " missing " << id << ";";
  for (const auto& [id, count] : seen)
    if (count > 1) failure << " " << id << " received " << count << " times;";
  for (size_t i = 0; i < std::min(AActual.size(), AExpected.size()); ++i) {
    if (AActual[i] != AExpected[i]) {
      failure << " first difference at " << i << ": " << AActual[i] << " instead of " << AExpected[i];
      break;
    }
  }
  return failure;
}

// One reader: a channel, one syslog receiver.
struct TReaderConfig {
  std::string Name;
  std::string Channel;
  uint16_t Port = 0;
  std::string Transport = "TCP";
  std::string Delimiter = "\\LF";
  int Version = 0;  // 0 BSD, 1 IETF
};

// AText as the body of a JSON string (the delimiters hold backslashes).
std::string JsonEscaped(const std::string& AText) {
  std::string escaped;
  for (char c : AText) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return escaped;
}

std::string ConfigJson(const std::vector<TReaderConfig>& AReaders, const std::string& AExtra = "") {
  std::string json = "{\"port\": 0, \"logLevel\": 4, \"processingThreads\": 2" + AExtra + ", \"interfaces\": [";
  for (size_t i = 0; i < AReaders.size(); ++i) {
    const TReaderConfig& r = AReaders[i];
    json += std::string(i ? "," : "") + "{\"name\": \"" + r.Name + "\", \"path\": \"" + r.Channel +
            "\", \"batchSize\": 100, \"startAtBeginning\": true, \"syslogReceivers\": [{\"name\": \"" + r.Name +
            "\", \"host\": \"127.0.0.1\", \"port\": " + std::to_string(r.Port) + ", \"transport\": \"" +
            r.Transport + "\", \"tcpDelimiter\": \"" + JsonEscaped(r.Delimiter) + "\", \"version\": " +
            std::to_string(r.Version) + "}]}";
  }
  return json + "]}";
}

class ServiceRsyslogTest : public testing::Test, protected test::TServiceFolders {
 protected:
  void SetUp() override {
    if (!TRsyslogRunner::Available()) GTEST_SKIP() << "rsyslogd is not installed (scripts/setup.sh installs it)";
    std::filesystem::create_directories(FRoot / "rsyslog");
    std::filesystem::create_directories(EventLogDir());
    FCertificate = std::make_unique<test::TTestCertificate>(FRoot / "rsyslog");
    FRsyslog = std::make_unique<TRsyslogRunner>(FRoot / "rsyslog", *FCertificate);
  }

  // The sample file as channel AChannel; its record ids.
  std::vector<uint64_t> CopySample(const std::string& AChannel) {
    std::filesystem::copy_file(SampleFile, EventLogDir() / (AChannel + ".evtx"));
    return FileRecordIds(SampleFile);
  }

  // Appends ACount events to the XML channel AChannel; the new record ids.
  std::vector<uint64_t> AppendEvents(const std::string& AChannel, int ACount) {
    std::vector<uint64_t> ids;
    for (int i = 0; i < ACount; ++i) {
      TNewEvent event;
      event.Channel = AChannel;
      event.Provider = "Service Test";
      event.EventId = 1000 + static_cast<uint32_t>(i);
      event.Computer = "host1.example.org";
      event.Data = {{"Index", std::to_string(i)}, {"Text", "event text"}};
      ids.push_back(TXmlChannel::Append(EventLogDir() / (AChannel + ".xml"), event));
    }
    return ids;
  }

  // Waits until AInput has recorded as many lines as AExpected has records,
  // gives anything doubled time to show, and checks the lines are AExpected's
  // records, each once, in order. Returns the lines.
  std::vector<std::string> ExpectRecordsOnce(TInput AInput, const std::vector<uint64_t>& AExpected,
                                             std::chrono::seconds ATimeout = std::chrono::seconds(30)) {
    EXPECT_TRUE(FRsyslog->WaitForLines(AInput, AExpected.size(), ATimeout));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::vector<std::string> lines = FRsyslog->Lines(AInput);
    EXPECT_TRUE(SameRecords(LineRecordIds(lines), AExpected));
    return lines;
  }

  void Stop(test::TChildProcess& AService) {
    AService.Signal(SIGTERM);
    EXPECT_EQ(AService.WaitForExit(), 0) << AService.StandardError();
  }

  std::unique_ptr<test::TTestCertificate> FCertificate;
  std::unique_ptr<TRsyslogRunner> FRsyslog;
};

struct TTransportCase {
  const char* Name;
  TInput Input;
  const char* Transport;
  const char* Delimiter;
  int Version;
};

class ServiceRsyslogTransportTest : public ServiceRsyslogTest, public testing::WithParamInterface<TTransportCase> {};

// BSD: "<14>Mmm dd hh:mm:ss COMPUTER Provider[pid]: <Event ..." (no "[pid]"
// without one); IETF: "<14>1 yyyy-mm-ddThh:mm:ss.fffZ COMPUTER Provider pid - -
// <Event ..." ("-" without a pid).
TEST_P(ServiceRsyslogTransportTest, EveryRecordArrivesOnceInOrder) {
  const TTransportCase& c = GetParam();
  const std::vector<uint64_t> expected = CopySample("Forwarded");
  WriteConfig(ConfigJson({{"Reader1", "Forwarded", FRsyslog->Port(c.Input), c.Transport, c.Delimiter, c.Version}}));
  auto service = Start();

  const std::vector<std::string> lines = ExpectRecordsOnce(c.Input, expected);
  ASSERT_EQ(lines.size(), expected.size()) << service->StandardError();

  const std::regex header(c.Version == 0 ? "<14>[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [^ ]+ "
                                           "[^ \\[]+(\\[[0-9]+\\])?: "
                                         : "<14>1 [0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[.][0-9]{3}Z "
                                           "[^ ]+ [^ ]+ ([0-9]+|-) - - ");
  const std::string tail = "</Event>";
  for (const std::string& line : lines) {
    const size_t event = line.find("<Event xmlns=");
    ASSERT_NE(event, std::string::npos) << line;
    ASSERT_TRUE(std::regex_match(line.substr(0, event), header)) << line;
    ASSERT_EQ(line.compare(line.size() - tail.size(), tail.size(), tail), 0) << line;
  }

  // The sender counted what rsyslog got.
  const std::string label = std::string("{destination=\"127.0.0.1:") + std::to_string(FRsyslog->Port(c.Input)) +
                            "\",transport=\"" + (c.Input == TInput::Tls ? "TLS" : c.Transport) + "\"}";
  const auto metrics = test::ScrapeMetrics(EndPointPort());
  EXPECT_EQ(test::Sample(metrics, "zor_syslog_messages_sent_total" + label), static_cast<double>(lines.size()));
  EXPECT_EQ(test::Sample(metrics, "zor_syslog_messages_dropped_total" + label), 0);
  EXPECT_EQ(test::Sample(metrics, "zor_syslog_connected" + label), 1);
  EXPECT_EQ(test::Sample(metrics, "zor_reader_records_read_total{reader=\"Reader1\"}"),
            static_cast<double>(expected.size()));
  EXPECT_EQ(test::Sample(metrics, "zor_reader_bookmark_record_id{reader=\"Reader1\"}"),
            static_cast<double>(expected.back()));
  EXPECT_EQ(test::Sample(metrics, "zor_reader_records_behind{reader=\"Reader1\"}"), 0);
  Stop(*service);

  const std::string transportLine = std::string("  Transport = ") +
                                    (std::string(c.Transport) == "TLS1.2" ? "TLSv1.2" : c.Transport);
  EXPECT_TRUE(LogInOrder({"Init Syslog Senders", "Loading Syslog sender [0] for Reader [0] Reader1",
                          "  Desination Host 127.0.0.1", transportLine, "Loading Readers [0] Reader1",
                          "  Log Name = Forwarded", "  Start From Beginning = True",
                          "  Sylsog Receiver[0] = 127.0.0.1:" + std::to_string(FRsyslog->Port(c.Input)),
                          "Shutting down 1 subscribers", "Subscribers Reader1 shut down", "Shut down syslog senders"}));
}

INSTANTIATE_TEST_SUITE_P(Transports, ServiceRsyslogTransportTest,
                         testing::Values(TTransportCase{"UdpBsd", TInput::Udp, "UDP", "", 0},
                                         TTransportCase{"TcpLineFeedBsd", TInput::Tcp, "TCP", "\\LF", 0},
                                         TTransportCase{"TcpOctetCountingIetf", TInput::Tcp, "TCP", "", 1},
                                         TTransportCase{"Tls12Ietf", TInput::Tls, "TLS1.2", "\\LF", 1},
                                         TTransportCase{"RelpBsd", TInput::Relp, "RELP", "", 0}),
                         [](const testing::TestParamInfo<TTransportCase>& AInfo) { return AInfo.param.Name; });

// A second start forwards only what was written since the first stopped.
TEST_F(ServiceRsyslogTest, RestartResumesAfterTheLastRecordSent) {
  const uint16_t port = FRsyslog->Port(TInput::Tcp);
  WriteConfig(ConfigJson({{"Reader1", "Growing", port}}));
  std::vector<uint64_t> expected = AppendEvents("Growing", 40);
  auto service = Start();
  ASSERT_TRUE(FRsyslog->WaitForLines(TInput::Tcp, 40)) << service->StandardError();
  Stop(*service);

  for (uint64_t id : AppendEvents("Growing", 25)) expected.push_back(id);
  service = Start();
  (void)ExpectRecordsOnce(TInput::Tcp, expected);
  Stop(*service);
}

// The receiver is not there when the service starts and comes up once the
// sender has failed twice: the sender keeps trying and every record arrives once.
TEST_F(ServiceRsyslogTest, LateReceiverGetsEveryRecordOnce) {
  const std::vector<uint64_t> expected = CopySample("Forwarded");
  WriteConfig(ConfigJson({{"Reader1", "Forwarded", FRsyslog->Port(TInput::Tcp)}}));
  FRsyslog->Stop();
  auto service = Start();
  // The sender has tried again after a failure and waits to try once more.
  ASSERT_TRUE(test::WaitUntil([&] { return LogCount("next attempt in") >= 2; })) << Log();
  FRsyslog->Restart();

  (void)ExpectRecordsOnce(TInput::Tcp, expected, std::chrono::seconds(90));
  Stop(*service);
}

// The receiver goes away in the middle of a channel and comes back: every
// record arrives. Delivery over TCP is at least once; the test reports how
// many arrived twice.
TEST_F(ServiceRsyslogTest, ReceiverRestartedMidChannelLosesNothing) {
  const uint16_t port = FRsyslog->Port(TInput::Tcp);
  WriteConfig(ConfigJson({{"Reader1", "Growing", port}}));
  std::vector<uint64_t> expected = AppendEvents("Growing", 50);
  auto service = Start();
  ASSERT_TRUE(FRsyslog->WaitForLines(TInput::Tcp, 50)) << service->StandardError();

  FRsyslog->Stop();
  for (uint64_t id : AppendEvents("Growing", 50)) expected.push_back(id);
  ASSERT_TRUE(LogHas("Connect Failed"));
  FRsyslog->Restart();
  for (uint64_t id : AppendEvents("Growing", 50)) expected.push_back(id);

  ASSERT_TRUE(test::WaitUntil(
      [&] {
        std::map<uint64_t, int> seen;
        for (uint64_t id : LineRecordIds(FRsyslog->Lines(TInput::Tcp))) ++seen[id];
        for (uint64_t id : expected)
          if (seen[id] == 0) return false;
        return true;
      },
      std::chrono::seconds(90), "every record at the receiver"));
  Stop(*service);
  const size_t doubled = FRsyslog->Lines(TInput::Tcp).size() - expected.size();
  RecordProperty("RecordsReceivedTwice", static_cast<int>(doubled));
  EXPECT_EQ(doubled, 0u) << "records that arrived twice";
}

// A changed file and SIGHUP: the pipeline is rebuilt from the new file, and
// the messages that were waiting for an unreachable receiver are sent by the
// new senders, once.
TEST_F(ServiceRsyslogTest, ReconfigureKeepsQueuedMessages) {
  const uint16_t port = FRsyslog->Port(TInput::Tcp);
  WriteConfig(ConfigJson({{"Reader1", "Growing", port}}));
  const std::vector<uint64_t> expected = AppendEvents("Growing", 30);
  FRsyslog->Stop();
  auto service = Start();
  ASSERT_TRUE(LogHas("Connect Failed")) << service->StandardError();

  WriteConfig(ConfigJson({{"Reader1", "Growing", port}}, ", \"queueCountThreshold\": 0"));
  service->Signal(SIGHUP);
  ASSERT_TRUE(LogHas("Starting up for reconfigure"));
  ASSERT_TRUE(LogHas("unsent messages for 127.0.0.1:" + std::to_string(port) + " kept for the next start-up"));
  FRsyslog->Restart();

  (void)ExpectRecordsOnce(TInput::Tcp, expected, std::chrono::seconds(90));
  Stop(*service);
}

// Training mode: one trainer per destination sends its line at once and then
// at every interval; no channel is read.
TEST_F(ServiceRsyslogTest, TrainingModeSendsTheTrainingLineToEveryReceiver) {
  AppendEvents("Growing", 5);
  WriteConfig(ConfigJson({{"Reader1", "Growing", FRsyslog->Port(TInput::Tcp)},
                          {"Reader2", "Growing", FRsyslog->Port(TInput::Udp), "UDP", ""},
                          {"Reader3", "Growing", FRsyslog->Port(TInput::Tcp)}},
                         ", \"trainingMode\": true, \"trainingMsgInterval\": 2"));
  auto service = Start();
  ASSERT_TRUE(FRsyslog->WaitForLines(TInput::Tcp, 3, std::chrono::seconds(30))) << service->StandardError();
  ASSERT_TRUE(FRsyslog->WaitForLines(TInput::Udp, 3, std::chrono::seconds(30)));
  Stop(*service);

  const std::regex training("<31>[A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [^ ]+ TrainingProcess\\[[0-9]+\\]: "
                            "Syslog Training Nessage");
  for (TInput input : {TInput::Tcp, TInput::Udp}) {
    const std::vector<std::string> lines = FRsyslog->Lines(input);
    // Two readers share the TCP receiver: still one trainer, so the lines
    // come at the interval, not twice as often.
    EXPECT_LE(lines.size(), 5u);
    for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, training)) << line;
  }
  EXPECT_TRUE(std::filesystem::is_empty(BookmarkDir()));
  EXPECT_TRUE(LogInOrder({"Starting In Training Mode", "Training Mode Msg Interval = 2 seconds", "Init Trainers",
                          "Start Training Thread For Host", "Shutting down 2 trainers"}));
}

// A receiver's own sending settings reach its sender: a persistent
// connection is opened once, and the forward header goes in front of every
// line with the address list.
TEST_F(ServiceRsyslogTest, ReceiverSendingSettingsReachTheSender) {
  auto sink = test::TLoopbackSink::Tcp();
  WriteConfig(R"({"interfaces": [{"name": "R0", "path": "Growing", "batchSize": 10, "syslogReceivers": [
      {"name": "S", "host": "127.0.0.1", "port": )" + std::to_string(sink->Port()) + R"(, "transport": "TCP",
       "tcpDelimiter": "\\LF", "persistentConnection": true, "forwardHeader": "FWD",
       "forwardIpList": ["10.0.0.1", "10.0.0.2"]}]}]})");
  const auto lineCount = [&] {
    const std::string received = sink->Received();
    return std::count(received.begin(), received.end(), '\n');
  };
  AppendEvents("Growing", 3);
  auto service = Start();
  ASSERT_TRUE(test::WaitUntil([&] { return lineCount() == 3; })) << service->StandardError();
  AppendEvents("Growing", 3);
  ASSERT_TRUE(test::WaitUntil([&] { return lineCount() == 6; }));
  Stop(*service);

  EXPECT_EQ(sink->Connections(), 1u);
  const std::string received = sink->Received();
  size_t lines = 0;
  for (size_t at = 0; at < received.size(); at = received.find('\n', at) + 1, ++lines)
    EXPECT_EQ(received.compare(at, 22, "FWD 10.0.0.1,10.0.0.2 "), 0) << received.substr(at, 80);
  EXPECT_EQ(lines, 6u);
}

}  // namespace
}  // namespace zor
