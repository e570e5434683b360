#pragma once

#include <openssl/bio.h>

namespace zor {

// A TLS session's byte source and sink over a connected socket, in place of
// OpenSSL's own socket BIO (SSL_set_fd), which writes with write() and so
// lets a peer that went away end the whole process with SIGPIPE. This one
// sends with MSG_NOSIGNAL: the write fails with EPIPE instead, and the
// session reports it as an error.
//
// Works on blocking and non-blocking sockets alike: EAGAIN is reported as a
// retry, so SSL_get_error gives SSL_ERROR_WANT_READ / SSL_ERROR_WANT_WRITE
// (errno still tells a timed-out blocking socket's EAGAIN).
//
// The BIO borrows AHandle: the socket must outlive it and is not closed with
// it. Hand the BIO to SSL_set_bio, which owns it from then on. Null when
// OpenSSL has no memory.
[[nodiscard]] BIO* NewSocketBio(int AHandle);

}  // namespace zor
