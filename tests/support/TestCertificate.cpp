#include "support/TestCertificate.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>

namespace zor::test {

namespace {

void Check(bool AOk, const char* AWhat) {
  if (!AOk) throw std::runtime_error(std::string("test certificate: ") + AWhat + " failed");
}

void AddExtension(X509* ACertificate, int ANid, const char* AValue) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, ACertificate, ACertificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, ANid, AValue);
  Check(extension != nullptr, "extension");
  X509_add_ext(ACertificate, extension, -1);
  X509_EXTENSION_free(extension);
}

void WritePem(const std::filesystem::path& APath, const std::function<int(FILE*)>& AWrite) {
  FILE* file = std::fopen(APath.c_str(), "w");
  Check(file != nullptr, "opening a PEM file");
  const int written = AWrite(file);
  Check(std::fclose(file) == 0 && written == 1, "writing a PEM file");
}

}  // namespace

TTestCertificate::TTestCertificate(const std::filesystem::path& AFolder)
    : FCertFile(AFolder / "cert.pem"), FKeyFile(AFolder / "key.pem") {
  FKey.reset(EVP_EC_gen("P-256"));
  Check(FKey != nullptr, "key generation");
  FCertificate.reset(X509_new());
  X509* cert = FCertificate.get();
  Check(cert != nullptr, "X509_new");
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 24L * 3600);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"), -1, -1,
                             0);
  X509_set_issuer_name(cert, name);
  Check(X509_set_pubkey(cert, FKey.get()) == 1, "X509_set_pubkey");
  AddExtension(cert, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
  AddExtension(cert, NID_basic_constraints, "critical,CA:TRUE");
  Check(X509_sign(cert, FKey.get(), EVP_sha256()) > 0, "X509_sign");

  WritePem(FCertFile, [&](FILE* AFile) { return PEM_write_X509(AFile, cert); });
  WritePem(FKeyFile, [&](FILE* AFile) {
    return PEM_write_PrivateKey(AFile, FKey.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
}

TTestCertificate::~TTestCertificate() = default;

}  // namespace zor::test
