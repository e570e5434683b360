#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "collection/BookmarkFile.h"
#include "core/CustomThread.h"
#include "delivery/AckWindow.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/ThreadAnnotations.h"

namespace zor {

// Keeps every reader's position as far as its receivers have taken its
// records, and writes it to the reader's bookmark file: each reader has one
// TAckWindow (keyed by its bookmark file), which its subscriber opens a batch
// in for every set of records it hands on. The keeper's thread saves each
// position that moved once per interval (a second in the service), and a
// reader's position as soon as about one batch of its records was taken
// since its last save (the window's save signal), so that a crash sends
// again little more than a batch per reader; SaveAll saves at once (at
// shut-down, once the senders have stopped). Saves that come due while one
// is written are folded into the next, so a slow disk bounds the rate of
// saves instead of queueing them.
// A position not yet acknowledged is never written, so a bookmark file that
// could not be read stays as it was until the reader has a new position.
//
// A window lives as long as the keeper: a reader started again after a
// reconfiguration resumes where the previous one read (ReadPosition), while
// the batches that one handed on still complete in the same window.
//
// Ownership: the keeper owns its windows (shared with their open batches)
// and a copy of each bookmark file's name. Threads: WindowOf and SaveAll may
// be called from any thread; the keeper's thread only saves. The destructor
// stops the thread and saves what is still unsaved.
class TBookmarkKeeper : public TCustomThread {
 public:
  explicit TBookmarkKeeper(uint32_t AIntervalMilliseconds = 1000);
  ~TBookmarkKeeper() override;

  // The window of the reader whose bookmark is AFile; created on first use.
  // Its position is saved early once ASaveAfterRecords records (the reader's
  // batch size) were taken since its last save.
  [[nodiscard]] std::shared_ptr<TAckWindow> WindowOf(const TBookmarkFile& AFile, size_t ASaveAfterRecords);
  // Saves every position that moved since its last save. Failures are
  // logged; the position is tried again at the next save.
  void SaveAll();
  // Saves every position whose window says a save is due (TAckWindow::SaveDue).
  void SaveDue();

 protected:
  bool Execute() override;

 private:
  struct TEntry {
    TBookmarkFile File;
    std::shared_ptr<TAckWindow> Window;
    // Acknowledged but not yet written (a failed save is tried again).
    std::optional<std::string> Unsaved;
  };
  // Saves the entries' moved positions; with AOnlyDue those whose save is due.
  void Save(bool AOnlyDue);

  const uint32_t FIntervalMilliseconds;
  // Set by the windows when a save is due; the keeper's thread resets it.
  const std::unique_ptr<TEvent> FSaveDueEvent;
  TCriticalSection FEntriesLock;
  std::map<std::string, std::shared_ptr<TEntry>> FEntries GUARDED_BY(FEntriesLock);
  // One save at a time, so that an older position never overwrites a newer.
  TCriticalSection FSaveLock;
};

}  // namespace zor
