// The service's figures as a real Prometheus server sees them: promtool
// accepts the exposition, the server scrapes the running service, and the
// series it stored (read back through its HTTP API) hold what the receiver
// got. Then the status command shows the same figures for a person.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/ChildProcess.h"
#include "support/Json.h"
#include "support/LoopbackSink.h"
#include "support/MetricsScrape.h"
#include "support/ServiceFolders.h"
#include "support/WaitUntil.h"

namespace zor {
namespace {

const std::filesystem::path SampleFile = std::filesystem::path(ZOR_SHARED_DIR) / "evtx-samples" /
                                         "omer_system_zero_data_size.evtx";

std::filesystem::path FindProgram(const std::string& AName) {
  for (const char* folder : {"/usr/bin", "/usr/local/bin", "/bin"}) {
    const std::filesystem::path candidate = std::filesystem::path(folder) / AName;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// A loopback port that was free a moment ago (Prometheus takes no port 0).
uint16_t FreePort() {
  const int handle = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(handle);
    return 0;
  }
  ::close(handle);
  return ntohs(address.sin_port);
}

// A Prometheus server on a loopback port, scraping one target every second,
// with its configuration and storage in AFolder.
class TPrometheus {
 public:
  TPrometheus(const std::filesystem::path& AFolder, uint16_t ATargetPort) {
    std::filesystem::create_directories(AFolder / "data");
    const std::filesystem::path config = AFolder / "prometheus.yml";
    std::ofstream(config) << "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                             "scrape_configs:\n  - job_name: zor\n    static_configs:\n"
                             "      - targets: ['127.0.0.1:" << ATargetPort << "']\n";
    // The port may be taken between the look and the start: a few tries.
    for (int attempt = 0; attempt < 3 && !FReady; ++attempt) {
      FPort = FreePort();
      FProcess = std::make_unique<test::TChildProcess>(
          FindProgram("prometheus").string(),
          std::vector<std::string>{"--config.file=" + config.string(),
                                   "--storage.tsdb.path=" + (AFolder / "data").string(),
                                   "--web.listen-address=127.0.0.1:" + std::to_string(FPort),
                                   // No console files are installed beside it, and none are needed.
                                   "--web.console.templates=" + (AFolder / "none").string(),
                                   "--web.console.libraries=" + (AFolder / "none").string()},
          AFolder);
      FReady = test::WaitUntil(
          [&] { return Get("/-/ready").first == 200 || FProcess->ExitStatus().has_value(); },
          std::chrono::seconds(60), "prometheus ready");
      FReady = FReady && !FProcess->ExitStatus().has_value();
    }
  }
  ~TPrometheus() {
    if (!FProcess) return;
    FProcess->Signal(SIGTERM);
    (void)FProcess->WaitForExit();
  }

  bool Ready() const { return FReady; }
  std::string StandardError() const { return FProcess ? FProcess->StandardError() : std::string(); }

  // The status and body of a GET of APath.
  std::pair<int, std::string> Get(const std::string& APath) const {
    httplib::Client client("127.0.0.1", FPort);
    client.set_connection_timeout(std::chrono::seconds(2));
    client.set_read_timeout(std::chrono::seconds(10));
    const auto answer = client.Get(APath);
    return answer ? std::make_pair(answer->status, answer->body) : std::make_pair(0, std::string());
  }

  // The result vector of an instant query, as Prometheus' HTTP API returns it.
  TJSONValue Query(const std::string& AQuery) const {
    const auto [status, body] = Get("/api/v1/query?query=" + httplib::detail::encode_query_param(AQuery));
    if (status != 200) return TJSONValue::array();
    return Json::Parse(body)["data"]["result"];
  }

 private:
  uint16_t FPort = 0;
  bool FReady = false;
  std::unique_ptr<test::TChildProcess> FProcess;
};

class MetricsPrometheusTest : public testing::Test, protected test::TServiceFolders {};

TEST_F(MetricsPrometheusTest, PrometheusScrapesTheRunningServiceAndStoresWhatTheReceiverGot) {
  ASSERT_FALSE(FindProgram("prometheus").empty()) << "prometheus is not installed (scripts/setup.sh installs it)";
  std::filesystem::create_directories(EventLogDir());
  std::filesystem::copy_file(SampleFile, EventLogDir() / "Forwarded.evtx");
  auto sink = test::TLoopbackSink::Tcp();
  WriteConfig(R"({"port": 0, "logLevel": 4, "interfaces": [{"name": "Reader \"one\"", "path": "Forwarded",
      "batchSize": 50, "startAtBeginning": true, "syslogReceivers": [{"host": "127.0.0.1", "port": )" +
              std::to_string(sink->Port()) + R"(, "transport": "TCP", "tcpDelimiter": "\\LF"}]}]})");
  auto service = Start();
  const uint16_t port = EndPointPort();
  ASSERT_NE(port, 0) << service->StandardError();

  // Every record sent, and the figures settled on it: nothing left behind
  // the reader (it may wait for its receiver between sets).
  const std::string series = "zor_syslog_messages_sent_total{destination=\"127.0.0.1:" +
                             std::to_string(sink->Port()) + "\",transport=\"TCP\"}";
  size_t lines = 0;
  ASSERT_TRUE(test::WaitUntil([&] {
    const std::string received = sink->Received();
    lines = static_cast<size_t>(std::count(received.begin(), received.end(), '\n'));
    const auto metrics = test::ScrapeMetrics(port);
    return lines > 0 && test::Sample(metrics, series) == static_cast<double>(lines) &&
           test::Sample(metrics, "zor_reader_records_read_total{reader=\"Reader \\\"one\\\"\"}") ==
               static_cast<double>(lines) &&
           test::Sample(metrics, "zor_reader_records_behind{reader=\"Reader \\\"one\\\"\"}") == 0;
  }, std::chrono::seconds(60), "every record sent"));

  std::string exposition;
  (void)test::ScrapeMetrics(port, &exposition);
  std::ofstream(FRoot / "metrics.txt") << exposition;
  std::string out;
  std::string err;
  const int checked = test::RunProgram("/bin/sh", {"-c", "promtool check metrics < \"$0\"", (FRoot / "metrics.txt").string()},
                                       FRoot.Path(), &out, &err);
  EXPECT_EQ(checked, 0) << out << err;

  TPrometheus prometheus(FRoot / "prometheus", port);
  ASSERT_TRUE(prometheus.Ready()) << prometheus.StandardError();
  TJSONValue result;
  auto last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  // Asked at most every 200 ms: the server needs a scrape or two first.
  ASSERT_TRUE(test::WaitUntil(
      [&] {
        if (std::chrono::steady_clock::now() - last < std::chrono::milliseconds(200)) return false;
        last = std::chrono::steady_clock::now();
        result = prometheus.Query("zor_syslog_messages_sent_total");
        return result.size() == 1;
      },
      std::chrono::seconds(60), "the scraped series"))
      << prometheus.StandardError();
  EXPECT_EQ(result[0]["metric"]["job"], "zor");
  EXPECT_EQ(result[0]["metric"]["destination"], "127.0.0.1:" + std::to_string(sink->Port()));
  EXPECT_EQ(result[0]["metric"]["transport"], "TCP");
  EXPECT_EQ(result[0]["value"][1], std::to_string(lines));
  const TJSONValue read = prometheus.Query("zor_reader_records_read_total");
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0]["metric"]["reader"], "Reader \"one\"");
  EXPECT_EQ(read[0]["value"][1], std::to_string(lines));
  const TJSONValue up = prometheus.Query("up{job=\"zor\"}");
  ASSERT_EQ(up.size(), 1u);
  EXPECT_EQ(up[0]["value"][1], "1");
  EXPECT_EQ(prometheus.Query("zor_processor_batch_seconds_count").size(), 1u);

  service->Signal(SIGTERM);
  EXPECT_EQ(service->WaitForExit(), 0) << service->StandardError();
}

// A reader held back by a receiver that does not answer shows on /metrics
// and /health how many records of its channel it has not read; once the
// receiver is back, the figure falls to 0 and every record has been sent.
TEST_F(MetricsPrometheusTest, RecordsBehindShowTheBacklogOfAReaderHeldBackByItsReceiver) {
  // More than the records a reader may have on their way.
  constexpr size_t Count = 25'000;
  std::filesystem::create_directories(EventLogDir());
  {
    std::ofstream out(EventLogDir() / "Backlog.xml", std::ios::binary);
    for (size_t i = 1; i <= Count; ++i)
      out << "<Event><System><Provider Name='P'/><EventID>1</EventID><TimeCreated "
             "SystemTime='2024-01-01T00:00:00.0000000Z'/><EventRecordID>"
          << i << "</EventRecordID><Computer>h</Computer></System><EventData><Data>" << i
          << "</Data></EventData></Event>\n";
  }
  // The receiver's port, with nobody listening on it until later.
  const uint16_t receiverPort = test::TLoopbackSink::Tcp()->Port();
  WriteConfig(R"({"port": 0, "interfaces": [{"name": "Backlog", "path": "Backlog", "batchSize": 500,
      "startAtBeginning": true, "syslogReceivers": [{"host": "127.0.0.1", "port": )" +
              std::to_string(receiverPort) + R"(, "transport": "TCP", "tcpDelimiter": "\\LF"}]}]})");
  auto service = Start();
  const uint16_t port = EndPointPort();
  ASSERT_NE(port, 0) << service->StandardError();

  const std::string behindSeries = "zor_reader_records_behind{reader=\"Backlog\"}";
  const std::string readSeries = "zor_reader_records_read_total{reader=\"Backlog\"}";
  double behind = -1;
  double read = -1;
  const std::string queuedSeries = "zor_syslog_messages_queued{destination=\"127.0.0.1:" +
                                   std::to_string(receiverPort) + "\",transport=\"TCP\"}";
  // Held back once the sender holds everything read (nothing can be sent)
  // and the reader reads no more: what it read and what it has not add up to
  // the channel.
  double readBefore = -1;
  ASSERT_TRUE(test::WaitUntil(
      [&] {
        const auto metrics = test::ScrapeMetrics(port);
        behind = test::Sample(metrics, behindSeries);
        readBefore = std::exchange(read, test::Sample(metrics, readSeries));
        return read > 0 && read == readBefore && test::Sample(metrics, queuedSeries) == read && behind > 0 &&
               behind + read == static_cast<double>(Count);
      },
      std::chrono::seconds(60), "a reader held back"))
      << behind << " behind, " << read << " read";
  const auto healthAnswer = httplib::Client("127.0.0.1", port).Get("/health");
  ASSERT_TRUE(healthAnswer);
  const TJSONValue health = Json::Parse(healthAnswer->body);
  EXPECT_EQ(health["readers"][0]["recordsBehind"], static_cast<uint64_t>(behind)) << healthAnswer->body;

  auto sink = test::TLoopbackSink::Tcp(receiverPort);
  ASSERT_TRUE(test::WaitUntil(
      [&] {
        const auto metrics = test::ScrapeMetrics(port);
        behind = test::Sample(metrics, behindSeries);
        return behind == 0 && test::Sample(metrics, readSeries) == static_cast<double>(Count);
      },
      std::chrono::seconds(180), "the backlog read"))
      << behind << " behind";
  EXPECT_TRUE(test::WaitUntil(
      [&] {
        const std::string received = sink->Received();
        return static_cast<size_t>(std::count(received.begin(), received.end(), '\n')) == Count;
      },
      std::chrono::seconds(120), "every record at the receiver"));

  service->Signal(SIGTERM);
  EXPECT_EQ(service->WaitForExit(), 0) << service->StandardError();
}

// The status command asks the endpoint of the service's own configuration
// with that file's credentials; other credentials are refused, and an
// endpoint that does not answer is a failure of its own.
TEST_F(MetricsPrometheusTest, StatusCommandReadsTheConfiguredEndpointWithItsCredentials) {
  std::filesystem::create_directories(EventLogDir());
  std::filesystem::copy_file(SampleFile, EventLogDir() / "Forwarded.evtx");
  auto sink = test::TLoopbackSink::Tcp();
  std::string stored;
  ASSERT_EQ(test::RunProgram("/bin/sh", {"-c", "printf 'sec ret' | \"$0\" encrypt-password", ZOR_BINARY},
                             FRoot.Path(), &stored),
            0);
  stored.pop_back();
  const uint16_t endpoint = FreePort();
  WriteConfig(R"({"port": )" + std::to_string(endpoint) + R"(, "userName": "admin", "password": ")" + stored +
              R"(", "interfaces": [{"name": "Reader1", "path": "Forwarded", "batchSize": 50,
      "startAtBeginning": true, "syslogReceivers": [{"host": "127.0.0.1", "port": )" +
              std::to_string(sink->Port()) + R"(, "transport": "TCP", "tcpDelimiter": "\\LF"}]}]})");
  auto service = Start();
  ASSERT_EQ(EndPointPort(), endpoint) << service->StandardError();
  ASSERT_TRUE(test::WaitUntil([&] { return !sink->Received().empty(); }));

  const auto status = [&](std::vector<std::string> AExtra, std::string& AOut, std::string& AErr) {
    std::vector<std::string> arguments = Folders();
    arguments.push_back("status");
    arguments.insert(arguments.end(), AExtra.begin(), AExtra.end());
    return test::RunProgram(ZOR_BINARY, arguments, FRoot.Path(), &AOut, &AErr);
  };
  std::string out;
  std::string err;
  ASSERT_EQ(status({}, out, err), 0) << out << err;
  EXPECT_TRUE(out.starts_with("Service http://127.0.0.1:" + std::to_string(endpoint) + ": running\n")) << out;
  EXPECT_NE(out.find("\nReader1 "), std::string::npos) << out;
  EXPECT_NE(out.find("\n127.0.0.1:" + std::to_string(sink->Port()) + "  syslog  TCP        yes"), std::string::npos)
      << out;

  EXPECT_EQ(status({"--user", "admin", "--password", "wrong"}, out, err), 2);
  EXPECT_NE(err.find("401"), std::string::npos) << err;
  service->Signal(SIGTERM);
  EXPECT_EQ(service->WaitForExit(), 0) << service->StandardError();
  EXPECT_EQ(status({}, out, err), 2);
  EXPECT_NE(err.find("status: http://127.0.0.1:" + std::to_string(endpoint) + "/health: "), std::string::npos) << err;
}

}  // namespace
}  // namespace zor
