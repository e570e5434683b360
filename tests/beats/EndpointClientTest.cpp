#include "beats/EndpointClient.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "support/BulkReceiver.h"
#include "support/HttpServerThread.h"
#include "support/TempDir.h"
#include "support/TestCertificate.h"

namespace zor {
namespace {

using test::TBulkReceiver;
using test::TBulkReceiverOptions;

const std::string OneDocument = "{\"index\":{\"_index\":\"winlogbeat-2024-03-05\"}}\r\n{\"a\":1}\r\n";

TEST(EndpointClientTest, AddressesAndTransportFollowTheEndpoint) {
  struct TCase {
    std::string Endpoint;
    bool WithPort;
    std::string FullURL;
    bool TLS;
  };
  const TCase cases[] = {
      {"http://es.example", true, "http://es.example:8080/_bulk", false},
      {"HTTP://es.example", true, "HTTP://es.example:8080/_bulk", false},
      {"https://es.example", true, "https://es.example:8080/_bulk", true},
      {"es.example", false, "es.example/_bulk", true},
      {"http:/es.example", false, "http:/es.example/_bulk", true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Endpoint);
    const auto client = c.WithPort ? std::make_unique<TEndpointClient>(c.Endpoint, 8080, "user", "pw", "_bulk")
                                   : std::make_unique<TEndpointClient>(c.Endpoint, "user", "pw", "_bulk");
    EXPECT_EQ(client->FullURL(), c.FullURL);
    EXPECT_EQ(client->UsesTLS(), c.TLS);
    EXPECT_EQ(client->ResponseCode(), -1);
    EXPECT_EQ(client->ResponseText(), "");
  }
}

TEST(EndpointClientTest, SendsBasicOrBearerAuthorisation) {
  TBulkReceiver receiver;
  struct TCase {
    std::unique_ptr<TEndpointClient> Client;
    std::string Header;
  };
  TCase cases[] = {
      {std::make_unique<TEndpointClient>(receiver.Endpoint(), receiver.Port(), "elastic", "changeme", "_bulk"),
       "Basic ZWxhc3RpYzpjaGFuZ2VtZQ=="},
      // Empty credentials still send a Basic header, and so does a blank token.
      {std::make_unique<TEndpointClient>(receiver.Endpoint(), receiver.Port(), "", "", "_bulk"), "Basic Og=="},
      {std::make_unique<TEndpointClient>(receiver.Endpoint(), receiver.Port(), std::string(" \t"), "_bulk"),
       "Basic Og=="},
      {std::make_unique<TEndpointClient>(receiver.Endpoint(), receiver.Port(), std::string("tok-1"), "_bulk"),
       "Bearer tok-1"},
      {std::make_unique<TEndpointClient>(receiver.Endpoint() + ":" + std::to_string(receiver.Port()),
                                         std::string("tok-2"), "_bulk"),
       "Bearer tok-2"},
  };
  for (TCase& c : cases) {
    SCOPED_TRACE(c.Header);
    c.Client->Post(OneDocument, "application/json", "application/json");
    EXPECT_EQ(c.Client->ResponseCode(), 200);
    EXPECT_EQ(c.Client->ResponseText(), "HTTP/1.1 200 OK");
    EXPECT_EQ(receiver.LastAuthorization(), c.Header);
  }
}

TEST(EndpointClientTest, ReportsHttpErrorsWithTheirStatusLine) {
  TBulkReceiverOptions options;
  options.UserName = "elastic";
  options.Password = "changeme";
  TBulkReceiver receiver(options);
  TEndpointClient wrong(receiver.Endpoint(), receiver.Port(), "elastic", "wrong", "_bulk");
  const std::string body = wrong.Post(OneDocument);
  EXPECT_EQ(wrong.ResponseCode(), 401);
  EXPECT_EQ(wrong.ResponseText(), "HTTP/1.1 401 Unauthorized");
  EXPECT_NE(body.find("security_exception"), std::string::npos) << body;
  EXPECT_EQ(wrong.LastError(), "HTTP/1.1 401 Unauthorized");

  TEndpointClient right(receiver.Endpoint(), receiver.Port(), "elastic", "changeme", "_template/winlogbeat");
  EXPECT_EQ(right.Head(), 404);
  EXPECT_EQ(right.ResponseText(), "HTTP/1.1 404 Not Found");
  // Get reports the failure's text instead of a body.
  EXPECT_EQ(right.Get("no/such/path"), "HTTP/1.1 404 Not Found");
  right.Put("{\"index_patterns\":[\"winlogbeat-*\"]}", "application/json", "application/json");
  EXPECT_EQ(right.ResponseCode(), 200);
  EXPECT_EQ(right.LastError(), "");
  EXPECT_EQ(right.Head(), 200);
  EXPECT_EQ(receiver.Templates().count("winlogbeat"), 1u);
}

TEST(EndpointClientTest, NoListenerGivesMinusOneAndAnEmptyStatusLine) {
  uint16_t port;
  {
    TBulkReceiver gone;
    port = gone.Port();
  }
  TEndpointClient client("http://127.0.0.1", port, "", "", "_bulk");
  EXPECT_EQ(client.Post(OneDocument), "");
  EXPECT_EQ(client.ResponseCode(), -1);
  EXPECT_EQ(client.ResponseText(), "");
  EXPECT_FALSE(client.LastError().empty());
  EXPECT_EQ(client.Get(), client.LastError());
}

TEST(EndpointClientTest, KeepsOneConnectionAcrossRequestsAndReconnectsAfterTheServerCameBack) {
  TBulkReceiver receiver;
  TEndpointClient client(receiver.Endpoint(), receiver.Port(), "", "", "_bulk");
  for (int i = 0; i < 5; ++i) {
    client.Post(OneDocument);
    ASSERT_EQ(client.ResponseCode(), 200) << client.LastError();
  }
  EXPECT_EQ(receiver.Connections(), 1u);

  receiver.Stop();
  client.Post(OneDocument);
  EXPECT_EQ(client.ResponseCode(), -1);
  receiver.Start();
  client.Post(OneDocument);
  EXPECT_EQ(client.ResponseCode(), 200) << client.LastError();
  EXPECT_EQ(receiver.DocumentCount(), 6u);
}

TEST(EndpointClientTest, TlsIsNotVerifiedUnlessAsked) {
  test::TempDir folder;
  test::TTestCertificate certificate(folder.Path());
  TBulkReceiverOptions options;
  options.Certificate = certificate.Certificate();
  options.Key = certificate.Key();
  TBulkReceiver receiver(options);

  struct TCase {
    const char* Name;
    bool Verify;
    std::string CAFile;
    int Status;
  };
  const TCase cases[] = {
      {"not verified", false, "", 200},
      {"verified against its own certificate", true, certificate.CertFile().string(), 200},
      // A self-made certificate is in no system store.
      {"verified against the system store", true, "", -1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TEndpointClientOptions clientOptions;
    clientOptions.VerifyCertificate = c.Verify;
    clientOptions.CAFile = c.CAFile;
    TEndpointClient client(receiver.Endpoint(), receiver.Port(), "", "", "_bulk", clientOptions);
    EXPECT_TRUE(client.UsesTLS());
    client.Post(OneDocument);
    EXPECT_EQ(client.ResponseCode(), c.Status) << client.LastError();
  }
  // A plain-HTTP client does not talk to a TLS endpoint.
  TEndpointClient plain("http://127.0.0.1", receiver.Port(), "", "", "_bulk");
  plain.Post(OneDocument);
  EXPECT_EQ(plain.ResponseCode(), -1);
}

TEST(EndpointClientTest, RequestTimeOutEndsASlowAnswer) {
  TBulkReceiver receiver;
  receiver.SetDelay(std::chrono::milliseconds(600));
  TEndpointClientOptions options;
  options.RequestTimeoutMs = 100;
  TEndpointClient client(receiver.Endpoint(), receiver.Port(), "", "", "_bulk", options);
  const auto start = std::chrono::steady_clock::now();
  client.Post(OneDocument);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_EQ(client.ResponseCode(), -1);
  EXPECT_NE(client.LastError().find("timed out"), std::string::npos) << client.LastError();
}

// A peer that takes the start of one request and goes away: the client's
// writes of the rest then fail (EPIPE). That fails the request; it must not
// end the process with SIGPIPE. Over plain HTTP and over TLS.
TEST(EndpointClientTest, APeerThatLeavesMidRequestFailsTheRequestNotTheProcess) {
  test::TempDir folder;
  test::TTestCertificate certificate(folder.Path());
  for (const bool useTls : {false, true}) {
    SCOPED_TRACE(useTls ? "TLS" : "plain");
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::thread peer([&] {
      const int connection = ::accept(listener, nullptr, nullptr);
      char buffer[1024];
      if (!useTls) {
        (void)!::recv(connection, buffer, sizeof buffer, 0);
      } else {
        std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
        SSL_CTX_use_certificate(context.get(), certificate.Certificate());
        SSL_CTX_use_PrivateKey(context.get(), certificate.Key());
        std::unique_ptr<SSL, decltype(&SSL_free)> session(SSL_new(context.get()), SSL_free);
        SSL_set_fd(session.get(), connection);
        if (SSL_accept(session.get()) == 1) (void)SSL_read(session.get(), buffer, sizeof buffer);
      }
      ::close(connection);
    });
    TEndpointClient client(useTls ? "https://127.0.0.1" : "http://127.0.0.1", ntohs(address.sin_port), "", "",
                           "_bulk");
    // More than the socket buffers of both ends take.
    client.Post(std::string(size_t{16} << 20, 'x'));
    peer.join();
    ::close(listener);
    EXPECT_EQ(client.ResponseCode(), -1);
    EXPECT_FALSE(client.LastError().empty());
  }
}

// A server of our own for what the bulk receiver never sends: other charsets
// and a record of the content headers.
class TCharsetServer {
 public:
  TCharsetServer() {
    FServer->Get("/latin1", [](const httplib::Request&, httplib::Response& AResponse) {
      AResponse.set_content("caf\xE9 \xA3", "text/plain; charset=\"ISO-8859-1\"");
    });
    FServer->Get("/utf16", [](const httplib::Request&, httplib::Response& AResponse) {
      AResponse.set_content(std::string("\xFF\xFE{\0\"\0\xAC\x20\"\0}\0", 12), "application/json; charset=utf-16");
    });
    FServer->Post("/echo", [this](const httplib::Request& ARequest, httplib::Response& AResponse) {
      FLastHeaders = ARequest.get_header_value("Accept") + "|" + ARequest.get_header_value("Content-Type");
      AResponse.set_content(ARequest.body, "application/json");
    });
    FPort = FServer->bind_to_any_port("127.0.0.1");
    FThread = test::HttpServerThread(*FServer);
  }
  ~TCharsetServer() {
    FServer->stop();
    FThread.join();
  }
  int Port() const { return FPort; }
  std::string LastHeaders() const { return FLastHeaders; }

 private:
  std::unique_ptr<httplib::Server> FServer = test::MakeHttpServer<httplib::Server>();
  int FPort = 0;
  std::string FLastHeaders;  // written by the server thread between requests
  std::thread FThread;
};

TEST(EndpointClientTest, BodiesAreReadInTheirCharsetAndContentHeadersStaySet) {
  TCharsetServer server;
  TEndpointClient client("http://127.0.0.1", static_cast<uint16_t>(server.Port()), "", "", "echo");
  EXPECT_EQ(client.Get("latin1"), "caf\u00E9 \u00A3");
  EXPECT_EQ(client.Get("utf16"), "{\"\u20AC\"}");

  EXPECT_EQ(client.Post("{\"x\":1}"), "{\"x\":1}");
  EXPECT_EQ(server.LastHeaders(), "*/*|application/json");
  client.Post("[]", "text/plain", "application/x-ndjson");
  EXPECT_EQ(server.LastHeaders(), "text/plain|application/x-ndjson");
  client.Post("[]");
  EXPECT_EQ(server.LastHeaders(), "text/plain|application/x-ndjson");
}

TEST(HttpResponseTest, KeepsTheFinalStatusLineAndItsCharset) {
  THttpResponse response;
  for (const char* line : {"HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 404 Not Found\r\n",
                           "content-TYPE: text/html;charset=Windows-1252\r\n", "X: y\r\n", "\r\n"})
    response.AddHeaderLine(line);
  EXPECT_EQ(response.StatusCode(), 404);
  EXPECT_EQ(response.StatusLine(), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(response.Charset(), "windows-1252");
  ASSERT_TRUE(response.AppendBody("\x80\x93ok"));
  EXPECT_EQ(response.BodyText(), "\u20AC\u201Cok");

  THttpResponse odd;
  for (const char* line : {"Content-Type: text/plain; charset=latin1", "HTTP/1.1 2000 Nope", "HTTP/2 204"})
    odd.AddHeaderLine(line);
  EXPECT_EQ(odd.StatusCode(), 204);
  EXPECT_EQ(odd.Charset(), "");
}

TEST(HttpResponseTest, DecodesTheCharsetsItKnowsAndPassesOthersThrough) {
  struct TCase {
    std::string ContentType;
    std::string Bytes;
    std::string Text;
  };
  const TCase cases[] = {
      {"application/json", "caf\xC3\xA9", "caf\xC3\xA9"},
      {"application/json; charset=utf-8", "caf\xC3\xA9", "caf\xC3\xA9"},
      {"text/plain; format=flowed; charset=\"iso-8859-1\"", "caf\xE9", "caf\xC3\xA9"},
      {"text/plain; charset=utf-16be", std::string("\0a\xD8\x3D\xDE\x00", 6), "a\xF0\x9F\x98\x80"},
      {"text/plain; charset=utf-16le", std::string("a\0b", 3), "a\xEF\xBF\xBD"},
      {"text/plain; charset=koi8-r", "\xC1", "\xC1"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.ContentType);
    EXPECT_EQ(THttpResponse::DecodeText(c.Bytes, THttpResponse::CharsetOf(c.ContentType)), c.Text);
  }
}

}  // namespace
}  // namespace zor
