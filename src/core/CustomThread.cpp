#include "core/CustomThread.h"

#include <future>
#include <system_error>

#include "platform/MessageQueue.h"
#include "platform/ThreadId.h"

namespace zor {

TCustomThread::TCustomThread() = default;

TCustomThread::~TCustomThread() {
  (void)ThreadStop(false, INFINITE);
  // Waiting here is what keeps the events (and this object) alive for as long
  // as the thread procedure runs; see the header.
  ReleaseThread();
}

bool TCustomThread::ThreadStart(bool AWaitTillStarted, uint32_t AMilliseconds) {
  if (Started()) return false;
  try {
    FFinishedEvent = std::make_unique<TEvent>();
    FShouldFinishEvent = std::make_unique<TEvent>();
    FStartedEvent = std::make_unique<TEvent>();
  } catch (const std::exception&) {
    FFinishedEvent.reset();
    FShouldFinishEvent.reset();
    FStartedEvent.reset();
    return false;
  }
  (void)BeforeThreadStart(AWaitTillStarted);
  SetTerminated(false);

  // The OS id is only known on the new thread: it hands it back before it
  // runs the body, so ThreadStop can always post its quit message.
  std::promise<uint32_t> idPromise;
  std::future<uint32_t> idFuture = idPromise.get_future();
  try {
    FThreadHandle = std::thread([this, promise = std::move(idPromise)]() mutable {
      promise.set_value(GetCurrentThreadId());
      ThreadProc();
    });
  } catch (const std::system_error&) {
    FThreadId = 0;
    FFinishedEvent.reset();
    FShouldFinishEvent.reset();
    FStartedEvent.reset();
    SetTerminated(true);
    return false;
  }
  FThreadId = idFuture.get();
  {
    TCriticalSectionGuard guard(FCriticalSection);
    FStarted = true;
  }
  if (AWaitTillStarted) (void)FStartedEvent->WaitFor(AMilliseconds);
  (void)AfterThreadStart();
  return true;
}

void TCustomThread::ThreadProc() {
  (void)Execute();
  // The events stay in place until this procedure has returned (ThreadStop
  // and the destructor join the thread before releasing them).
  if (FFinishedEvent) FFinishedEvent->Set();
}

bool TCustomThread::ThreadStop(bool AWaitTillFinished, uint32_t AMilliseconds) {
  const bool result = BeforeThreadStop(false);
  if (!FFinishedEvent || FThreadId == 0) return result;

  SetTerminated(true);
  FShouldFinishEvent->Set();
  (void)PostThreadMessage(FThreadId, WM_QUIT);
  if (!AWaitTillFinished) return result;

  const bool finished = FFinishedEvent->WaitFor(AMilliseconds);
  // After a timed-out wait the body may still be waiting on the events, so
  // they stay; a later ThreadStop (or the destructor) releases them.
  if (finished) ReleaseThread();
  (void)AfterThreadStop();
  return finished;
}

void TCustomThread::ReleaseThread() {
  if (FThreadHandle.joinable()) FThreadHandle.join();
  FFinishedEvent.reset();
  FShouldFinishEvent.reset();
  FStartedEvent.reset();
}

bool TCustomThread::Terminated() const {
  TCriticalSectionGuard guard(FCriticalSection);
  return FTerminated;
}

void TCustomThread::SetTerminated(bool AValue) {
  TCriticalSectionGuard guard(FCriticalSection);
  FTerminated = AValue;
}

bool TCustomThread::Started() const {
  TCriticalSectionGuard guard(FCriticalSection);
  return FStarted;
}

}  // namespace zor
