#pragma once

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zor::test {

class TTestCertificate;

// A receiver on 127.0.0.1 that records every byte it gets: a UDP socket, a TCP
// listener, or a TLS listener limited to a range of protocol versions. Bound to
// port 0 unless a port is given (to bring a receiver back on the port a
// previous one had). One thread serves every connection; the recorded data
// is read from any thread.
class TLoopbackSink {
 public:
  enum class TKind { Udp, Tcp, Tls };

  static std::unique_ptr<TLoopbackSink> Udp(uint16_t APort = 0);
  static std::unique_ptr<TLoopbackSink> Tcp(uint16_t APort = 0);
  // ACertificate must outlive the sink. AMinVersion/AMaxVersion: TLS1_VERSION ...
  static std::unique_ptr<TLoopbackSink> Tls(const TTestCertificate& ACertificate, int AMinVersion, int AMaxVersion,
                                            uint16_t APort = 0);
  ~TLoopbackSink();
  TLoopbackSink(const TLoopbackSink&) = delete;
  TLoopbackSink& operator=(const TLoopbackSink&) = delete;

  uint16_t Port() const { return FPort; }

  // Every byte received, in arrival order (stream connections one after another).
  std::string Received() const;
  // UDP: each datagram as it came.
  std::vector<std::string> Datagrams() const;
  // Stream connections accepted (TLS: handshakes that succeeded) and TLS
  // handshakes that failed.
  size_t Connections() const;
  size_t FailedHandshakes() const;
  // The protocol version of the last successful TLS handshake.
  int LastTlsVersion() const;

  [[nodiscard]] testing::AssertionResult WaitForBytes(size_t ACount,
                                                      std::chrono::milliseconds ATimeout = std::chrono::seconds(30));

 private:
  struct TConnection;
  TLoopbackSink(TKind AKind, uint16_t APort, SSL_CTX* AContext);
  void Run();
  void Accept();
  bool ReadFrom(TConnection& AConnection);
  void Record(const char* AData, size_t ALength, bool ADatagram);

  const TKind FKind;
  int FListenFd = -1;
  int FWakeFd = -1;
  uint16_t FPort = 0;
  SSL_CTX* FContext = nullptr;  // owned
  std::vector<std::unique_ptr<TConnection>> FConnections;  // sink thread only

  mutable std::mutex FMutex;
  std::string FReceived;
  std::vector<std::string> FDatagrams;
  size_t FConnectionCount = 0;
  size_t FFailedHandshakes = 0;
  int FLastTlsVersion = 0;

  std::thread FThread;
};

}  // namespace zor::test
