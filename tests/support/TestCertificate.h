#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <filesystem>
#include <memory>

namespace zor::test {

// A self-signed certificate for "localhost" and 127.0.0.1 with a new P-256
// key, made at test time. Both are also written as PEM files (cert.pem,
// key.pem) into the folder given, for peers that read files (rsyslog).
class TTestCertificate {
 public:
  // Throws std::runtime_error when OpenSSL or the files fail.
  explicit TTestCertificate(const std::filesystem::path& AFolder);
  ~TTestCertificate();
  TTestCertificate(const TTestCertificate&) = delete;
  TTestCertificate& operator=(const TTestCertificate&) = delete;

  X509* Certificate() const { return FCertificate.get(); }
  EVP_PKEY* Key() const { return FKey.get(); }
  const std::filesystem::path& CertFile() const { return FCertFile; }
  const std::filesystem::path& KeyFile() const { return FKeyFile; }

 private:
  struct TKeyFree {
    void operator()(EVP_PKEY* AKey) const { EVP_PKEY_free(AKey); }
  };
  struct TCertificateFree {
    void operator()(X509* ACertificate) const { X509_free(ACertificate); }
  };
  std::unique_ptr<EVP_PKEY, TKeyFree> FKey;
  std::unique_ptr<X509, TCertificateFree> FCertificate;
  std::filesystem::path FCertFile;
  std::filesystem::path FKeyFile;
};

}  // namespace zor::test
