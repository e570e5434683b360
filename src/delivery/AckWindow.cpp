#include "delivery/AckWindow.h"

#include "delivery/AckBatch.h"
#include "platform/Event.h"

#include <algorithm>
#include <cassert>
#include <utility>


namespace zor {

std::shared_ptr<TAckBatch> TAckWindow::Open(std::string APosition, uint64_t ARecordId, size_t ARecords) {
  uint64_t sequence = 0;
  {
    TCriticalSectionGuard guard(FLock);
    sequence = FFirstSequence + FSlots.size();
    if (!APosition.empty()) FReadPosition = APosition;
    FSlots.push_back(TSlot{std::move(APosition), ARecordId, ARecords, false});
    FPendingRecords += ARecords;
  }
  return std::make_shared<TAckBatch>(shared_from_this(), sequence);
}

void TAckWindow::Complete(uint64_t ASequence) {
  TCriticalSectionGuard guard(FLock);
  assert(ASequence >= FFirstSequence && ASequence - FFirstSequence < FSlots.size());
  FSlots[ASequence - FFirstSequence].Complete = true;
  // Only the batch at the head moves the position, past every complete one
  // behind it.
  const size_t unsavedBefore = FUnsavedRecords;
  while (!FSlots.empty() && FSlots.front().Complete) {
    FUnsavedRecords += FSlots.front().Records;
    FPendingRecords -= FSlots.front().Records;
    if (!FSlots.front().Position.empty()) {
      FAcknowledged = std::move(FSlots.front().Position);
      FChanged = true;
      if (FAcknowledgedIdSink) FAcknowledgedIdSink->store(FSlots.front().RecordId, std::memory_order_relaxed);
    }
    FSlots.pop_front();
    ++FFirstSequence;
  }
  // Signalled once per crossing; the event's own lock nests inside ours.
  if (FSaveSignal != nullptr && unsavedBefore < FSaveAfterRecords && FUnsavedRecords >= FSaveAfterRecords)
    FSaveSignal->Set();
}

void TAckWindow::SetSaveSignal(TEvent* ASignal, size_t ARecords) {
  TCriticalSectionGuard guard(FLock);
  FSaveSignal = ASignal;
  FSaveAfterRecords = std::max<size_t>(ARecords, 1);
  if (FSaveSignal != nullptr && FUnsavedRecords >= FSaveAfterRecords) FSaveSignal->Set();
}

bool TAckWindow::SaveDue() const {
  TCriticalSectionGuard guard(FLock);
  return FUnsavedRecords >= FSaveAfterRecords;
}

bool TAckWindow::SaveLags(size_t ABatches) const {
  TCriticalSectionGuard guard(FLock);
  return FSaveSignal != nullptr && FUnsavedRecords + FSavingRecords >= ABatches * FSaveAfterRecords;
}

void TAckWindow::SaveEnded() {
  {
    TCriticalSectionGuard guard(FLock);
    FSavingRecords = 0;
  }
  FSavedSignal.Set();
}

void TAckWindow::SetAcknowledgedIdSink(std::shared_ptr<std::atomic<uint64_t>> ASink) {
  TCriticalSectionGuard guard(FLock);
  FAcknowledgedIdSink = std::move(ASink);
}

std::string TAckWindow::ReadPosition() const {
  TCriticalSectionGuard guard(FLock);
  return FReadPosition;
}

std::string TAckWindow::Acknowledged() const {
  TCriticalSectionGuard guard(FLock);
  return FAcknowledged;
}

std::optional<std::string> TAckWindow::TakeAcknowledged() {
  TCriticalSectionGuard guard(FLock);
  FSavingRecords += FUnsavedRecords;
  FUnsavedRecords = 0;
  if (!FChanged) return std::nullopt;
  FChanged = false;
  return FAcknowledged;
}

size_t TAckWindow::PendingBatches() const {
  TCriticalSectionGuard guard(FLock);
  return FSlots.size();
}

size_t TAckWindow::PendingRecords() const {
  TCriticalSectionGuard guard(FLock);
  return FPendingRecords;
}

}  // namespace zor
