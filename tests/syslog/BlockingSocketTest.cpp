#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/LoopbackSink.h"
#include "support/TempDir.h"
#include "support/TestCertificate.h"
#include "support/WaitUntil.h"
#include "syslog/IndySecureBlockingSocket.h"
#include "syslog/RawBlockingSocket.h"

namespace zor {
namespace {

using test::TLoopbackSink;

int Send(TBlockingSocket& ASocket, const std::string& ABytes) {
  return ASocket.SendMessage(reinterpret_cast<const uint8_t*>(ABytes.data()), static_cast<int>(ABytes.size()));
}

TEST(RawBlockingSocketTest, UdpSendsOneDatagramPerSend) {
  auto sink = TLoopbackSink::Udp();
  TBlockingUDPSocket socket("127.0.0.1", sink->Port());
  ASSERT_TRUE(socket.ConnectSocket());
  EXPECT_EQ(Send(socket, "first"), 5);
  EXPECT_EQ(Send(socket, "second"), 6);
  ASSERT_TRUE(sink->WaitForBytes(11));
  EXPECT_EQ(sink->Datagrams(), (std::vector<std::string>{"first", "second"}));
}

TEST(RawBlockingSocketTest, UdpConnectNeedsNoListener) {
  const auto port = TLoopbackSink::Udp()->Port();  // bound, then released
  TBlockingUDPSocket socket("127.0.0.1", port);
  EXPECT_TRUE(socket.ConnectSocket());
  EXPECT_TRUE(socket.Connected());
}

TEST(RawBlockingSocketTest, UdpDatagramTooLargeFailsWithEmsgsize) {
  auto sink = TLoopbackSink::Udp();
  TBlockingUDPSocket socket("127.0.0.1", sink->Port());
  ASSERT_TRUE(socket.ConnectSocket());
  EXPECT_EQ(Send(socket, std::string(70000, 'x')), -1);
  EXPECT_EQ(socket.LastError(), EMSGSIZE);
}

TEST(RawBlockingSocketTest, TcpSendsExactBytesAndDisconnects) {
  auto sink = TLoopbackSink::Tcp();
  TBlockingTCPSocket socket("localhost", sink->Port());
  ASSERT_TRUE(socket.ConnectSocket());
  const std::string bytes("5 hello\r\n\0\xE9", 12);
  EXPECT_EQ(Send(socket, bytes), 12);
  ASSERT_TRUE(sink->WaitForBytes(12));
  EXPECT_EQ(sink->Received(), bytes);

  socket.DisconnectSocket();
  EXPECT_FALSE(socket.Connected());
  EXPECT_EQ(socket.Handle(), -1);
  socket.DisconnectSocket();  // a second time does nothing
  EXPECT_EQ(Send(socket, "late"), -1);
}

TEST(RawBlockingSocketTest, ReconnectsWithAFreshSocketAfterDisconnect) {
  auto sink = TLoopbackSink::Tcp();
  TBlockingTCPSocket socket("127.0.0.1", sink->Port());
  ASSERT_TRUE(socket.ConnectSocket());
  socket.DisconnectSocket();
  ASSERT_TRUE(socket.ConnectSocket());
  EXPECT_EQ(Send(socket, "again"), 5);
  ASSERT_TRUE(sink->WaitForBytes(5));
  EXPECT_EQ(sink->Connections(), 2u);
}

TEST(RawBlockingSocketTest, UnknownHostAndRefusedPortFailToConnect) {
  TBlockingTCPSocket unknown("no-such-host.invalid", 514);
  EXPECT_FALSE(unknown.ConnectSocket());
  EXPECT_FALSE(unknown.Connected());

  const auto port = TLoopbackSink::Tcp()->Port();  // nothing listens there any more
  TBlockingTCPSocket refused("127.0.0.1", port);
  EXPECT_FALSE(refused.ConnectSocket());
  EXPECT_EQ(refused.LastError(), ECONNREFUSED);
}

// A listener whose accept queue is full drops further SYNs, so a connect to it
// hangs until the client gives up.
class TFullBacklog {
 public:
  TFullBacklog() {
    FListener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(FListener, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(FListener, 0) != 0 ||
        getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return;
    FPort = ntohs(address.sin_port);
    for (int i = 0; i < 16; ++i) {
      const int client = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      FClients.push_back(client);
      if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) continue;
      pollfd done{client, POLLOUT, 0};
      if (poll(&done, 1, 100) == 0) {
        FFull = true;
        return;
      }
    }
  }
  ~TFullBacklog() {
    for (int client : FClients) close(client);
    close(FListener);
  }
  bool Full() const { return FFull; }
  uint16_t Port() const { return FPort; }

 private:
  int FListener = -1;
  uint16_t FPort = 0;
  bool FFull = false;
  std::vector<int> FClients;
};

TEST(RawBlockingSocketTest, ConnectGivesUpAfterItsTimeLimit) {
  TFullBacklog blackhole;
  if (!blackhole.Full()) GTEST_SKIP() << "this kernel accepted every connection; no blackhole to test against";
  TSocketTimeouts timeouts;
  timeouts.ConnectMilliseconds = 200;
  TBlockingTCPSocket socket("127.0.0.1", blackhole.Port(), timeouts);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(socket.ConnectSocket());
  EXPECT_EQ(socket.LastError(), ETIMEDOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST(RawBlockingSocketTest, PeerThatWentAwayShowsAsErrorNotSignal) {
  auto sink = TLoopbackSink::Tcp();
  TBlockingTCPSocket socket("127.0.0.1", sink->Port());
  ASSERT_TRUE(socket.ConnectSocket());
  ASSERT_TRUE(test::WaitUntil([&] { return sink->Connections() == 1; }));
  sink.reset();
  ASSERT_TRUE(test::WaitUntil([&] { return !socket.Connected(); }));
  // The first write after the peer's close may still be buffered; the reset
  // it provokes fails a later one. SIGPIPE would end the test process here.
  int result = 0;
  for (int i = 0; i < 100 && result >= 0; ++i) result = Send(socket, "into the void");
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(socket.LastError() == EPIPE || socket.LastError() == ECONNRESET) << socket.LastError();
}

// A send to a peer that stops reading fails when the time limit runs out;
// SendBytes then says how much the kernel took before, so a caller knows which
// of the bytes are on their way.
TEST(RawBlockingSocketTest, SendBytesCountsWhatAStalledPeerTook) {
  // Connections complete in the listen queue and are never read.
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);

  TSocketTimeouts timeouts;
  timeouts.SendMilliseconds = 200;
  timeouts.LingerSeconds = 0;
  TBlockingTCPSocket socket("127.0.0.1", ntohs(address.sin_port), timeouts);
  ASSERT_TRUE(socket.ConnectSocket());
  const std::string bytes(64 << 20, 'x');
  const int taken = socket.SendBytes(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
  EXPECT_GT(taken, 0);
  EXPECT_LT(taken, static_cast<int>(bytes.size()));
  EXPECT_EQ(socket.LastError(), ETIMEDOUT);
  EXPECT_EQ(Send(socket, bytes), -1);  // SendMessage: all or -1
  socket.DisconnectSocket();
  close(listener);
}

class SecureBlockingSocketTest : public testing::Test {
 protected:
  test::TempDir FFolder;
  test::TTestCertificate FCertificate{FFolder.Path()};
};

TEST_F(SecureBlockingSocketTest, Tls12SendsExactBytes) {
  auto sink = TLoopbackSink::Tls(FCertificate, TLS1_2_VERSION, TLS1_2_VERSION);
  TIndySecureBlockingSocket socket("127.0.0.1", sink->Port(), 258);
  ASSERT_TRUE(socket.ConnectSocket());
  EXPECT_TRUE(socket.Connected());
  EXPECT_EQ(socket.NegotiatedVersion(), TLS1_2_VERSION);
  EXPECT_EQ(Send(socket, "12 hello world"), 14);
  EXPECT_EQ(socket.SendMessage(std::string("line")), 6);
  ASSERT_TRUE(sink->WaitForBytes(20));
  EXPECT_EQ(sink->Received(), "12 hello worldline\r\n");
  socket.DisconnectSocket();
  EXPECT_FALSE(socket.Connected());
}

// A write longer than one TLS record goes out in several, whole and in order.
TEST_F(SecureBlockingSocketTest, SendBytesTakesWritesLongerThanARecord) {
  auto sink = TLoopbackSink::Tls(FCertificate, TLS1_2_VERSION, TLS1_2_VERSION);
  TIndySecureBlockingSocket socket("127.0.0.1", sink->Port(), 258);
  ASSERT_TRUE(socket.ConnectSocket());
  std::string bytes;
  for (int i = 0; bytes.size() < 100000; ++i) bytes += std::to_string(i) + "\n";
  EXPECT_EQ(socket.SendBytes(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size())),
            static_cast<int>(bytes.size()));
  ASSERT_TRUE(sink->WaitForBytes(bytes.size()));
  EXPECT_EQ(sink->Received(), bytes);
}

struct TVersionCase {
  const char* Name;
  uint16_t ClientVersion;  // as the sender passes it
  int ServerMin;
  int ServerMax;
  int Expected;  // negotiated version, 0: the connect must fail
};

class TlsVersionPinningTest : public SecureBlockingSocketTest, public testing::WithParamInterface<TVersionCase> {};

TEST_P(TlsVersionPinningTest, NegotiatesExactlyTheConfiguredVersion) {
  const TVersionCase& c = GetParam();
  auto sink = TLoopbackSink::Tls(FCertificate, c.ServerMin, c.ServerMax);
  TIndySecureBlockingSocket socket("127.0.0.1", sink->Port(), c.ClientVersion);
  if (c.Expected == 0) {
    EXPECT_THROW((void)socket.ConnectSocket(), ESocketError);
    EXPECT_FALSE(socket.Connected());
    EXPECT_THROW(Send(socket, "x"), ESocketError);
    EXPECT_TRUE(test::WaitUntil([&] { return sink->FailedHandshakes() == 1; }));
    return;
  }
  ASSERT_TRUE(socket.ConnectSocket());
  EXPECT_EQ(socket.NegotiatedVersion(), c.Expected);
  EXPECT_EQ(Send(socket, "pinned"), 6);
  EXPECT_TRUE(sink->WaitForBytes(6));
  EXPECT_EQ(sink->LastTlsVersion(), c.Expected);
}

const TVersionCase VersionCases[] = {
    {"Tls10RefusedByTls12Server", 256, TLS1_2_VERSION, TLS1_2_VERSION, 0},
    {"Tls12RefusedByTls10Server", 258, TLS1_VERSION, TLS1_VERSION, 0},
    {"Tls12NotUpgradedTo13", 258, TLS1_VERSION, TLS1_3_VERSION, TLS1_2_VERSION},
    {"Tls11AgainstWideServer", 257, TLS1_VERSION, TLS1_3_VERSION, TLS1_1_VERSION},
    {"Tls10AgainstWideServer", 256, TLS1_VERSION, TLS1_3_VERSION, TLS1_VERSION},
};

INSTANTIATE_TEST_SUITE_P(Versions, TlsVersionPinningTest, testing::ValuesIn(VersionCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST_F(SecureBlockingSocketTest, RefusedConnectionThrows) {
  const auto port = TLoopbackSink::Tcp()->Port();
  TIndySecureBlockingSocket socket("127.0.0.1", port, 258);
  try {
    (void)socket.ConnectSocket();
    FAIL() << "connect succeeded";
  } catch (const ESocketError& e) {
    EXPECT_NE(std::string(e.what()).find("127.0.0.1:" + std::to_string(port)), std::string::npos) << e.what();
  }
}

TEST_F(SecureBlockingSocketTest, SilentPeerFailsTheHandshakeWithinTheTimeLimit) {
  auto silent = TLoopbackSink::Tcp();  // accepts, but never answers a ClientHello
  TSocketTimeouts timeouts;
  timeouts.SendMilliseconds = 200;
  TIndySecureBlockingSocket socket("127.0.0.1", silent->Port(), 258, timeouts);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_THROW((void)socket.ConnectSocket(), ESocketError);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST_F(SecureBlockingSocketTest, SendAfterPeerLeftThrowsSocketError) {
  auto sink = TLoopbackSink::Tls(FCertificate, TLS1_2_VERSION, TLS1_2_VERSION);
  TIndySecureBlockingSocket socket("127.0.0.1", sink->Port(), 258);
  ASSERT_TRUE(socket.ConnectSocket());
  sink.reset();
  ASSERT_TRUE(test::WaitUntil([&] { return !socket.Connected(); }));
  try {
    for (int i = 0; i < 100; ++i) Send(socket, "into the void");
    FAIL() << "every send succeeded";
  } catch (const ESocketError& e) {
    EXPECT_STREQ(e.what(), "Socket Error sending message");
  }
}

}  // namespace
}  // namespace zor
