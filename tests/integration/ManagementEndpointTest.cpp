// The management endpoint and the configuration-server client of the running
// service, driven by real peers: curl over HTTP and HTTPS, openssl s_client
// for the refused old protocol, a client in a network namespace of its own
// for a remote change, a configuration server of the test, and a hundred
// reconfigurations while events flow to rsyslog.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "evtx/XmlChannel.h"
#include "platform/OsRelease.h"
#include "support/ChildProcess.h"
#include "support/ConfigServer.h"
#include "support/Json.h"
#include "support/RsyslogRunner.h"
#include "support/ServiceFolders.h"
#include "support/TestCertificate.h"
#include "support/WaitUntil.h"

namespace zor {
namespace {

using test::WaitUntil;

struct TAnswer {
  int Status = 0;
  std::string StatusLine;
  std::string Head;
  std::string Body;
};

// Runs a shell command; its standard output, and its exit status in AStatus.
std::string Shell(const std::filesystem::path& AFolder, const std::string& ACommand, int* AStatus = nullptr) {
  std::string out;
  std::string err;
  const int status = test::RunProgram("/bin/sh", {"-c", ACommand}, AFolder, &out, &err);
  if (AStatus != nullptr) *AStatus = status;
  return out + err;
}

std::string Quoted(const std::string& AText) {
  std::string quoted = "'";
  for (char c : AText) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

class ManagementEndpointTest : public testing::Test, protected test::TServiceFolders {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(EventLogDir());
    std::filesystem::create_directories(FRoot / "out");
  }
  void TearDown() override {
    if (FService) Stop();
  }

  void StartService() {
    FService = Start();
    ASSERT_TRUE(LogHas("Event log manager started")) << FService->StandardError();
  }
  void Stop() {
    FService->Signal(SIGTERM);
    EXPECT_EQ(FService->WaitForExit(), 0) << FService->StandardError();
    // The ThreadSanitizer build of the program reports here.
    EXPECT_EQ(FService->StandardError().find("ThreadSanitizer"), std::string::npos) << FService->StandardError();
    FService.reset();
  }

  // How often ALine stands in the log.
  int Count(const std::string& ALine) const { return LogCount(ALine); }

  // curl with AOptions against APath of the endpoint.
  TAnswer Curl(const std::string& AOptions, const std::string& APath, uint16_t APort,
               const std::string& AScheme = "http", const std::string& AHost = "127.0.0.1") {
    const std::string text = Shell(FRoot / "out", "curl -s -S -i --max-time 30 " + AOptions + " " +
                                                      Quoted(AScheme + "://" + AHost + ":" + std::to_string(APort) + APath));
    TAnswer answer;
    const size_t headEnd = text.find("\r\n\r\n");
    answer.Head = text.substr(0, headEnd);
    answer.Body = headEnd == std::string::npos ? "" : text.substr(headEnd + 4);
    answer.StatusLine = answer.Head.substr(0, answer.Head.find("\r\n"));
    static const std::regex statusLine("HTTP/1\\.[01] ([0-9]{3})( .*)?");
    std::smatch match;
    if (std::regex_match(answer.StatusLine, match, statusLine)) answer.Status = std::stoi(match[1]);
    else
      ADD_FAILURE() << "curl " << AOptions << " " << APath << ": " << text;
    return answer;
  }

  std::unique_ptr<test::TChildProcess> FService;
};

const char* const TwoReaders = R"("interfaces": [
  {"name": "Reader1", "path": "Application", "syslogReceivers": [{"host": "127.0.0.1", "port": 9}]},
  {"name": "Reader2", "path": "Microsoft-Windows-Sysmon/Operational",
   "syslogReceivers": [{"host": "127.0.0.1", "port": 9}]}])";

TEST_F(ManagementEndpointTest, EveryCommandAgainstTheRunningService) {
  for (const char* channel : {"Application.xml", "Microsoft-Windows-Sysmon%4Operational.xml", "Setup.xml"})
    std::ofstream(EventLogDir() / channel) << "";
  WriteConfig(std::string(R"({"port": 0, "logLevel": 4, )") + TwoReaders + "}");
  StartService();
  const uint16_t port = EndPointPort();
  const std::string fileBefore = test::ReadFile(ConfigFile());

  const TAnswer config = Curl("", "/CONFIG", port);
  EXPECT_EQ(config.Status, 200);
  EXPECT_EQ(Json::Parse(config.Body)["interfaces"].size(), 2u);
  for (const char* path : {"/config", "/cOnFiG"}) EXPECT_EQ(Curl("", path, port).Body, config.Body) << path;
  for (const char* path : {"/config/", "/config/extra", "/nothing"}) {
    const TAnswer answer = Curl("", path, port);
    EXPECT_EQ(answer.Status, 200) << path;
    EXPECT_EQ(answer.Body, "") << path;
  }
  EXPECT_EQ(Curl("", "/", port).Body, "ZOR Windows Event Collector Engine");

  const TJSONValue status = Json::Parse(Curl("", "/status", port).Body);
  EXPECT_EQ(status["serviceType"], "ZOR Event Log Exporter");
  EXPECT_EQ(status["machineOs"], OperatingSystemName());
  EXPECT_TRUE(std::regex_match(status["currentTimeUtc"].get<std::string>(),
                               std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]+Z")));

  const TAnswer textLog = Curl("", "/api/LOG?textOnly", port);
  EXPECT_NE(textLog.Body.find(" INFO  - Event log manager started"), std::string::npos);
  EXPECT_FALSE(textLog.Body.starts_with("<html>"));
  EXPECT_TRUE(Curl("", "/API/log?textOnly=1", port).Body.starts_with("<html><head><title>LogFile</title>"));

  EXPECT_EQ(Json::Parse(Curl("", "/channel/any/thing", port).Body),
            Json::Parse(R"(["Application","Microsoft-Windows-Sysmon/Operational","Setup"])"));

  // An array is no configuration (500, the reason in the status line); a
  // configuration that would not start is refused with its problems.
  const TAnswer array = Curl("-X PUT --data '[1]'", "/config", port);
  EXPECT_EQ(array.Status, 500);
  EXPECT_NE(array.StatusLine.find("Exception occurred prcessing Endpoint command PUT: "), std::string::npos)
      << array.StatusLine;
  const TAnswer bad = Curl(R"(-X PUT --data '{"interfaces": [{"name": "x", "exclusionRegex": ["("]}]}')", "/config", port);
  EXPECT_EQ(bad.Status, 400);
  const TJSONValue problems = Json::Parse(bad.Body);
  ASSERT_EQ(problems.size(), 2u) << bad.Body;
  EXPECT_TRUE(problems[0].get<std::string>().starts_with("interfaces[0].exclusionRegex[0]: ")) << bad.Body;
  EXPECT_EQ(test::ReadFile(ConfigFile()), fileBefore);
  EXPECT_EQ(Count("Shutting down for reconfigure"), 0);
  EXPECT_EQ(Curl("-X PATCH", "/config", port).Status, 404);

  // Only the level changes; the pipeline restarts with both readers.
  EXPECT_EQ(Curl(R"(-X PUT --data '{"logLevel": 5}')", "/Config", port).Status, 200);
  ASSERT_TRUE(LogHas("Starting up for reconfigure"));
  const uint16_t second = EndPointPort(2);
  ASSERT_TRUE(WaitUntil([&] { return Count("Loading Readers [1] Reader2") == 2; }));
  EXPECT_TRUE(LogInOrder({"Starting up for reconfigure", "Loading Readers [0] Reader1", "Loading Readers [1] Reader2"}));
  EXPECT_EQ(Curl("", "/status", second).Status, 200);
  EXPECT_TRUE(LogHas("DEBUG - [EndPoint] Got GET command /status from 127.0.0.1"));

  const TAnswer deleted = Curl("-X DELETE", "/SUBSCRIBER/reader2", second);
  EXPECT_EQ(deleted.Status, 200) << deleted.Head << deleted.Body;
  EXPECT_TRUE(LogHas("[EndPoint] Subscriber reader2 removed from config"));
  const uint16_t third = EndPointPort(3);
  const TJSONValue after = Json::Parse(Curl("", "/config", third).Body);
  EXPECT_EQ(after["logLevel"], 5);
  ASSERT_EQ(after["interfaces"].size(), 1u);
  EXPECT_EQ(after["interfaces"][0]["name"], "Reader1");

  EXPECT_EQ(Curl("-X POST", "/elsewhere", third).Status, 200);
  EXPECT_TRUE(LogHas("[EndPoint] Processed Post Command from 127.0.0.1 to /elsewhere in "));
  EXPECT_EQ(Count("Shutting down for reconfigure"), 2);
}

// A reconfiguration whose pipeline cannot be built leaves the endpoint up:
// /health answers 503 with the reason until a configuration that starts is
// put through it.
TEST_F(ManagementEndpointTest, HealthTellsWhyTheLastStartUpFailedUntilOneSucceeds) {
  const std::string good = std::string(R"({"port": 0, )") + TwoReaders + "}";
  WriteConfig(good);
  StartService();
  const auto health = [&](uint16_t APort, int AStatus) {
    const TAnswer answer = Curl("", "/health", APort);
    EXPECT_EQ(answer.Status, AStatus) << answer.Body;
    return Json::Parse(answer.Body.empty() ? "{}" : answer.Body);
  };
  EXPECT_EQ(health(EndPointPort(), 200)["status"], "running");

  // A datagram and a stream receiver for one host and port, reloaded from the file.
  WriteConfig(R"({"port": 0, "interfaces": [{"name": "R0", "path": "Application", "syslogReceivers": [
      {"host": "127.0.0.1", "port": 9, "transport": "UDP"}, {"host": "127.0.0.1", "port": 9, "transport": "TCP"}]}]})");
  EXPECT_EQ(Curl("-X POST", "/config", EndPointPort()).Status, 200);
  const uint16_t second = EndPointPort(2);
  ASSERT_NE(second, 0);
  ASSERT_TRUE(LogHas("Duplicates not allowed: there is a syslog sender for 127.0.0.1:9 already"));
  const TJSONValue failed = health(second, 503);
  EXPECT_EQ(failed["status"], "failed");
  EXPECT_EQ(failed["reason"], "Duplicates not allowed: there is a syslog sender for 127.0.0.1:9 already");
  EXPECT_NE(Curl("", "/metrics", second).Body.find("\nzor_pipeline_running 0\n"), std::string::npos);

  EXPECT_EQ(Curl("-X PUT --data " + Quoted(good), "/config", second).Status, 200);
  const uint16_t third = EndPointPort(3);
  ASSERT_NE(third, 0);
  ASSERT_TRUE(WaitUntil([&] { return Count("Loading Readers [1] Reader2") == 2; }));
  ASSERT_TRUE(WaitUntil([&] { return Curl("", "/health", third).Status == 200; }));
  EXPECT_EQ(health(third, 200)["status"], "running");
}

TEST_F(ManagementEndpointTest, CredentialsOverHttpsAndHttpAndOnlyTls12) {
  std::filesystem::create_directories(FRoot / "home" / "Certs");
  test::TTestCertificate certificate(FRoot / "home" / "Certs");
  const std::string password = Shell(FRoot / "out", "printf 'sec ret' | '" + std::string(ZOR_BINARY) + "' encrypt-password");
  for (const std::string protocol : {"HTTPS", "http"}) {
    SCOPED_TRACE(protocol);
    std::filesystem::remove(LogFile());
    WriteConfig(R"({"port": 0, "protocol": ")" + protocol + R"(", "certFile": "cert.pem", "keyFile": "key.pem",
                   "userName": "admin", "password": ")" + password.substr(0, password.size() - 1) + "\"}");
    StartService();
    const uint16_t port = EndPointPort();
    const std::string scheme = protocol == "HTTPS" ? "https" : "http";
    if (scheme == "https") {
      EXPECT_TRUE(LogHas("Cert File = " + (FRoot / "home" / "Certs" / "cert.pem").string()));
      EXPECT_TRUE(LogHas("Root Cert File = \r\n"));
    }
    const TAnswer none = Curl("-k", "/config", port, scheme);
    EXPECT_EQ(none.Status, 401);
    EXPECT_NE(none.Head.find("WWW-Authenticate: Basic realm=\"Enter User name and Password\""), std::string::npos)
        << none.Head;
    EXPECT_TRUE(LogHas("ERROR - No AUTH Info From 127.0.0.1"));
    EXPECT_EQ(Curl("-k -u 'Admin:sec ret'", "/config", port, scheme).Status, 401);
    EXPECT_TRUE(LogHas("ERROR - Bad User Name Admin From 127.0.0.1"));
    EXPECT_EQ(Curl("-k -u 'admin:secret'", "/config", port, scheme).Status, 401);
    EXPECT_TRUE(LogHas("ERROR - Bad Password From 127.0.0.1"));
    EXPECT_EQ(Curl("-k -u 'admin:sec ret'", "/config", port, scheme).Status, 200);
    // The figures follow the same rules as every other reading command.
    for (const char* path : {"/metrics", "/health"}) {
      EXPECT_EQ(Curl("-k", path, port, scheme).Status, 401) << path;
      EXPECT_EQ(Curl("-k -u 'admin:sec ret'", path, port, scheme).Status, 200) << path;
    }

    if (scheme == "https") {
      // The client is allowed the old protocol; the endpoint refuses it.
      int status = 0;
      const std::string connect = "openssl s_client -connect 127.0.0.1:" + std::to_string(port) +
                                  " -cipher DEFAULT@SECLEVEL=0 </dev/null 2>&1";
      const std::string old = Shell(FRoot / "out", connect + " -tls1_1", &status);
      EXPECT_NE(status, 0) << old;
      EXPECT_NE(old.find("alert protocol version"), std::string::npos) << old;
      const std::string current = Shell(FRoot / "out", "openssl s_client -connect 127.0.0.1:" +
                                                           std::to_string(port) + " -tls1_2 </dev/null 2>&1");
      EXPECT_NE(current.find("Protocol  : TLSv1.2"), std::string::npos) << current;
    }
    Stop();
  }
}

TEST_F(ManagementEndpointTest, APortInUseLeavesTheServiceRunningWithoutEndpoint) {
  const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(holder, 1), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const int port = ntohs(address.sin_port);
  WriteConfig(R"({"port": )" + std::to_string(port) + "}");
  StartService();
  EXPECT_TRUE(LogInOrder({"Starting http Endpoint: 127.0.0.1:" + std::to_string(port),
                          " FATAL - Exception starting REST Endpoint: Could not bind socket 127.0.0.1:" +
                              std::to_string(port) + ": Address already in use",
                          " INFO  - Endpoint failed to start", "Init Syslog Senders", "Event log manager started"}));
  ::close(holder);
}

// A network namespace joined to this one by a veth pair; traffic only
// between the two addresses it gives the ends. Empty Name(): it could not
// be made here.
class TNetworkNamespace {
 public:
  explicit TNetworkNamespace(const std::filesystem::path& AFolder) : FFolder(AFolder) {
    std::random_device random;
    const unsigned tag = random() & 0xFFFFFF;
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%06x", tag);
    FName = std::string("zor") + suffix;
    FHostLink = std::string("zh") + suffix;
    const std::string subnet = "10.213." + std::to_string(tag & 0xFF) + ".";
    FHostAddress = subnet + "1";
    FInnerAddress = subnet + "2";
    int status = 0;
    FError = Shell(FFolder,
                   "{ ip netns add " + FName + " && ip link add " + FHostLink + " type veth peer name zn" + suffix +
                       " && ip link set zn" + suffix + " netns " + FName + " && ip addr add " + FHostAddress +
                       "/30 dev " + FHostLink + " && ip link set " + FHostLink + " up && ip -n " + FName +
                       " addr add " + FInnerAddress + "/30 dev zn" + suffix + " && ip -n " + FName + " link set zn" +
                       suffix + " up && ip -n " + FName + " link set lo up; } 2>&1",
                   &status);
    FMade = status == 0;
  }
  ~TNetworkNamespace() {
    (void)Shell(FFolder, "ip netns del " + FName + " 2>/dev/null; ip link del " + FHostLink + " 2>/dev/null; true");
  }
  bool Made() const { return FMade; }
  const std::string& Error() const { return FError; }
  const std::string& Name() const { return FName; }
  const std::string& HostAddress() const { return FHostAddress; }
  const std::string& InnerAddress() const { return FInnerAddress; }

 private:
  std::filesystem::path FFolder;
  std::string FName;
  std::string FHostLink;
  std::string FHostAddress;
  std::string FInnerAddress;
  std::string FError;
  bool FMade = false;
};

TEST_F(ManagementEndpointTest, WithoutCredentialsOnlyLoopbackClientsMayChange) {
  TNetworkNamespace netns(FRoot / "out");
  if (!netns.Made()) GTEST_SKIP() << "no network namespace can be made here: " << netns.Error();
  WriteConfig(R"({"port": 0, "ip": ")" + netns.HostAddress() + "\"}");
  StartService();
  const uint16_t port = EndPointPort();
  EXPECT_TRUE(LogHas("WARN"));
  EXPECT_TRUE(LogHas("checks no credentials: changes (PUT, POST, DELETE) are taken from loopback clients only"));
  const std::string url = "http://" + netns.HostAddress() + ":" + std::to_string(port) + "/config";
  const std::string curl = "ip netns exec " + netns.Name() + " curl -s -o /dev/null -w '%{http_code}' --max-time 30 ";
  EXPECT_EQ(Shell(FRoot / "out", curl + url), "200");
  EXPECT_EQ(Shell(FRoot / "out", curl + "-X PUT --data '{\"logLevel\": 5}' " + url), "403");
  EXPECT_EQ(Shell(FRoot / "out", curl + "-X POST " + url), "403");
  EXPECT_EQ(Shell(FRoot / "out", curl + "-X DELETE " + url + "/../subscriber/x"), "403");
  EXPECT_TRUE(LogHas("[EndPoint] Refused PUT command /config from " + netns.InnerAddress()));
  EXPECT_EQ(Count("Shutting down for reconfigure"), 0);
}

// Every start-up asks the server once (the interval is 0) and handles its
// answer; a reload through the endpoint makes the next start-up.
TEST_F(ManagementEndpointTest, ConfigServerAnswersOfEveryKind) {
  test::TConfigServer server;
  server.SetAnswer({200, test::TConfigServer::PendingAnswer("not yet")});
  const std::string own = R"({"port": 0, "logLevel": 4, "configServer": ")" + server.Url() +
                          R"(", "configServerCheckInterval": 0})";
  WriteConfig(own);
  StartService();
  const std::string url = server.Url() + "/api/config";
  EXPECT_TRUE(LogInOrder({"Config Query Thread Started For Server " + server.Url(), "Starting http Endpoint"}));
  ASSERT_TRUE(WaitUntil([&] { return LogHas("INFO  - Got Pending Response. not yet."); }));
  EXPECT_TRUE(LogHas("Config Query Interval is not above 0: no further queries until the next start-up"));
  int starts = 1;
  const auto reload = [&] {
    ASSERT_EQ(Curl("-X POST", "/config", EndPointPort(starts)).Status, 200);
    ++starts;
    ASSERT_TRUE(WaitUntil([&] { return Count("Endpoint startted") == starts; }));
    ASSERT_TRUE(WaitUntil([&] { return server.Requests() == starts; }));
  };

  const std::string error = "ERROR - Error getting Config From Endpoint " + url + ": ";
  struct TCase {
    test::TConfigAnswer Answer;
    std::string Line;  // empty: nothing is logged
  } const cases[] = {
      {{500, "{oops500"}, ""},
      {{200, " \r\n "}, ""},
      {{200, "{oops"}, error + "Invalid Json String: {oops"},
      {{200, R"({"type": "pending"})"}, error + "Invalid config response type value: pending."},
      {{200, R"({"collector": {}})"}, error + "Config response type value not present"},
      {{200, test::TConfigServer::CollectorAnswer(R"({"interfaces": [{"name": "Mute"}]})")},
       error + "the configuration fails its check: interfaces[0]: an enabled reader needs a syslog or beat receiver"},
      // Nothing that the file keeps changes: the server's own address and
      // an APM address while APM is off are not saved.
      {{200, test::TConfigServer::CollectorAnswer(
                 R"({"port": 0, "logLevel": 4, "configServer": "http://elsewhere", "apmServerIp": "10.1.1.1"})")},
       ""},
  };
  const std::string fileBefore = test::ReadFile(ConfigFile());
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Answer.Body);
    server.SetAnswer(c.Answer);
    reload();
    if (!c.Line.empty()) {
      EXPECT_TRUE(WaitUntil([&] { return LogHas(c.Line); }));
    }
  }
  EXPECT_EQ(test::ReadFile(ConfigFile()), fileBefore);
  EXPECT_EQ(Count("Error getting Config From Endpoint"), 4);
  EXPECT_EQ(Count("Shutting down for reconfigure"), starts - 1);

  // A change is adopted once: the next start-up's query finds nothing new.
  server.SetAnswer({200, test::TConfigServer::CollectorAnswer(R"({"port": 0, "logLevel": 5})")});
  reload();
  ASSERT_TRUE(WaitUntil([&] { return server.Requests() == starts + 1 && Count("Endpoint startted") == starts + 1; }));
  EXPECT_TRUE(LogHas("Config From Endpoint " + url + " adopted and saved; reconfiguring"));
  const TJSONValue saved = Json::Parse(Curl("", "/config", EndPointPort(starts + 1)).Body);
  EXPECT_EQ(saved["logLevel"], 5);
  EXPECT_EQ(saved["configServer"], server.Url());
  EXPECT_EQ(saved["configServerCheckInterval"], 0);
  Stop();
  // One query per start-up and no more.
  EXPECT_EQ(server.Requests(), starts + 1);
  EXPECT_EQ(Count("Run initial GetConfig Query"), starts + 1);
  EXPECT_EQ(Count("Shutting down for reconfigure"), starts);
  // A thread stopped while its query still runs never waits, so not every
  // stop is logged.
  EXPECT_GE(Count("Config Query Thread Received Should Finish Event"), 1);
}

// The server's certificate is checked when asked for: against the system's
// store (which does not know the test's certificate), then against its file.
TEST_F(ManagementEndpointTest, ConfigServerCertificateCheckedWhenAskedFor) {
  std::filesystem::create_directories(FRoot / "certs");
  test::TTestCertificate certificate(FRoot / "certs");
  test::TConfigServer::TOptions options;
  options.Certificate = certificate.Certificate();
  options.Key = certificate.Key();
  options.UserName = "svc";
  options.Password = "p w";
  test::TConfigServer server(options);
  server.SetAnswer({200, test::TConfigServer::CollectorAnswer(R"({"port": 0, "logLevel": 4})")});
  const std::string password = Shell(FRoot / "out", "printf 'p w' | '" + std::string(ZOR_BINARY) + "' encrypt-password");
  WriteConfig(R"({"port": 0, "logLevel": 5, "configServer": ")" + server.Url() +
              R"(", "configServerVerifyCertificate": true, "configServerUserName": "svc", "configServerPassword": ")" +
              password.substr(0, password.size() - 1) + "\"}");
  StartService();
  ASSERT_TRUE(WaitUntil([&] { return LogHas("Config server " + server.Url() + "/api/config answered -1: "); }));
  EXPECT_EQ(server.Requests(), 0);  // the handshake failed
  EXPECT_EQ(Count("Shutting down for reconfigure"), 0);

  const std::string caFile = certificate.CertFile().string();
  ASSERT_EQ(Curl("-X PUT --data " + Quoted(R"({"configServerCaFile": ")" + caFile + "\"}"), "/config", EndPointPort())
                .Status,
            200);
  // The put restarts once, the adopted answer once more.
  ASSERT_TRUE(WaitUntil([&] { return Count("Endpoint startted") == 3 && server.Requests() == 2; }));
  const TJSONValue saved = Json::Parse(test::ReadFile(ConfigFile()));
  EXPECT_EQ(saved["logLevel"], 4);
  EXPECT_EQ(saved["configServerCaFile"], caFile);
  EXPECT_EQ(saved["configServerVerifyCertificate"], true);
}

// A hundred reconfigurations in a row while events flow to rsyslog, made
// by puts to the endpoint or by a configuration server whose every answer
// changes the level: every event arrives (at least once), and no thread or
// descriptor is left behind.
enum class TReconfigureBy { rbPutConfig, rbConfigServer };

class HundredReconfigurationsTest : public ManagementEndpointTest,
                                    public testing::WithParamInterface<TReconfigureBy> {};

TEST_P(HundredReconfigurationsTest, WhileEventsFlow) {
  if (!test::TRsyslogRunner::Available()) GTEST_SKIP() << "rsyslogd is not installed (scripts/setup.sh installs it)";
  const bool byServer = GetParam() == TReconfigureBy::rbConfigServer;
  std::filesystem::create_directories(FRoot / "rsyslog");
  test::TTestCertificate certificate(FRoot / "rsyslog");
  test::TRsyslogRunner rsyslog(FRoot / "rsyslog", certificate);
  const auto rsyslogPort = rsyslog.Port(test::TRsyslogRunner::TInput::Tcp);
  // A port of its own for every start-up: the first, then one after each change.
  const auto config = [&](int ALevel) {
    return R"({"port": 0, "logLevel": )" + std::to_string(ALevel) +
           R"(, "interfaces": [{"name": "Flow", "path": "Flow", "startAtBeginning": true, "batchSize": 50,
              "syslogReceivers": [{"host": "127.0.0.1", "port": )" +
           std::to_string(rsyslogPort) + R"(, "transport": "TCP", "tcpDelimiter": "\\LF"}]}]})";
  };
  test::TConfigServer server;
  // Answer N sets the level 4 + N % 2 up to the hundredth; the 101st repeats it.
  server.SetAnswers([&](int ANumber) {
    return test::TConfigAnswer{200, test::TConfigServer::CollectorAnswer(config(4 + std::min(ANumber, 100) % 2))};
  });
  // Held until the counts below are taken.
  server.Hold();
  WriteConfig(byServer ? R"({"configServer": ")" + server.Url() + R"(", "configServerCheckInterval": 0, )" +
                             config(4).substr(1)
                       : config(4));
  std::set<uint64_t> written;
  int nextEvent = 0;
  const auto append = [&](int ACount) {
    for (int i = 0; i < ACount; ++i) {
      TNewEvent event;
      event.Channel = "Flow";
      event.Provider = "Reconfigure Test";
      event.EventId = 4000;
      event.Data = {{"Index", std::to_string(nextEvent++)}};
      written.insert(TXmlChannel::Append(EventLogDir() / "Flow.xml", event));
    }
  };
  append(20);
  StartService();
  ASSERT_TRUE(rsyslog.WaitForLines(test::TRsyslogRunner::TInput::Tcp, 20));
  const auto countOf = [&](const char* AFolder) {
    const auto folder = std::filesystem::path("/proc") / std::to_string(FService->Pid()) / AFolder;
    return std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator());
  };
  if (byServer) {
    ASSERT_TRUE(WaitUntil([&] { return server.Requests() == 1; }));
  }
  const auto threadsBefore = countOf("task");
  const auto descriptorsBefore = countOf("fd");

  server.Release();
  for (int i = 1; i <= 100; ++i) {
    SCOPED_TRACE(i);
    append(10);
    if (!byServer) {
      const TAnswer answer = Curl("-X PUT --data " + Quoted(R"({"logLevel": )" + std::to_string(4 + i % 2) + "}"),
                                  "/config", EndPointPort(i));
      ASSERT_EQ(answer.Status, 200) << answer.StatusLine << answer.Body;
    }
    ASSERT_TRUE(WaitUntil([&] { return Count("Endpoint startted") >= i + 1; }, std::chrono::seconds(60)));
  }
  // The start-up after the last change finds nothing new at the server.
  if (byServer) {
    ASSERT_TRUE(WaitUntil([&] { return server.Requests() == 101; }, std::chrono::seconds(60)));
  }
  append(10);
  ASSERT_TRUE(rsyslog.WaitForLines(test::TRsyslogRunner::TInput::Tcp, written.size(), std::chrono::seconds(120)));
  std::multiset<uint64_t> received;
  static const std::regex recordId("<EventRecordID>([0-9]+)</EventRecordID>");
  for (const std::string& line : rsyslog.Lines(test::TRsyslogRunner::TInput::Tcp)) {
    std::smatch match;
    if (std::regex_search(line, match, recordId)) received.insert(std::stoull(match[1]));
  }
  for (uint64_t id : written) EXPECT_GE(received.count(id), 1u) << "record " << id << " never arrived";
  RecordProperty("duplicates", static_cast<int>(received.size() - written.size()));
  std::printf("%zu events written, %zu received (%zu again after a restart)\n", written.size(), received.size(),
              received.size() - written.size());

  // A descriptor or thread that is open only now and then (a file being
  // read, a connection being made) may be counted before and not after; a
  // leak would grow with every one of the hundred restarts.
  EXPECT_TRUE(WaitUntil([&] { return countOf("task") <= threadsBefore; }, std::chrono::seconds(30)))
      << countOf("task") << " threads, " << threadsBefore << " before";
  EXPECT_TRUE(WaitUntil([&] { return countOf("fd") <= descriptorsBefore; }, std::chrono::seconds(30)))
      << countOf("fd") << " descriptors, " << descriptorsBefore << " before";
  EXPECT_EQ(Count("Shutting down for reconfigure"), 100);
}

INSTANTIATE_TEST_SUITE_P(By, HundredReconfigurationsTest,
                         testing::Values(TReconfigureBy::rbPutConfig, TReconfigureBy::rbConfigServer),
                         [](const testing::TestParamInfo<TReconfigureBy>& AInfo) {
                           return AInfo.param == TReconfigureBy::rbPutConfig ? "PutConfig" : "ConfigServer";
                         });

}  // namespace
}  // namespace zor
