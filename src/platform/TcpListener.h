#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Event.h"
#include "platform/TcpConnection.h"

namespace zor {

// A listening TCP socket on one address and port, for the management
// endpoint. The port is not shared: binding a port that another socket
// listens on fails (no SO_REUSEPORT), while a port left in TIME_WAIT by an
// earlier listener can be bound again at once (SO_REUSEADDR).
//
// Owns its descriptor. Accept is called by one thread; AStop may be set by
// any other to end a waiting Accept.
class TTcpListener {
 public:
  // Binds AAddress (a numeric IPv4 or IPv6 address) and APort (0: any free
  // port) and listens. Throws EPlatformError naming the address and the
  // system's reason ("Address already in use", ...).
  TTcpListener(const std::string& AAddress, uint16_t APort);
  ~TTcpListener();
  TTcpListener(const TTcpListener&) = delete;
  TTcpListener& operator=(const TTcpListener&) = delete;

  // The port actually bound (the one chosen when 0 was asked for).
  [[nodiscard]] uint16_t Port() const { return FPort; }

  // Waits for the next connection; null once AStop is signalled. Failures
  // of single accepts (a client that went away, no descriptors left) are
  // passed over after a short pause.
  [[nodiscard]] std::unique_ptr<TTcpConnection> Accept(TEvent& AStop);

 private:
  int FHandle = -1;
  uint16_t FPort = 0;
};

}  // namespace zor
