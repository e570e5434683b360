#include "management/EvtSyslogSvcEndPoint.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ControlWindow.h"
#include "platform/MessageQueue.h"
#include "support/TempDir.h"
#include "support/TestCertificate.h"
#include "support/WaitUntil.h"

namespace zor {
namespace {

TEST(EndPointAccessTest, CredentialsWhenCheckedAndChangesFromLoopbackOnlyWithout) {
  using A = TEndPointAccess;
  const struct {
    const char* Name;
    bool Check;
    const char* Method;
    bool Loopback;
    bool HasAuth;
    const char* User;
    const char* Password;
    A Expected;
  } cases[] = {
      {"open read from anywhere", false, "GET", false, false, "", "", A::eaAllowed},
      {"open change from loopback", false, "PUT", true, false, "", "", A::eaAllowed},
      {"open PUT from remote", false, "PUT", false, false, "", "", A::eaForbidden},
      {"open POST from remote", false, "POST", false, false, "", "", A::eaForbidden},
      {"open DELETE from remote", false, "DELETE", false, false, "", "", A::eaForbidden},
      {"open HEAD from remote", false, "HEAD", false, false, "", "", A::eaAllowed},
      {"checked without auth", true, "GET", true, false, "", "", A::eaNoAuthInfo},
      {"checked user in other case", true, "GET", true, true, "ADMIN", "secret", A::eaBadUserName},
      {"checked user longer", true, "GET", true, true, "admin2", "secret", A::eaBadUserName},
      {"checked bad password", true, "PUT", false, true, "admin", "secreT", A::eaBadPassword},
      {"checked empty password", true, "PUT", false, true, "admin", "", A::eaBadPassword},
      {"checked good from remote", true, "DELETE", false, true, "admin", "secret", A::eaAllowed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(DecideAccess(c.Check, "admin", "secret", c.Method, c.Loopback, c.HasAuth, c.User, c.Password),
              c.Expected);
  }
}

TEST(EndPointPathTest, PiecesKeepEveryEmptySegment) {
  using V = std::vector<std::string>;
  EXPECT_EQ(TEvtSyslogSvcEndPoint::SplitPath("/config"), (V{"", "config"}));
  EXPECT_EQ(TEvtSyslogSvcEndPoint::SplitPath("/config/"), (V{"", "config", ""}));
  EXPECT_EQ(TEvtSyslogSvcEndPoint::SplitPath("//x//"), (V{"", "", "x", "", ""}));
  EXPECT_EQ(TEvtSyslogSvcEndPoint::SplitPath("/subscriber/a%20b"), (V{"", "subscriber", "a%20b"}));
}

TEST(EndPointPathTest, TheLogPageEscapesMarkup) {
  EXPECT_EQ(TEvtSyslogSvcEndPoint::LogPage({"a <b> & c", "</pre><script>"}),
            "<html><head><title>LogFile</title></head><body><pre>a &lt;b&gt; &amp; c\r\n"
            "&lt;/pre&gt;&lt;script&gt;</pre></body></html>");
}

// An endpoint on a loopback port of its own, with its configuration in a
// temporary folder and WM_RECONFIGURE counted on the test's thread.
class EndPointTest : public testing::Test {
 protected:
  EndPointTest() : FWindow([](const TMessage&) {}), FConfig((FDir / "SvcConfig.json").string(), &FWindow) {
    TCollector initial;
    initial.SetAsJSONString(R"({"logLevel": 3, "interfaces": [
      {"name": "Security", "path": "Security", "syslogReceivers": [{"host": "127.0.0.1", "port": 514}]},
      {"name": "System", "path": "System", "syslogReceivers": [{"host": "127.0.0.1", "port": 515}]}]})");
    initial.SaveAsJson(FConfig.FileName());
    (void)FConfig.Load(true);
  }

  void StartEndPoint(const std::string& AProtocol = "http", const std::string& AUser = "",
                     const std::string& APassword = "", TEndPointLimits ALimits = TEndPointLimits()) {
    FEndPoint = std::make_unique<TEvtSyslogSvcEndPoint>("127.0.0.1", 0, AProtocol, FCertFile, FKeyFile, "", AUser,
                                                        APassword, FConfig, "", ALimits);
    ASSERT_TRUE(FEndPoint->Start());
  }
  httplib::Client Client() const {
    httplib::Client client("127.0.0.1", FEndPoint->Port());
    client.set_read_timeout(std::chrono::seconds(10));
    return client;
  }
  int Posts() {
    int count = 0;
    TMessage message;
    while (FQueue.PeekMessage(message)) ++count;
    return count;
  }
  // A raw connection to the endpoint.
  int Connect() const {
    const int handle = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(FEndPoint->Port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return handle;
  }

  test::TempDir FDir;
  TMessageQueue FQueue;
  TControlWindow FWindow;
  TCurrentConfig FConfig;
  std::string FCertFile;
  std::string FKeyFile;
  std::unique_ptr<TEvtSyslogSvcEndPoint> FEndPoint;
};

TEST_F(EndPointTest, CommandsMatchInAnyCaseAndOnlyWithTheirPieceCount) {
  StartEndPoint();
  httplib::Client client = Client();
  const std::string config = FConfig.Snapshot()->AsJSONString();
  const struct {
    const char* Path;
    std::string Body;
  } cases[] = {
      {"/CONFIG", config}, {"/config", config}, {"/cOnFiG", config}, {"/config/", ""}, {"/config/x", ""},
      {"/", "ZOR Windows Event Collector Engine"}, {"/nothing", ""}, {"/api/log/x", ""}, {"/status/", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Path);
    const auto result = client.Get(c.Path);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->body, c.Body);
  }

  const auto status = client.Get("/Status");
  ASSERT_TRUE(status);
  const TJSONValue json = Json::Parse(status->body);
  std::vector<std::string> keys;
  for (const auto& [key, value] : json.items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"serviceType", "version", "arch", "machineOs", "machineName",
                                            "loggedInUser", "currentTime", "currentTimeUtc"}));
  EXPECT_EQ(json["serviceType"], "ZOR Event Log Exporter");
  EXPECT_EQ(json["arch"], "64 Bit");
  EXPECT_EQ(json["version"], "1.0.0.0");
  EXPECT_NE(json["loggedInUser"].get<std::string>().find('\\'), std::string::npos);

  const auto patch = client.Patch("/config", "{}", "application/json");
  ASSERT_TRUE(patch);
  EXPECT_EQ(patch->status, 404);
  EXPECT_EQ(Posts(), 0);
}

// METRICS and HEALTH read the registry set on the endpoint; without one
// there is nothing to serve.
TEST_F(EndPointTest, MetricsAndHealthReadTheRegistry) {
  StartEndPoint();
  for (const char* path : {"/metrics", "/health"}) {
    const auto answer = Client().Get(path);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 503) << path;
  }
  FEndPoint.reset();

  TMetricsRegistry registry;
  registry.BeginStartUp();
  registry.Reader("Security")->RecordsRead += 12;
  registry.SetState(TPipelineState::psFailed, "Duplicates not allowed");
  FEndPoint = std::make_unique<TEvtSyslogSvcEndPoint>("127.0.0.1", 0, "http", "", "", "", "", "", FConfig);
  FEndPoint->SetMetrics(&registry);
  ASSERT_TRUE(FEndPoint->Start());
  httplib::Client client = Client();
  const auto metrics = client.Get("/METRICS");
  ASSERT_TRUE(metrics);
  EXPECT_EQ(metrics->status, 200);
  EXPECT_EQ(metrics->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_NE(metrics->body.find("zor_reader_records_read_total{reader=\"Security\"} 12\n"), std::string::npos);
  const auto failed = client.Get("/Health");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->status, 503);
  EXPECT_EQ(Json::Parse(failed->body)["reason"], "Duplicates not allowed");
  registry.SetState(TPipelineState::psRunning);
  const auto running = client.Get("/health");
  ASSERT_TRUE(running);
  EXPECT_EQ(running->status, 200);
  EXPECT_EQ(Json::Parse(running->body)["readers"][0]["recordsRead"], 12);
  FEndPoint.reset();
}

TEST_F(EndPointTest, ChangesAreCheckedSavedAndSignalled) {
  StartEndPoint();
  httplib::Client client = Client();

  auto result = client.Put("/config", "[1,2]", "application/json");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 500);
  EXPECT_TRUE(result->reason.starts_with("Exception occurred prcessing Endpoint command PUT: ")) << result->reason;
  EXPECT_EQ(Posts(), 0);

  result = client.Put("/config", R"({"logLevel": 5, "interfaces": [{"name": "Mute"}]})", "application/json");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 400);
  EXPECT_EQ(result->body, R"(["interfaces[0]: an enabled reader needs a syslog or beat receiver"])");
  EXPECT_EQ(Posts(), 0);
  EXPECT_EQ(FConfig.Snapshot()->LogLevel(), 3);

  result = client.Put("/Config", R"({"logLevel": 5})", "application/json");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->body, "");
  EXPECT_EQ(Posts(), 1);
  EXPECT_EQ(FConfig.Snapshot()->LogLevel(), 5);
  EXPECT_EQ(FConfig.Snapshot()->InterfaceCount(), 2);

  result = client.Delete("/Subscriber/SYSTEM");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(Posts(), 1);
  EXPECT_EQ(FConfig.Snapshot()->InterfaceCount(), 1);

  result = client.Post("/config", "", "text/plain");
  ASSERT_TRUE(result);
  EXPECT_EQ(Posts(), 1);
  result = client.Post("/elsewhere", "", "text/plain");
  ASSERT_TRUE(result);
  EXPECT_EQ(Posts(), 0);
}

TEST_F(EndPointTest, CredentialsAreAskedForOverHttpsAndOverHttpWhenAUserIsConfigured) {
  test::TTestCertificate certificate(FDir.Path());
  FCertFile = certificate.CertFile().string();
  FKeyFile = certificate.KeyFile().string();
  for (const char* protocol : {"HTTPS", "http"}) {
    SCOPED_TRACE(protocol);
    const bool https = std::string(protocol) == "HTTPS";
    StartEndPoint(protocol, "admin", "secret");
    std::unique_ptr<httplib::ClientImpl> client;
    if (https) {
      auto ssl = std::make_unique<httplib::SSLClient>("127.0.0.1", FEndPoint->Port());
      ssl->enable_server_certificate_verification(false);
      client = std::move(ssl);
    } else {
      client = std::make_unique<httplib::ClientImpl>("127.0.0.1", FEndPoint->Port());
    }
    auto result = client->Get("/config");
    ASSERT_TRUE(result) << httplib::to_string(result.error());
    EXPECT_EQ(result->status, 401);
    EXPECT_EQ(result->get_header_value("WWW-Authenticate"), "Basic realm=\"Enter User name and Password\"");
    client->set_basic_auth("Admin", "secret");
    result = client->Get("/config");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 401);
    client->set_basic_auth("admin", "wrong");
    result = client->Get("/config");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 401);
    client->set_basic_auth("admin", "secret");
    result = client->Get("/config");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->body, FConfig.Snapshot()->AsJSONString());
    FEndPoint.reset();
  }
}

TEST_F(EndPointTest, BodiesConnectionsAndSlowRequestsAreBounded) {
  TEndPointLimits limits;
  limits.MaxBodyBytes = 1024;
  limits.RequestTimeout = std::chrono::milliseconds(300);
  limits.MaxConnections = 1;
  limits.MaxWaitingConnections = 1;
  StartEndPoint("http", "", "", limits);
  httplib::Client client = Client();
  const auto result = client.Put("/config", std::string(2048, ' '), "application/json");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 413);
  EXPECT_EQ(Posts(), 0);

  // A request that does not arrive in time ends its connection.
  const int slow = Connect();
  ASSERT_EQ(::send(slow, "GET /con", 8, 0), 8);
  char buffer[256];
  EXPECT_LE(::recv(slow, buffer, sizeof buffer, 0), 0);
  ::close(slow);

  // One served (kept alive after its first answer), one waiting: a third is
  // closed at once, long before the others' time-outs.
  const int served = Connect();
  const std::string request = "GET /config HTTP/1.1\r\nHost: x\r\n\r\n";
  ASSERT_EQ(::send(served, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  ASSERT_GT(::recv(served, buffer, sizeof buffer, 0), 0);
  const int waiting = Connect();
  const auto before = std::chrono::steady_clock::now();
  const int refused = Connect();
  EXPECT_LE(::recv(refused, buffer, sizeof buffer, 0), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - before, limits.KeepAliveTimeout / 2);
  for (int handle : {served, waiting, refused}) ::close(handle);
}

TEST_F(EndPointTest, StartFailsWhenThePortIsTakenOrTheCertificateIsMissing) {
  StartEndPoint();
  TEvtSyslogSvcEndPoint second("127.0.0.1", FEndPoint->Port(), "http", "", "", "", "", "", FConfig);
  EXPECT_FALSE(second.Start());
  EXPECT_FALSE(second.Started());
  TEvtSyslogSvcEndPoint https("127.0.0.1", 0, "https", "no-such-cert.pem", "no-such-key.pem", "", "", "", FConfig);
  EXPECT_FALSE(https.Start());
}

}  // namespace
}  // namespace zor
