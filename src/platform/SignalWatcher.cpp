#include "platform/SignalWatcher.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/PlatformError.h"

namespace zor {

TSignalWatcher::TSignalWatcher(std::initializer_list<int> ASignals) : FFd(-1), FPrevious{} {
  sigset_t mask;
  sigemptyset(&mask);
  for (int signal : ASignals) sigaddset(&mask, signal);
  if (const int error = pthread_sigmask(SIG_BLOCK, &mask, &FPrevious); error != 0)
    throw EPlatformError::FromErrno("pthread_sigmask", error);
  FFd = signalfd(-1, &mask, SFD_CLOEXEC);
  if (FFd < 0) {
    const int error = errno;
    pthread_sigmask(SIG_SETMASK, &FPrevious, nullptr);
    throw EPlatformError::FromErrno("signalfd", error);
  }
}

TSignalWatcher::~TSignalWatcher() {
  close(FFd);
  pthread_sigmask(SIG_SETMASK, &FPrevious, nullptr);
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
