#pragma once

#include "platform/Errors.h"

namespace zor {

// Dequeue, Extract or Peek on an empty TSignalledQueue.
class EQueueEmpty : public EZorError {
 public:
  EQueueEmpty() : EZorError("Queue is empty") {}
};

}  // namespace zor
