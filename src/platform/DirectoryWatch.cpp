#include "platform/DirectoryWatch.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdint>

#include "platform/PlatformError.h"

namespace zor {

namespace {

constexpr uint32_t WatchMask =
    IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

TDirectoryWatch::TDirectoryWatch(bool AUseInotify) {
  FStop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (FStop < 0) throw EPlatformError::FromErrno("eventfd");
  // Without inotify, folders are only polled by the caller.
  if (AUseInotify) FInotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

TDirectoryWatch::~TDirectoryWatch() {
  ::close(FStop);
  if (FInotify >= 0) ::close(FInotify);
}

int TDirectoryWatch::Add(const std::string& AFolder) {
  if (FInotify < 0) return -1;
  return ::inotify_add_watch(FInotify, AFolder.c_str(), WatchMask);
}

void TDirectoryWatch::Remove(int AWatch) {
  if (FInotify >= 0 && AWatch >= 0) ::inotify_rm_watch(FInotify, AWatch);
}

TDirectoryWatch::TWaitResult TDirectoryWatch::Wait(std::chrono::milliseconds ATimeout) {
  for (;;) {
    struct pollfd fds[2] = {{FStop, POLLIN, 0}, {FInotify, POLLIN, 0}};
    const nfds_t count = FInotify >= 0 ? 2 : 1;
    const int ready = ::poll(fds, count, static_cast<int>(ATimeout.count()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      // Polling itself failed: nothing can be waited for any more.
      return TWaitResult::wrStop;
    }
    if (ready == 0) return TWaitResult::wrTimeout;
    if (fds[0].revents & POLLIN) return TWaitResult::wrStop;
    if (count == 2 && (fds[1].revents & POLLIN)) return TWaitResult::wrNotices;
  }
}

void TDirectoryWatch::ReadNotices(const std::function<void(const TNotice&)>& AOnNotice) {
  if (FInotify < 0) return;
  alignas(struct inotify_event) char buffer[16 * 1024];
  for (;;) {
    const ssize_t got = ::read(FInotify, buffer, sizeof buffer);
    if (got <= 0) return;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(struct inotify_event)) <= got;) {
      const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
      TNotice notice;
      notice.Watch = event->wd;
      notice.Overflow = (event->mask & IN_Q_OVERFLOW) != 0;
      if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
        // The watch ends with the folder; IN_IGNORED says it has ended already.
        if (!(event->mask & IN_IGNORED)) ::inotify_rm_watch(FInotify, event->wd);
        notice.FolderGone = true;
      } else if (event->len > 0) {
        notice.Name = event->name;
      }
      AOnNotice(notice);
    }
  }
}

void TDirectoryWatch::Stop() {
  const uint64_t one = 1;
  while (::write(FStop, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

}  // namespace zor
