#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/ThreadAnnotations.h"

namespace zor {

class TAckBatch;

// How far one reader's records have been taken by every receiver. The reader
// opens one batch per set of records it hands on, in read order, each with
// the position after its last record (an opaque text: the bookmark). Batches
// complete in any order, as their items are acknowledged across processing
// threads and senders; the acknowledged position is that of the last batch
// before which every batch is complete, so it never passes a record that
// some receiver has not taken.
//
// The window also counts the records its acknowledged position passed since
// the position was last taken, and sets its save signal once they reach the
// save threshold, so that whoever saves positions can save a busy reader's
// position after about one batch instead of waiting for its next round. The
// records of a position taken count as unsaved until its save ended, so that
// the reader can be held back while its saved position lags (SaveLags), and
// the window's saved signal tells such a reader when to look again.
//
// Cost: one lock per batch opened and one per batch completed; nothing per
// item (TAckBatch counts its items with an atomic).
//
// Ownership: shared (std::shared_ptr) by its owner (TBookmarkKeeper) and by
// every batch still open, which may outlive the reader that opened it (items
// put back in a queue at a reconfiguration). Threads: every method may be
// called from any thread.
class TAckWindow : public std::enable_shared_from_this<TAckWindow> {
 public:
  TAckWindow() = default;
  TAckWindow(const TAckWindow&) = delete;
  TAckWindow& operator=(const TAckWindow&) = delete;

  // Opens the batch after every batch opened so far. APosition is the
  // position after its last record; empty means the batch moves no position
  // (it still holds back the batches after it). The batch starts with one
  // item outstanding: its producer's hold (see TAckBatch).
  // ARecordId is the record id of that position, for the figure of
  // SetAcknowledgedIdSink; ARecords the number of records the batch stands
  // for (read ones, handed on or excluded), for the save threshold.
  [[nodiscard]] std::shared_ptr<TAckBatch> Open(std::string APosition, uint64_t ARecordId = 0, size_t ARecords = 1);
  // Where the record id of the acknowledged position is stored whenever it
  // moves (a reader's counter; null: nowhere).
  void SetAcknowledgedIdSink(std::shared_ptr<std::atomic<uint64_t>> ASink);

  // Sets ASignal whenever the records passed by the acknowledged position
  // since the last TakeAcknowledged reach ARecords (at least 1). ASignal must
  // stay alive until it is replaced (null: no signal).
  void SetSaveSignal(TEvent* ASignal, size_t ARecords);
  // True while the records passed since the last TakeAcknowledged reach the
  // save threshold.
  [[nodiscard]] bool SaveDue() const;
  // True while a save signal is set and the records acknowledged but not yet
  // saved (passed since the last TakeAcknowledged, and those of the position
  // taken then until SaveEnded) reach ABatches times the save threshold.
  [[nodiscard]] bool SaveLags(size_t ABatches) const;
  // Set whenever a save ends (SaveEnded), so that a reader waiting for it
  // goes on at once. The window owns it; it lives as long as the window.
  [[nodiscard]] TEvent& SavedSignal() const { return FSavedSignal; }

  // The position of the last batch opened with one; empty when none was.
  [[nodiscard]] std::string ReadPosition() const;
  // The acknowledged position (empty while none is known).
  [[nodiscard]] std::string Acknowledged() const;
  // The acknowledged position when it changed since the last call; else
  // nothing. Restarts the count of the save threshold; the records counted
  // so far stay unsaved until SaveEnded.
  [[nodiscard]] std::optional<std::string> TakeAcknowledged();
  // The position last taken was written, or could not be (logged by the
  // saver): its records no longer hold the reader back, as a disk that fails
  // must not stop forwarding.
  void SaveEnded();
  // Batches opened and not yet passed by the acknowledged position.
  [[nodiscard]] size_t PendingBatches() const;
  // The records of those batches (as Open was told).
  [[nodiscard]] size_t PendingRecords() const;

 private:
  friend class TAckBatch;
  struct TSlot {
    std::string Position;
    uint64_t RecordId = 0;
    size_t Records = 0;
    bool Complete = false;
  };
  // Called once per batch, by the thread that took its last item.
  void Complete(uint64_t ASequence);

  mutable TCriticalSection FLock;
  // The open batches from FFirstSequence on, in the order opened.
  std::deque<TSlot> FSlots GUARDED_BY(FLock);
  uint64_t FFirstSequence GUARDED_BY(FLock) = 0;
  size_t FPendingRecords GUARDED_BY(FLock) = 0;
  std::string FReadPosition GUARDED_BY(FLock);
  std::string FAcknowledged GUARDED_BY(FLock);
  bool FChanged GUARDED_BY(FLock) = false;
  std::shared_ptr<std::atomic<uint64_t>> FAcknowledgedIdSink GUARDED_BY(FLock);
  // Records passed since the last TakeAcknowledged, and when to signal.
  size_t FUnsavedRecords GUARDED_BY(FLock) = 0;
  // Records passed up to the position taken last, until its save ended.
  size_t FSavingRecords GUARDED_BY(FLock) = 0;
  size_t FSaveAfterRecords GUARDED_BY(FLock) = 1;
  TEvent* FSaveSignal GUARDED_BY(FLock) = nullptr;
  mutable TEvent FSavedSignal;
};

}  // namespace zor
