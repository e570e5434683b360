#pragma once

#include <sys/types.h>

#include <cstddef>

namespace zor {

// One send and one receive on a connected socket, for code that drives a
// socket it does not own (a TLS session's byte sink and source). Both retry
// an interrupted call and return what the system call returns: the count, or
// -1 with errno set (EAGAIN on a non-blocking socket with nothing to do or a
// timed-out blocking one). Any thread.

// Never raises SIGPIPE: a peer that went away shows as -1 with EPIPE (or
// ECONNRESET), so the process is not ended by a client or receiver that
// vanished while it was written to.
[[nodiscard]] ssize_t SendNoSignal(int AHandle, const void* AData, size_t ASize);

// 0 when the peer has closed its side.
[[nodiscard]] ssize_t ReceiveSome(int AHandle, void* ABuffer, size_t ASize);

}  // namespace zor
