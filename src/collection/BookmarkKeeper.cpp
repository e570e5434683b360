#include "collection/BookmarkKeeper.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <vector>

#include "support/Log.h"

namespace zor {

TBookmarkKeeper::TBookmarkKeeper(uint32_t AIntervalMilliseconds)
    : FIntervalMilliseconds(AIntervalMilliseconds), FSaveDueEvent(std::make_unique<TEvent>()) {}

TBookmarkKeeper::~TBookmarkKeeper() {
  (void)ThreadStop(true, INFINITE);
  SaveAll();
  // Batches still on their way may outlive the keeper, and their windows
  // with them: none may signal the event once it is gone.
  TCriticalSectionGuard guard(FEntriesLock);
  for (const auto& [name, entry] : FEntries) entry->Window->SetSaveSignal(nullptr, 1);
}

std::shared_ptr<TAckWindow> TBookmarkKeeper::WindowOf(const TBookmarkFile& AFile, size_t ASaveAfterRecords) {
  TCriticalSectionGuard guard(FEntriesLock);
  std::shared_ptr<TEntry>& entry = FEntries[AFile.FileName().string()];
  if (!entry) entry = std::make_shared<TEntry>(TEntry{AFile, std::make_shared<TAckWindow>(), std::nullopt});
  // A reader started again may come with another batch size.
  entry->Window->SetSaveSignal(FSaveDueEvent.get(), ASaveAfterRecords);
  return entry->Window;
}

void TBookmarkKeeper::SaveAll() { Save(false); }

void TBookmarkKeeper::SaveDue() { Save(true); }

void TBookmarkKeeper::Save(bool AOnlyDue) {
  std::vector<std::shared_ptr<TEntry>> entries;
  {
    TCriticalSectionGuard guard(FEntriesLock);
    entries.reserve(FEntries.size());
    for (const auto& [name, entry] : FEntries) entries.push_back(entry);
  }
  TCriticalSectionGuard guard(FSaveLock);
  for (const std::shared_ptr<TEntry>& entry : entries) {
    if (AOnlyDue && !entry->Window->SaveDue()) continue;
    if (std::optional<std::string> position = entry->Window->TakeAcknowledged()) entry->Unsaved = std::move(position);
    // The reader waiting for this save goes on once a kill would leave the
    // new position, without waiting for the folder's flush as well.
    bool ended = false;
    const auto end = [&] {
      if (ended) return;
      ended = true;
      entry->Window->SaveEnded();
    };
    if (entry->Unsaved) {
      try {
        entry->File.Save(*entry->Unsaved, end);
        entry->Unsaved.reset();
      } catch (const std::exception& e) {
        LogError("[Bookmarks] Position not saved: %s", e.what());
      }
    }
    end();
  }
}

bool TBookmarkKeeper::Execute() {
  using TClock = std::chrono::steady_clock;
  const auto interval = std::chrono::milliseconds(FIntervalMilliseconds);
  TClock::time_point nextRound = TClock::now() + interval;
  for (;;) {
    // Saves that come due do not move the round: every position that moved
    // is still saved once per interval.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(std::max(nextRound - TClock::now(), TClock::duration::zero()));
    const uint32_t signalled = WaitForAny({FShouldFinishEvent.get(), FSaveDueEvent.get()},
                                          static_cast<uint32_t>(std::min<int64_t>(left.count(), INFINITE - 1)));
    if (signalled == 0) break;
    if (signalled == 1) {
      // Reset before saving: a window that comes due meanwhile sets it again.
      FSaveDueEvent->Reset();
      SaveDue();
    } else if (signalled == WAIT_TIMEOUT) {
      SaveAll();
      nextRound = TClock::now() + interval;
    }
  }
  return true;
}

}  // namespace zor
