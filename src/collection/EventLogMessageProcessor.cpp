#include "collection/EventLogMessageProcessor.h"

#include <algorithm>
#include <utility>

#include "platform/CriticalSection.h"
#include "support/Log.h"

namespace zor {

TEventLogMessageProcessor::TEventLogMessageProcessor(int32_t AProcessingThreadCount)
    : FMaxQueuedBatches(static_cast<size_t>(std::max(AProcessingThreadCount, 1)) * 2 + 2),
      FMaxReaderBatches(static_cast<size_t>(std::max(AProcessingThreadCount, 1)) + 1),
      FMessageQueue(std::make_unique<TProcessingBatchQueue>()),
      FOutboundSyslogQueue(std::make_unique<TSyslogMessageQueue>()),
      FOutboundBeatQueue(std::make_unique<TLogBeatQueue>()) {
  if (!FBookmarks.ThreadStart(false, INFINITE)) LogError("[Bookmarks] Could not be started");
  TCriticalSectionGuard guard(FCriticalSection);
  for (int32_t index = 0; index < AProcessingThreadCount; ++index) {
    auto thread = std::make_unique<TProcessingThread>(index, FMessageQueue.get(), FOutboundSyslogQueue.get(),
                                                      FOutboundBeatQueue.get(), &FSequencer, &FCounters);
    if (!thread->ThreadStart(false, INFINITE)) LogError("[ProcessingThread %d] Could not be started", index);
    FThreads.push_back(std::move(thread));
  }
}

TEventLogMessageProcessor::~TEventLogMessageProcessor() {
  std::vector<std::unique_ptr<TProcessingThread>> threads;
  {
    TCriticalSectionGuard guard(FCriticalSection);
    threads.swap(FThreads);
  }
  // Tell every thread first, so that they finish side by side; then wait for
  // each before the queues they use go.
  for (auto& thread : threads) (void)thread->ThreadStop(false, INFINITE);
  for (auto& thread : threads) (void)thread->ThreadStop(true, INFINITE);
  threads.clear();
}

int32_t TEventLogMessageProcessor::ThreadCount() const {
  TCriticalSectionGuard guard(FCriticalSection);
  return static_cast<int32_t>(FThreads.size());
}

void TEventLogMessageProcessor::SetSyslogBacklogProbe(TBacklogProbe AProbe) {
  TCriticalSectionGuard guard(FCriticalSection);
  FSyslogBacklogProbe = std::move(AProbe);
}

void TEventLogMessageProcessor::SetFlushCount(size_t ACount) {
  TCriticalSectionGuard guard(FCriticalSection);
  FFlushCount = ACount;
}

bool TEventLogMessageProcessor::HasRoom(const TAckWindow* AWindow) {
  if (FMessageQueue->Count() >= FMaxQueuedBatches) return false;
  TCriticalSectionGuard guard(FCriticalSection);
  if (AWindow != nullptr && ((AWindow->PendingBatches() >= FMaxReaderBatches &&
                              AWindow->PendingRecords() >= FFlushCount) ||
                             AWindow->SaveLags(MaxUnsavedBatches)))
    return false;
  return !FSyslogBacklogProbe || FSyslogBacklogProbe() < MaxSyslogBacklog;
}

bool TEventLogMessageProcessor::WaitForRoom(TEvent& AAbort, const TAckWindow* AWindow) {
  // Short naps: the backlog drains at network speed, and a reader that waits
  // holds nothing but its own position. The end of a save of the reader's
  // position wakes it at once (reset before the look, so that no save ending
  // after it is missed): a save takes about as long as a nap, and a reader
  // that waited for one nap per save would forward at the pace of naps.
  // (Waking it on every batch taken as well cost more than it gained.)
  while (!HasRoom(AWindow)) {
    if (AWindow == nullptr) {
      if (AAbort.WaitFor(5)) return false;
      continue;
    }
    AWindow->SavedSignal().Reset();
    if (HasRoom(AWindow)) break;
    if (WaitForAny({&AAbort, &AWindow->SavedSignal()}, 5) == 0) return false;
  }
  return true;
}

}  // namespace zor
