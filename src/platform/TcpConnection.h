#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace zor {

// One accepted TCP connection of a server, in non-blocking mode: reads and
// writes never block longer than the time the caller gives them, so a slow
// or silent client cannot hold a serving thread.
//
// Owns its descriptor (closed by the destructor). One thread uses a
// connection at a time, except StopReading, which any thread may call.
class TTcpConnection {
 public:
  using TClock = std::chrono::steady_clock;

  // Takes ownership of AHandle, an accepted socket; sets it non-blocking.
  explicit TTcpConnection(int AHandle);
  ~TTcpConnection();
  TTcpConnection(const TTcpConnection&) = delete;
  TTcpConnection& operator=(const TTcpConnection&) = delete;

  [[nodiscard]] int Handle() const { return FHandle; }
  // The numeric address of the peer and of this end ("" when unknown).
  [[nodiscard]] const std::string& PeerAddress() const { return FPeerAddress; }
  [[nodiscard]] int PeerPort() const { return FPeerPort; }
  [[nodiscard]] const std::string& LocalAddress() const { return FLocalAddress; }
  [[nodiscard]] int LocalPort() const { return FLocalPort; }
  // True when the peer is on this machine's loopback (127.0.0.0/8, ::1, or
  // an IPv4-mapped loopback address).
  [[nodiscard]] bool PeerIsLoopback() const;

  // Waits until the socket can be read (or written) or ADeadline passes.
  // True when it can; false on time-out, error or Shutdown.
  [[nodiscard]] bool WaitReadable(TClock::time_point ADeadline) const;
  [[nodiscard]] bool WaitWritable(TClock::time_point ADeadline) const;

  // Reads what has arrived, waiting for data until ADeadline: the count
  // read, 0 when the peer closed, -1 on time-out or error.
  ssize_t Read(char* ABuffer, size_t ASize, TClock::time_point ADeadline);
  // Writes all of ABuffer unless ADeadline passes or an error occurs first:
  // the count written, or -1 when not all of it went.
  ssize_t Write(const char* ABuffer, size_t ASize, TClock::time_point ADeadline);

  // Ends the reading side: a wait for data or a read returns at once (end of
  // data), while an answer being written still goes out.
  void StopReading();

 private:
  const int FHandle;
  std::string FPeerAddress;
  int FPeerPort = 0;
  std::string FLocalAddress;
  int FLocalPort = 0;
};

// True when AAddress, a numeric IPv4 or IPv6 address, is a loopback address.
[[nodiscard]] bool IsLoopbackAddress(const std::string& AAddress);

}  // namespace zor
