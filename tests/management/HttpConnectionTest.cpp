#include "management/HttpConnection.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "management/TlsServerContext.h"
#include "support/TempDir.h"
#include "support/TestCertificate.h"

namespace zor {
namespace {

// A client that sends one request and goes away without reading its answer:
// the large answer then meets a closed socket. That must end the connection
// (EPIPE), never the process (SIGPIPE), over plain HTTP and over TLS alike.
TEST(HttpConnectionTest, AClientThatLeavesBeforeItsAnswerEndsOnlyItsConnection) {
  test::TempDir folder;
  test::TTestCertificate certificate(folder.Path());
  const TTlsServerContext tls(certificate.CertFile().string(), certificate.KeyFile().string(), "", "");
  const std::string request = "GET /big HTTP/1.1\r\nHost: x\r\n\r\n";

  for (const bool useTls : {false, true}) {
    SCOPED_TRACE(useTls ? "TLS" : "plain");
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    std::thread client([&, clientEnd = ends[1]] {
      if (!useTls) {
        (void)!::write(clientEnd, request.data(), request.size());
      } else {
        std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
        std::unique_ptr<SSL, decltype(&SSL_free)> session(SSL_new(context.get()), SSL_free);
        SSL_set_fd(session.get(), clientEnd);
        if (SSL_connect(session.get()) == 1)
          (void)SSL_write(session.get(), request.data(), static_cast<int>(request.size()));
      }
      ::close(clientEnd);
    });

    std::atomic<int> handled{0};
    THttpHandlers handlers;
    handlers.Screen = [](const THttpRequest&, THttpAnswer&) { return true; };
    handlers.Handle = [&](const THttpRequest&, THttpAnswer& AAnswer) {
      ++handled;
      AAnswer.Body.assign(size_t{4} << 20, 'x');
    };
    const TEndPointLimits limits;
    TTcpConnection connection(ends[0]);
    {
      THttpConnection served(connection, useTls ? tls.Handle() : nullptr, limits);
      served.Serve(handlers, [] { return false; });
    }
    client.join();
    EXPECT_EQ(handled, 1);
  }
}

}  // namespace
}  // namespace zor
