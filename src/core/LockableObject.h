#pragma once

#include "platform/CriticalSection.h"

namespace zor {

// Base of objects that guard their state with one critical section. Derived
// classes mark their guarded fields GUARDED_BY(FCriticalSection). Not copyable.
class CAPABILITY("mutex") TLockableObject {
 public:
  TLockableObject() = default;
  virtual ~TLockableObject() = default;
  TLockableObject(const TLockableObject&) = delete;
  TLockableObject& operator=(const TLockableObject&) = delete;

  void Lock() ACQUIRE() NO_THREAD_SAFETY_ANALYSIS { FCriticalSection.Enter(); }
  void Unlock() RELEASE() NO_THREAD_SAFETY_ANALYSIS { FCriticalSection.Leave(); }

 protected:
  mutable TCriticalSection FCriticalSection;
};

}  // namespace zor
