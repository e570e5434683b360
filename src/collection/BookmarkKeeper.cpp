#include "collection/BookmarkKeeper.h"

#include <exception>
#include <vector>

#include "support/Log.h"

namespace zor {

TBookmarkKeeper::TBookmarkKeeper(uint32_t AIntervalMilliseconds) : FIntervalMilliseconds(AIntervalMilliseconds) {}

TBookmarkKeeper::~TBookmarkKeeper() {
  (void)ThreadStop(true, INFINITE);
  SaveAll();
}

std::shared_ptr<TAckWindow> TBookmarkKeeper::WindowOf(const TBookmarkFile& AFile) {
  TCriticalSectionGuard guard(FEntriesLock);
  std::shared_ptr<TEntry>& entry = FEntries[AFile.FileName().string()];
  if (!entry) entry = std::make_shared<TEntry>(TEntry{AFile, std::make_shared<TAckWindow>(), std::nullopt});
  return entry->Window;
}

void TBookmarkKeeper::SaveAll() {
  std::vector<std::shared_ptr<TEntry>> entries;
  {
    TCriticalSectionGuard guard(FEntriesLock);
    entries.reserve(FEntries.size());
    for (const auto& [name, entry] : FEntries) entries.push_back(entry);
  }
  TCriticalSectionGuard guard(FSaveLock);
  for (const std::shared_ptr<TEntry>& entry : entries) {
    if (std::optional<std::string> position = entry->Window->TakeAcknowledged()) entry->Unsaved = std::move(position);
    if (!entry->Unsaved) continue;
    try {
      entry->File.Save(*entry->Unsaved);
      entry->Unsaved.reset();
    } catch (const std::exception& e) {
      LogError("[Bookmarks] Position not saved: %s", e.what());
    }
  }
}

bool TBookmarkKeeper::Execute() {
  for (;;) {
    const uint32_t signalled = WaitForAny({FShouldFinishEvent.get()}, FIntervalMilliseconds);
    if (signalled == 0) break;
    if (signalled != WAIT_TIMEOUT) continue;
    SaveAll();
  }
  return true;
}

}  // namespace zor
