// The TLS library (and in the lean program the maths library) is loaded on the
// first call of one of its functions: calls through the stubs reach it with
// every argument intact, and a run that makes no such call never loads it.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/evp.h>

#include <cmath>
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

// What the loader reports of a run of the program (LD_DEBUG=files): every
// library it loads, and what the run wrote to standard error.
std::string LoaderReport(const std::string& AArguments) {
  test::TempDir dir;
  const std::string log = (dir / "loader").string();
  const std::string command =
      "LD_DEBUG=files " + std::string(ZOR_BINARY) + " " + AArguments + " >/dev/null 2>'" + log + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream in(log);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Dumping an .evtx file loads neither the TLS library nor, in the lean
// program, the maths library.
TEST(LazyLibraryTest, DumpDoesNotLoadTheTlsLibrary) {
  const std::string text = LoaderReport("dump '" ZOR_SHARED_DIR "/evtx-samples/pyevtx_system.evtx'");
  ASSERT_NE(text.find("1601 records"), std::string::npos) << text;
  EXPECT_NE(text.find("file=libc.so"), std::string::npos) << "the loader reports the libraries it loads";
  EXPECT_EQ(text.find("libssl"), std::string::npos);
  EXPECT_EQ(text.find("libcrypto"), std::string::npos);
#if ZOR_LEAN_PROGRAM
  EXPECT_EQ(text.find("libm.so"), std::string::npos);
#endif
}

// The maths library through its stubs (this test program links them as the
// lean program does): a first call goes through the loader, a double argument
// in xmm0 and xmm1 survives it, and the results are the library's.
TEST(LazyLibraryTest, MathsFunctionsReachTheLibrary) {
  volatile double seven = 7.5;
  volatile double half = 2.5;
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(std::fmod(seven, 2.0), 1.5);
    EXPECT_EQ(std::fmod(-seven, 2.0), -1.5);
    EXPECT_EQ(std::llround(half), 3);
    EXPECT_EQ(std::llround(-half), -3);
  }
}

}  // namespace
}  // namespace zor
