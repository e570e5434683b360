#pragma once

#include "support/Errors.h"

namespace zor {

// Dequeue, Extract or Peek on an empty TSignalledQueue.
class EQueueEmpty : public EZorError {
 public:
  EQueueEmpty() : EZorError("Queue is empty") {}
};

}  // namespace zor
