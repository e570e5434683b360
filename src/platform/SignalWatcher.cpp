#include "platform/SignalWatcher.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/PlatformError.h"

namespace zor {

TSignalWatcher::TSignalWatcher(std::initializer_list<int> ASignals) : FHold(ASignals), FFd(-1) {
  FFd = signalfd(-1, &FHold.Signals(), SFD_CLOEXEC);
  if (FFd < 0) {
    const int error = errno;
    FHold.Release();
    throw EPlatformError::FromErrno("signalfd", error);
  }
}

TSignalWatcher::~TSignalWatcher() {
  close(FFd);
  FHold.Release();
}

int TSignalWatcher::Wait(TEvent& AWakeUp) {
  for (;;) {
    pollfd fds[2] = {{FFd, POLLIN, 0}, {AWakeUp.Handle(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      throw EPlatformError::FromErrno("poll");
    }
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      const ssize_t got = read(FFd, &info, sizeof info);
      if (got == static_cast<ssize_t>(sizeof info)) return static_cast<int>(info.ssi_signo);
      if (got < 0 && errno != EAGAIN && errno != EINTR) throw EPlatformError::FromErrno("read signalfd");
      continue;
    }
    if (fds[1].revents & POLLIN) return 0;
    if (fds[0].revents & (POLLERR | POLLNVAL)) throw EPlatformError("signalfd reported an error");
  }
}

}  // namespace zor
