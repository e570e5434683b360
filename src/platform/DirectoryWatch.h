#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace zor {

// Change notices for folders (inotify) and a stop request, waited for
// together. Watches report files created, written, closed after writing,
// moved in or changed in their attributes, and the folder itself going away.
//
// Threads: Stop may be called from any thread; everything else from the one
// thread that waits. Not copyable.
class TDirectoryWatch {
 public:
  // One notice. Name is the file's name inside the watched folder (empty for
  // notices about the folder itself).
  struct TNotice {
    int Watch = -1;
    std::string Name;
    bool Overflow = false;  // notices were lost: anything may have changed
    bool FolderGone = false;  // the folder was removed or moved: its watch has ended
  };
  enum class TWaitResult : uint8_t { wrStop = 0, wrNotices = 1, wrTimeout = 2 };

  // AUseInotify false (or a system without inotify) gives no watches: Add
  // then always fails and only Stop and time-outs end a wait. Throws
  // EPlatformError when the stop descriptor cannot be created.
  explicit TDirectoryWatch(bool AUseInotify);
  ~TDirectoryWatch();
  TDirectoryWatch(const TDirectoryWatch&) = delete;
  TDirectoryWatch& operator=(const TDirectoryWatch&) = delete;

  // Watches AFolder; its watch number, or -1 when it cannot be watched
  // (missing, no inotify, out of watches).
  [[nodiscard]] int Add(const std::string& AFolder);
  // Ends a watch that Add gave and that has not ended by itself.
  void Remove(int AWatch);

  // Waits until Stop was called, notices are waiting, or ATimeout passes.
  [[nodiscard]] TWaitResult Wait(std::chrono::milliseconds ATimeout);
  // Hands every waiting notice to AOnNotice, without waiting.
  void ReadNotices(const std::function<void(const TNotice&)>& AOnNotice);
  // Makes every Wait from now on return wrStop.
  void Stop();

 private:
  int FInotify = -1;
  int FStop = -1;  // eventfd, readable once Stop was called
};

}  // namespace zor
