#pragma once

namespace zor {

// Keeps SIGPIPE blocked in the calling thread from now on, so a write to a
// socket or pipe whose peer has gone fails with EPIPE instead of ending the
// process. For threads that write through a library that sends without
// MSG_NOSIGNAL. The signal a write raises is directed at the writing thread,
// so blocking it there is enough; held, it stays pending and is dropped with
// the thread. Cheap to call again: one system call per thread, the first time.
//
// Throws EPlatformError when the mask cannot be changed.
void BlockBrokenPipeSignal();

}  // namespace zor
