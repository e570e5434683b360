#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <thread>

#include "platform/CriticalSection.h"
#include "platform/Event.h"

namespace zor {

// Base of every worker thread of the service.
//
// Life: created -> started (ThreadStart true) -> told to finish (ThreadStop
// signals FShouldFinishEvent and posts WM_QUIT to the thread) -> finished (the
// body returned; FFinishedEvent signalled) -> stopped (a waiting ThreadStop
// saw it finish and released the thread and its events) -> freed. An object
// runs its thread at most once.
//
// Execute is the body. It follows one pattern: WaitForAny({FShouldFinishEvent,
// work events...}, timeout); index 0 leaves the loop; a work event is reset,
// drained in one call and processed outside the lock; every error is caught
// and logged inside the loop. The base catches nothing: an exception that
// escapes a body ends the process.
//
// Threads: ThreadStart and ThreadStop are called by the one owner, never at
// the same time. Terminated, SetTerminated and Started may be called from any
// thread (they take the object's lock). The body reads the events, which stay
// in place for as long as it runs.
//
// Lifetime -- the object must outlive its thread. A body uses the derived
// object's members, and by the time ~TCustomThread runs those are gone. So:
//  * the owner stops a worker with waiting (ThreadStop(true, ...)) before
//    freeing it; and a derived class with its own body or stop hooks calls
//    ThreadStop(true, INFINITE) first thing in its own destructor (C++ runs a
//    base destructor's virtual calls against the base, so BeforeThreadStop
//    overrides are not reached from ~TCustomThread);
//  * a ThreadStop whose wait times out releases nothing -- the body may still
//    be using the events -- and reports false; the owner parks the object and
//    frees it later, when a further ThreadStop(true, ...) returns true;
//  * ~TCustomThread tells the thread to finish, as ThreadStop(false, INFINITE)
//    does, and then waits for the thread procedure to return before it frees
//    the events. It never frees them under a running thread; a body that
//    ignores FShouldFinishEvent therefore blocks the destructor.
class TCustomThread {
 public:
  TCustomThread();
  virtual ~TCustomThread();
  TCustomThread(const TCustomThread&) = delete;
  TCustomThread& operator=(const TCustomThread&) = delete;

  // Creates and starts the thread. With AWaitTillStarted, waits up to
  // AMilliseconds (INFINITE: no limit) for the body to signal FStartedEvent.
  // False when the object was started before or the thread could not be
  // created (the object is then marked terminated).
  [[nodiscard]] bool ThreadStart(bool AWaitTillStarted, uint32_t AMilliseconds);

  // Tells the thread to finish. Without AWaitTillFinished it returns at once
  // with the result of BeforeThreadStop, and a later call signals again. With
  // it, waits up to AMilliseconds: true when the thread finished (the thread
  // and its events are released), false when the time ran out (nothing is
  // released). On an object not running: no signal, no wait, the result of
  // BeforeThreadStop.
  [[nodiscard]] bool ThreadStop(bool AWaitTillFinished, uint32_t AMilliseconds);

  [[nodiscard]] bool Terminated() const EXCLUDES(FCriticalSection);
  void SetTerminated(bool AValue) EXCLUDES(FCriticalSection);
  // Set once the thread was created; never cleared.
  [[nodiscard]] bool Started() const EXCLUDES(FCriticalSection);
  // The thread's OS identifier; 0 before a successful start.
  [[nodiscard]] uint32_t ThreadId() const { return FThreadId.load(); }

  void Lock() ACQUIRE(FCriticalSection) { FCriticalSection.Enter(); }
  void Unlock() RELEASE(FCriticalSection) { FCriticalSection.Leave(); }

 protected:
  // The thread body. Runs on the new thread.
  virtual bool Execute() { return true; }
  // Called by ThreadStart before the thread is created; result not used.
  virtual bool BeforeThreadStart(bool AWaitTillStarted) {
    (void)AWaitTillStarted;
    return true;
  }
  // Called by ThreadStart after the thread was created; result not used.
  virtual bool AfterThreadStart() { return true; }
  // Called first by ThreadStop, always with false, whatever the caller asked:
  // registries that stop their senders here never wait for them.
  virtual bool BeforeThreadStop(bool AWaitTillFinished) {
    (void)AWaitTillFinished;
    return true;
  }
  // Called by a waiting ThreadStop after the wait, finished or not.
  virtual bool AfterThreadStop() { return true; }
  // For subclasses that report FException; the base never sets it.
  virtual void HandleException() {}

  // Created by ThreadStart; released only by a ThreadStop that saw the thread
  // finish, or by the destructor after the thread ended. A body may signal
  // FFinishedEvent itself as its last act, and FStartedEvent when its starter
  // waits for it.
  std::unique_ptr<TEvent> FFinishedEvent;
  std::unique_ptr<TEvent> FShouldFinishEvent;
  std::unique_ptr<TEvent> FStartedEvent;
  std::exception_ptr FException;

 private:
  void ThreadProc();
  void ReleaseThread();

  mutable TCriticalSection FCriticalSection;
  std::thread FThreadHandle;
  std::atomic<uint32_t> FThreadId{0};
  bool FTerminated GUARDED_BY(FCriticalSection) = false;
  bool FStarted GUARDED_BY(FCriticalSection) = false;
};

}  // namespace zor
