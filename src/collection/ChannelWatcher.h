#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "evtx/ChannelStore.h"
#include "platform/DirectoryWatch.h"

namespace zor {

// Watches the files of some channels of an event log store and calls AOnChange
// (on its own thread) whenever one of them may have new records: written to,
// replaced, created. It watches the folders with inotify; a folder that cannot
// be watched (missing, no inotify) is polled instead, comparing each channel
// file's identity, size and modification time, and re-tried for inotify at
// every poll. Spurious calls are possible; a missed change is not.
//
// The watches are in place when the constructor returns, so a change made
// after construction is always reported. The destructor stops and joins the
// thread; AOnChange is never called after it returns. Owned by one
// subscription; not copyable.
class TChannelWatcher {
 public:
  struct TOptions {
    bool UseInotify = true;
    // How often files are compared when a folder is polled.
    std::chrono::milliseconds PollInterval{1000};
    // How often files are compared anyway while inotify watches everything:
    // a safety net for file systems that do not report every change.
    std::chrono::milliseconds SafetyInterval{5000};
  };

  // Throws EPlatformError when the stop descriptor cannot be created (and
  // std::system_error when the thread cannot); an inotify failure only falls
  // back to polling.
  TChannelWatcher(TChannelStore AStore, std::vector<std::string> AChannels, std::function<void()> AOnChange,
                  TOptions AOptions);
  TChannelWatcher(TChannelStore AStore, std::vector<std::string> AChannels, std::function<void()> AOnChange)
      : TChannelWatcher(std::move(AStore), std::move(AChannels), std::move(AOnChange), TOptions{}) {}
  ~TChannelWatcher();
  TChannelWatcher(const TChannelWatcher&) = delete;
  TChannelWatcher& operator=(const TChannelWatcher&) = delete;

  // True while every watched folder has an inotify watch (for tests).
  bool Watching() const { return FAllWatched.load(); }

 private:
  struct TTarget {
    std::string Channel;
    std::string Directory;  // folder that holds (or will hold) the file
    std::string Name;       // lower-case file name to match; empty: any .evtx/.xml of the stem
    std::string Stem;       // lower-case stem for root channels
    std::string Signature;  // identity, size and time when last compared
  };
  struct TDirectory {
    std::string Path;
    int Watch = -1;
  };

  void Run();
  void AddWatches();
  bool NameMatches(const std::string& ADirectory, const std::string& AName) const;
  bool CompareSignatures();
  void HandleNotices();

  const TChannelStore FStore;
  const std::function<void()> FOnChange;
  const TOptions FOptions;
  std::vector<TTarget> FTargets;        // thread-owned after construction
  std::vector<TDirectory> FDirectories;  // thread-owned after construction
  TDirectoryWatch FWatch;  // the destructor stops it, which ends the thread
  std::atomic<bool> FAllWatched{false};
  std::thread FThread;
};

}  // namespace zor
