#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>

#include "platform/Errors.h"

namespace zor {

// A TLS context could not be set up; the message names the file and
// OpenSSL's reason.
class ETlsContextError : public EZorError {
 public:
  explicit ETlsContextError(const std::string& AMessage) : EZorError(AMessage) {}
};

// The server side of TLS for the management endpoint: TLS 1.2 and nothing
// else, the endpoint's certificate (with any chain in the same file) and
// key, and the root certificate file for the chain. Client certificates
// are not asked for unless AClientCAFile names a file: then a client must
// present a certificate that verifies against it.
//
// Immutable after construction; connections of any thread create their
// sessions from it (OpenSSL locks what it shares).
class TTlsServerContext {
 public:
  // Files are used as given (already located). Throws ETlsContextError.
  TTlsServerContext(const std::string& ACertFile, const std::string& AKeyFile, const std::string& ARootCertFile,
                    const std::string& AClientCAFile);
  TTlsServerContext(const TTlsServerContext&) = delete;
  TTlsServerContext& operator=(const TTlsServerContext&) = delete;

  [[nodiscard]] SSL_CTX* Handle() const { return FContext.get(); }

 private:
  struct TFree {
    void operator()(SSL_CTX* AContext) const { SSL_CTX_free(AContext); }
  };
  std::unique_ptr<SSL_CTX, TFree> FContext;
};

}  // namespace zor
