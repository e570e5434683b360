#pragma once

#include "core/SignalledQueue.h"
#include "syslog/BaseSysLogMessage.h"

namespace zor {

// The outbound syslog queue: the processing threads and the trainers put
// finished messages in, the sender registry takes them out.
using TSyslogMessageQueue = TSignalledQueue<TBaseSysLogMessage>;

}  // namespace zor
