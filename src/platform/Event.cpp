#include "platform/Event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>

#include "platform/PlatformError.h"

namespace zor {

namespace {

int CreateEventFd() {
  const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) throw EPlatformError::FromErrno("eventfd");
  return fd;
}

}  // namespace

TEvent::TEvent() : FFd(CreateEventFd()) {}

TEvent::~TEvent() { ::close(FFd); }

void TEvent::Set() {
  TCriticalSectionGuard guard(FCriticalSection);
  if (FSignalled) return;
  const uint64_t one = 1;
  // The counter is 0 here (it is non-zero only while signalled), so the write
  // cannot overflow it; EINTR cannot happen on a non-blocking eventfd.
  if (::write(FFd, &one, sizeof one) != sizeof one) throw EPlatformError::FromErrno("eventfd write");
  FSignalled = true;
}

void TEvent::Reset() {
  TCriticalSectionGuard guard(FCriticalSection);
  if (!FSignalled) return;
  uint64_t value = 0;
  if (::read(FFd, &value, sizeof value) != sizeof value) throw EPlatformError::FromErrno("eventfd read");
  FSignalled = false;
}

bool TEvent::IsSet() {
  TCriticalSectionGuard guard(FCriticalSection);
  return FSignalled;
}

bool TEvent::WaitFor(uint32_t AMilliseconds) {
  TEvent* self = this;
  return WaitForAny(std::span<TEvent* const>(&self, 1), AMilliseconds) == WAIT_OBJECT_0;
}

uint32_t WaitForAny(std::span<TEvent* const> AEvents, uint32_t AMilliseconds) {
  if (AEvents.empty() || AEvents.size() > MAXIMUM_WAIT_OBJECTS)
    throw EPlatformError("WaitForAny needs 1 to 64 events, got " + std::to_string(AEvents.size()));
  std::array<pollfd, MAXIMUM_WAIT_OBJECTS> fds{};
  for (size_t i = 0; i < AEvents.size(); ++i) {
    if (AEvents[i] == nullptr) throw EPlatformError("WaitForAny: event " + std::to_string(i) + " is null");
    fds[i].fd = AEvents[i]->Handle();
    fds[i].events = POLLIN;
  }

  using Clock = std::chrono::steady_clock;
  const bool unlimited = AMilliseconds == INFINITE;
  const auto deadline = Clock::now() + std::chrono::milliseconds(AMilliseconds);
  for (;;) {
    int timeout = -1;
    if (!unlimited) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      timeout = left <= 0 ? 0 : static_cast<int>(left);
    }
    const int ready = ::poll(fds.data(), AEvents.size(), timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw EPlatformError::FromErrno("poll");
    }
    // poll reports every descriptor readable at one moment, so the first one
    // set is the lowest event signalled then.
    for (size_t i = 0; i < AEvents.size(); ++i)
      if (fds[i].revents & POLLIN) return static_cast<uint32_t>(i);
    if (ready == 0 && timeout == 0) return WAIT_TIMEOUT;
    // A zero result with time left (a coarse clock) or an error bit on a
    // descriptor we own: wait again for the rest of the time.
    if (ready > 0)
      throw EPlatformError("poll reported an error on an event descriptor");
  }
}

}  // namespace zor
