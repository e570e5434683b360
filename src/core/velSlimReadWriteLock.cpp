#include "core/velSlimReadWriteLock.h"

namespace zor {

// The probes take and drop the lock at once; the analysis cannot follow a
// conditional release.
TMultiReadSingleWriteState TvelSlimReadWriteLock::State() NO_THREAD_SAFETY_ANALYSIS {
  if (FSRWLock.try_lock()) {
    FSRWLock.unlock();
    return TMultiReadSingleWriteState::mrswUnlocked;
  }
  if (!FSRWLock.try_lock_shared()) return TMultiReadSingleWriteState::mrswWriteLock;
  FSRWLock.unlock_shared();
  return TMultiReadSingleWriteState::mrswReadLock;
}

}  // namespace zor
