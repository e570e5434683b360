// The TLS library is loaded on the first call of one of its functions: calls
// through the stubs reach it with every argument intact, and a run that makes
// no such call never loads it.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "support/TempDir.h"

namespace zor {
namespace {

// A first call goes through the loader, which must keep the argument
// registers: integers, a pointer, a double (xmm0) and the vector count of a
// variadic call. The second call of the same function goes straight through.
TEST(LazyLibraryTest, CallsReachTheLibraryWithTheirArguments) {
  for (int round = 0; round < 2; ++round) {
    char text[64] = {};
    ASSERT_EQ(BIO_snprintf(text, sizeof text, "%d %.2f %s %lld", 42, 2.5, "x", -7LL), 12);
    EXPECT_STREQ(text, "42 2.50 x -7");
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  ASSERT_EQ(EVP_Digest("abc", 3, digest, &size, EVP_sha256(), nullptr), 1);
  ASSERT_EQ(size, 32u);
  char hex[65] = {};
  for (unsigned i = 0; i < size; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  EXPECT_STREQ(hex, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// The loader reports every library it loads (LD_DEBUG=files): dumping an
// .evtx file loads no TLS library.
TEST(LazyLibraryTest, DumpDoesNotLoadTheTlsLibrary) {
  test::TempDir dir;
  const std::string log = (dir / "loader").string();
  const std::string command = "LD_DEBUG=files " + std::string(ZOR_BINARY) + " dump '" ZOR_SHARED_DIR +
                              "/evtx-samples/pyevtx_system.evtx' >/dev/null 2>'" + log + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(log);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_NE(text.find("1601 records"), std::string::npos) << text;
  EXPECT_NE(text.find("file=libc.so"), std::string::npos) << "the loader reports the libraries it loads";
  EXPECT_EQ(text.find("libssl"), std::string::npos);
  EXPECT_EQ(text.find("libcrypto"), std::string::npos);
}

}  // namespace
}  // namespace zor
