#include "management/TlsServerContext.h"

#include <openssl/err.h>

namespace zor {

namespace {

[[noreturn]] void Fail(const std::string& AWhat) {
  char reason[256] = "unknown reason";
  if (const unsigned long code = ERR_get_error(); code != 0) ERR_error_string_n(code, reason, sizeof reason);
  ERR_clear_error();
  throw ETlsContextError(AWhat + ": " + reason);
}

}  // namespace

TTlsServerContext::TTlsServerContext(const std::string& ACertFile, const std::string& AKeyFile,
                                     const std::string& ARootCertFile, const std::string& AClientCAFile)
    : FContext(SSL_CTX_new(TLS_server_method())) {
  SSL_CTX* context = FContext.get();
  if (context == nullptr) Fail("Cannot create a TLS context");
  if (SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1 ||
      SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION) != 1)
    Fail("Cannot restrict the TLS context to TLS 1.2");
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (SSL_CTX_use_certificate_chain_file(context, ACertFile.c_str()) != 1)
    Fail("Cannot use certificate file \"" + ACertFile + "\"");
  if (SSL_CTX_use_PrivateKey_file(context, AKeyFile.c_str(), SSL_FILETYPE_PEM) != 1)
    Fail("Cannot use key file \"" + AKeyFile + "\"");
  if (SSL_CTX_check_private_key(context) != 1)
    Fail("Key file \"" + AKeyFile + "\" does not match certificate \"" + ACertFile + "\"");
  if (!ARootCertFile.empty() && SSL_CTX_load_verify_locations(context, ARootCertFile.c_str(), nullptr) != 1)
    Fail("Cannot use root certificate file \"" + ARootCertFile + "\"");
  if (!AClientCAFile.empty()) {
    STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(AClientCAFile.c_str());
    if (names == nullptr || SSL_CTX_load_verify_locations(context, AClientCAFile.c_str(), nullptr) != 1)
      Fail("Cannot use client CA file \"" + AClientCAFile + "\"");
    SSL_CTX_set_client_CA_list(context, names);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  }
}

}  // namespace zor
