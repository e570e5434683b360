#pragma once

#include <cstdint>
#include <shared_mutex>

#include "platform/ThreadAnnotations.h"

namespace zor {

enum class TMultiReadSingleWriteState : uint8_t {
  mrswUnlocked = 0,
  mrswReadLock = 1,
  mrswWriteLock = 2,
};

// Many readers or one writer.
class CAPABILITY("mutex") IMultiReadSingleWrite {
 public:
  virtual ~IMultiReadSingleWrite() = default;
  virtual void BeginRead() ACQUIRE_SHARED() = 0;
  [[nodiscard]] virtual bool TryBeginRead() TRY_ACQUIRE_SHARED(true) = 0;
  virtual void EndRead() RELEASE_SHARED() = 0;
  virtual void BeginWrite() ACQUIRE() = 0;
  [[nodiscard]] virtual bool TryBeginWrite() TRY_ACQUIRE(true) = 0;
  virtual void EndWrite() RELEASE() = 0;
};

// The reader-writer lock of the sender registries. Not recursive: a thread must
// not take it again while it holds it, and a read lock cannot be upgraded to a
// write lock. Any thread may use it; it is not copyable.
class CAPABILITY("mutex") TvelSlimReadWriteLock final : public IMultiReadSingleWrite {
 public:
  TvelSlimReadWriteLock() = default;
  TvelSlimReadWriteLock(const TvelSlimReadWriteLock&) = delete;
  TvelSlimReadWriteLock& operator=(const TvelSlimReadWriteLock&) = delete;

  void BeginRead() override ACQUIRE_SHARED() { FSRWLock.lock_shared(); }
  bool TryBeginRead() override TRY_ACQUIRE_SHARED(true) { return FSRWLock.try_lock_shared(); }
  void EndRead() override RELEASE_SHARED() { FSRWLock.unlock_shared(); }
  void BeginWrite() override ACQUIRE() { FSRWLock.lock(); }
  bool TryBeginWrite() override TRY_ACQUIRE(true) { return FSRWLock.try_lock(); }
  void EndWrite() override RELEASE() { FSRWLock.unlock(); }

  // A momentary probe of who holds the lock; the answer may be stale at once.
  // Must not be called by a thread that holds the lock.
  [[nodiscard]] TMultiReadSingleWriteState State();

 private:
  std::shared_mutex FSRWLock;
};

// Holds a read lock for the lifetime of the guard.
class SCOPED_CAPABILITY TReadGuard {
 public:
  explicit TReadGuard(IMultiReadSingleWrite& ALock) ACQUIRE_SHARED(ALock) : FLock(ALock) { FLock.BeginRead(); }
  ~TReadGuard() RELEASE() { FLock.EndRead(); }
  TReadGuard(const TReadGuard&) = delete;
  TReadGuard& operator=(const TReadGuard&) = delete;

 private:
  IMultiReadSingleWrite& FLock;
};

// Holds the write lock for the lifetime of the guard.
class SCOPED_CAPABILITY TWriteGuard {
 public:
  explicit TWriteGuard(IMultiReadSingleWrite& ALock) ACQUIRE(ALock) : FLock(ALock) { FLock.BeginWrite(); }
  ~TWriteGuard() RELEASE() { FLock.EndWrite(); }
  TWriteGuard(const TWriteGuard&) = delete;
  TWriteGuard& operator=(const TWriteGuard&) = delete;

 private:
  IMultiReadSingleWrite& FLock;
};

}  // namespace zor
