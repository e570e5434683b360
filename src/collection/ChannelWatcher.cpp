#include "collection/ChannelWatcher.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace zor {

namespace {

std::string Lower(std::string AText) {
  std::transform(AText.begin(), AText.end(), AText.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return AText;
}

constexpr uint32_t WatchMask =
    IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

TChannelWatcher::TChannelWatcher(TChannelStore AStore, std::vector<std::string> AChannels,
                                 std::function<void()> AOnChange, TOptions AOptions)
    : FStore(std::move(AStore)), FOnChange(std::move(AOnChange)), FOptions(AOptions) {
  for (std::string& channel : AChannels) {
    TTarget target;
    if (!channel.empty() && channel.front() == '/') {
      const std::filesystem::path file(channel);
      target.Directory = file.parent_path().string();
      target.Name = Lower(file.filename().string());
    } else {
      target.Directory = FStore.Root().string();
      target.Stem = Lower(TChannelStore::FileStem(channel));
    }
    if (std::none_of(FDirectories.begin(), FDirectories.end(),
                     [&](const TDirectory& d) { return d.Path == target.Directory; }))
      FDirectories.push_back({target.Directory, -1});
    target.Channel = std::move(channel);
    FTargets.push_back(std::move(target));
  }
  FStop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (FStop < 0) throw EZorError(std::string("eventfd failed: ") + std::strerror(errno));
  if (FOptions.UseInotify) FInotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  AddWatches();
  (void)CompareSignatures();
  try {
    FThread = std::thread([this] { Run(); });
  } catch (...) {
    ::close(FStop);
    if (FInotify >= 0) ::close(FInotify);
    throw;
  }
}

TChannelWatcher::~TChannelWatcher() {
  const uint64_t one = 1;
  while (::write(FStop, &one, sizeof one) < 0 && errno == EINTR) {
  }
  FThread.join();
  ::close(FStop);
  if (FInotify >= 0) ::close(FInotify);
}

void TChannelWatcher::AddWatches() {
  bool all = true;
  for (TDirectory& directory : FDirectories) {
    if (directory.Watch < 0 && FInotify >= 0) directory.Watch = ::inotify_add_watch(FInotify, directory.Path.c_str(), WatchMask);
    all = all && directory.Watch >= 0;
  }
  FAllWatched.store(all);
}

bool TChannelWatcher::NameMatches(const std::string& ADirectory, const std::string& AName) const {
  const std::string name = Lower(AName);
  for (const TTarget& target : FTargets) {
    if (target.Directory != ADirectory) continue;
    if (!target.Name.empty() ? name == target.Name : (name == target.Stem + ".evtx" || name == target.Stem + ".xml"))
      return true;
  }
  return false;
}

bool TChannelWatcher::CompareSignatures() {
  bool changed = false;
  for (TTarget& target : FTargets) {
    std::string signature;
    try {
      const TChannelStore::TLocation location = FStore.Locate(target.Channel);
      struct stat info {};
      if (location.Exists && ::stat(location.File.c_str(), &info) == 0)
        signature = location.File.string() + '|' + std::to_string(info.st_dev) + '|' + std::to_string(info.st_ino) +
                    '|' + std::to_string(info.st_size) + '|' + std::to_string(info.st_mtim.tv_sec) + '.' +
                    std::to_string(info.st_mtim.tv_nsec);
    } catch (const EZorError&) {
      // A name the store rejects never gets a file: nothing to compare.
    }
    if (signature != target.Signature) {
      target.Signature = std::move(signature);
      changed = true;
    }
  }
  return changed;
}

void TChannelWatcher::HandleInotify() {
  alignas(struct inotify_event) char buffer[16 * 1024];
  bool changed = false;
  while (true) {
    const ssize_t got = ::read(FInotify, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(struct inotify_event)) <= got;) {
      const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        changed = true;
        continue;
      }
      const auto directory = std::find_if(FDirectories.begin(), FDirectories.end(),
                                          [&](const TDirectory& d) { return d.Watch == event->wd; });
      if (directory == FDirectories.end()) continue;
      if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
        // The folder went away: poll until it is back, then watch it again.
        if (!(event->mask & IN_IGNORED)) ::inotify_rm_watch(FInotify, directory->Watch);
        directory->Watch = -1;
        FAllWatched.store(false);
        changed = true;
        continue;
      }
      if (event->len > 0 && NameMatches(directory->Path, std::string(event->name))) changed = true;
    }
  }
  if (changed) FOnChange();
}

void TChannelWatcher::Run() {
  while (true) {
    struct pollfd fds[2] = {{FStop, POLLIN, 0}, {FInotify, POLLIN, 0}};
    const nfds_t count = FInotify >= 0 ? 2 : 1;
    const auto interval = FAllWatched.load() ? FOptions.SafetyInterval : FOptions.PollInterval;
    const int ready = ::poll(fds, count, static_cast<int>(interval.count()));
    if (ready < 0 && errno != EINTR) return;
    if (ready > 0 && (fds[0].revents & POLLIN)) return;
    if (ready > 0 && count == 2 && (fds[1].revents & POLLIN)) {
      HandleInotify();
      continue;
    }
    if (ready != 0) continue;
    const bool wasWatched = FAllWatched.load();
    AddWatches();
    const bool newlyWatched = !wasWatched && FAllWatched.load();
    if (CompareSignatures() || newlyWatched) FOnChange();
  }
}

}  // namespace zor
