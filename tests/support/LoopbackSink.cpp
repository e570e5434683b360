#include "support/LoopbackSink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "support/TestCertificate.h"
#include "support/WaitUntil.h"

namespace zor::test {

struct TLoopbackSink::TConnection {
  int Fd = -1;
  SSL* Ssl = nullptr;
  ~TConnection() {
    if (Ssl != nullptr) SSL_free(Ssl);
    if (Fd >= 0) close(Fd);
  }
};

namespace {

int BindLoopback(int AType, uint16_t APort) {
  const int fd = socket(AF_INET, AType | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("sink: socket failed");
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (AType == SOCK_DGRAM) {
    // Room for the largest datagram a test sends.
    const int size = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(APort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (AType == SOCK_STREAM && listen(fd, 64) != 0)) {
    close(fd);
    throw std::runtime_error("sink: bind/listen on port " + std::to_string(APort) + " failed");
  }
  return fd;
}

uint16_t BoundPort(int AFd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(AFd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

}  // namespace

std::unique_ptr<TLoopbackSink> TLoopbackSink::Udp(uint16_t APort) {
  return std::unique_ptr<TLoopbackSink>(new TLoopbackSink(TKind::Udp, APort, nullptr));
}

std::unique_ptr<TLoopbackSink> TLoopbackSink::Tcp(uint16_t APort) {
  return std::unique_ptr<TLoopbackSink>(new TLoopbackSink(TKind::Tcp, APort, nullptr));
}

std::unique_ptr<TLoopbackSink> TLoopbackSink::Tls(const TTestCertificate& ACertificate, int AMinVersion,
                                                  int AMaxVersion, uint16_t APort) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (context == nullptr) throw std::runtime_error("sink: SSL_CTX_new failed");
  SSL_CTX_set_min_proto_version(context, AMinVersion);
  SSL_CTX_set_max_proto_version(context, AMaxVersion);
  if (AMinVersion < TLS1_2_VERSION) SSL_CTX_set_security_level(context, 0);
  if (SSL_CTX_use_certificate(context, ACertificate.Certificate()) != 1 ||
      SSL_CTX_use_PrivateKey(context, ACertificate.Key()) != 1) {
    SSL_CTX_free(context);
    throw std::runtime_error("sink: certificate not accepted");
  }
  return std::unique_ptr<TLoopbackSink>(new TLoopbackSink(TKind::Tls, APort, context));
}

TLoopbackSink::TLoopbackSink(TKind AKind, uint16_t APort, SSL_CTX* AContext) : FKind(AKind), FContext(AContext) {
  FListenFd = BindLoopback(AKind == TKind::Udp ? SOCK_DGRAM : SOCK_STREAM, APort);
  FPort = BoundPort(FListenFd);
  FWakeFd = eventfd(0, EFD_CLOEXEC);
  FThread = std::thread([this] { Run(); });
}

TLoopbackSink::~TLoopbackSink() {
  const uint64_t one = 1;
  (void)!write(FWakeFd, &one, sizeof one);
  FThread.join();
  FConnections.clear();
  close(FListenFd);
  close(FWakeFd);
  if (FContext != nullptr) SSL_CTX_free(FContext);
}

void TLoopbackSink::Run() {
  std::vector<pollfd> polled;
  for (;;) {
    polled.clear();
    polled.push_back({FWakeFd, POLLIN, 0});
    polled.push_back({FListenFd, POLLIN, 0});
    for (const auto& connection : FConnections) polled.push_back({connection->Fd, POLLIN, 0});
    if (poll(polled.data(), polled.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (polled[0].revents != 0) return;
    if (polled[1].revents != 0) Accept();
    // Connections accepted just now are polled on the next round.
    for (size_t i = polled.size() - 1; i >= 2; --i) {
      if (polled[i].revents == 0) continue;
      if (!ReadFrom(*FConnections[i - 2])) FConnections.erase(FConnections.begin() + static_cast<long>(i - 2));
    }
  }
}

void TLoopbackSink::Accept() {
  if (FKind == TKind::Udp) {
    std::string datagram(1 << 16, '\0');
    const ssize_t length = recv(FListenFd, datagram.data(), datagram.size(), MSG_DONTWAIT);
    if (length >= 0) Record(datagram.data(), static_cast<size_t>(length), true);
    return;
  }
  auto connection = std::make_unique<TConnection>();
  connection->Fd = accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC);
  if (connection->Fd < 0) return;
  if (FKind == TKind::Tls) {
    // The handshake runs blocking, bounded by a receive time-out.
    const timeval limit{5, 0};
    setsockopt(connection->Fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    connection->Ssl = SSL_new(FContext);
    SSL_set_fd(connection->Ssl, connection->Fd);
    if (SSL_accept(connection->Ssl) != 1) {
      std::lock_guard lock(FMutex);
      ++FFailedHandshakes;
      return;
    }
    std::lock_guard lock(FMutex);
    FLastTlsVersion = SSL_version(connection->Ssl);
  }
  fcntl(connection->Fd, F_SETFL, fcntl(connection->Fd, F_GETFL) | O_NONBLOCK);
  {
    std::lock_guard lock(FMutex);
    ++FConnectionCount;
  }
  FConnections.push_back(std::move(connection));
}

bool TLoopbackSink::ReadFrom(TConnection& AConnection) {
  char buffer[16384];
  for (;;) {
    if (AConnection.Ssl != nullptr) {
      const int length = SSL_read(AConnection.Ssl, buffer, sizeof buffer);
      if (length > 0) {
        Record(buffer, static_cast<size_t>(length), false);
        continue;
      }
      return SSL_get_error(AConnection.Ssl, length) == SSL_ERROR_WANT_READ;
    }
    const ssize_t length = recv(AConnection.Fd, buffer, sizeof buffer, 0);
    if (length > 0) {
      Record(buffer, static_cast<size_t>(length), false);
      continue;
    }
    return length < 0 && (errno == EAGAIN || errno == EINTR);
  }
}

void TLoopbackSink::Record(const char* AData, size_t ALength, bool ADatagram) {
  std::lock_guard lock(FMutex);
  FReceived.append(AData, ALength);
  if (ADatagram) FDatagrams.emplace_back(AData, ALength);
}

std::string TLoopbackSink::Received() const {
  std::lock_guard lock(FMutex);
  return FReceived;
}

std::vector<std::string> TLoopbackSink::Datagrams() const {
  std::lock_guard lock(FMutex);
  return FDatagrams;
}

size_t TLoopbackSink::Connections() const {
  std::lock_guard lock(FMutex);
  return FConnectionCount;
}

size_t TLoopbackSink::FailedHandshakes() const {
  std::lock_guard lock(FMutex);
  return FFailedHandshakes;
}

int TLoopbackSink::LastTlsVersion() const {
  std::lock_guard lock(FMutex);
  return FLastTlsVersion;
}

testing::AssertionResult TLoopbackSink::WaitForBytes(size_t ACount, std::chrono::milliseconds ATimeout) {
  auto result = WaitUntil([&] { return Received().size() >= ACount; }, ATimeout,
                          std::to_string(ACount) + " bytes at port " + std::to_string(FPort));
  if (!result) result << " (have " << Received().size() << ")";
  return result;
}

}  // namespace zor::test
