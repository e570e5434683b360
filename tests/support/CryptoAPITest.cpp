#include "support/CryptoAPI.h"

#include <gtest/gtest.h>

#include <string>

namespace zor {
namespace {

// Expected texts were made independently with the openssl command line:
//   printf '%s' PASSWORD | openssl enc -aes-256-cbc -K <SHA-256 of the pass phrase> -iv 0 -base64
struct TKnownText {
  const char* Name;
  std::string Plain;
  std::string Stored;
};

const TKnownText KnownTexts[] = {
    // An empty password is one whole block of padding: 16 bytes, 24 characters.
    {"Empty", "", "RDPFMzhwzidSgJtQhExg+w=="},
    {"Ascii", "secret", "Nk+hO+ug83xqMsOhV2mkMQ=="},
    // 18 UTF-8 bytes: two blocks.
    {"NonAscii", "P@ssw0rd-\xC3\xA4\xC3\xB6\xC3\xBC\xE2\x82\xAC", "R1nlRX05QRh7aneJKo/rXlr00fJb4E+qIQaP6C8807A="},
    // 60 bytes give 64 cipher bytes, 88 characters, broken after the 76th.
    {"LineBreak", std::string(60, 'x'),
     "QhJQrNuN0cEE6dh35Iq2AMLYHIWbIGjEXM3twNhfeN2YG8l0CRZ68lmCTnmwivgqn5kRPXJPJi/O\r\nI3Kmvn2Kzg=="},
};

TEST(CryptoAPITest, EncryptsToTheKnownStoredTextAndBack) {
  for (const auto& known : KnownTexts) {
    SCOPED_TRACE(known.Name);
    std::string stored;
    ASSERT_EQ(TCryptoAPI::aesEncryptString(known.Plain, stored), 0);
    EXPECT_EQ(stored, known.Stored);
    std::string plain = "old";
    ASSERT_EQ(TCryptoAPI::aesDecryptString(stored, plain), 0);
    EXPECT_EQ(plain, known.Plain);
  }
}

// Stored bytes that are not UTF-8 (written by another program) are read the way
// the text decoder of the original platform reads them: each bad byte is U+FFFD.
TEST(CryptoAPITest, BytesThatAreNotUtf8DecryptToReplacementCharacters) {
  std::string plain;
  ASSERT_EQ(TCryptoAPI::aesDecryptString("HF1m7VLnDzxxQtwvzG/dSQ==", plain), 0);  // a FF b C3
  EXPECT_EQ(plain, "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

TEST(CryptoAPITest, LengthsFollowWholeBlocksOfPadding) {
  const struct {
    std::size_t PlainLength;
    std::size_t StoredLength;
  } cases[] = {{15, 24}, {16, 44}, {47, 64}, {48, 88}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.PlainLength);
    std::string stored;
    ASSERT_EQ(TCryptoAPI::aesEncryptString(std::string(c.PlainLength, 'p'), stored), 0);
    std::string flat;
    for (char ch : stored) {
      if (ch != '\r' && ch != '\n') flat += ch;
    }
    EXPECT_EQ(flat.size(), c.StoredLength);
    EXPECT_EQ(stored.find("\r\n"), c.StoredLength > 76 ? 76 : std::string::npos);
  }
}

TEST(CryptoAPITest, LongPasswordsBreakEveryLineAndComeBack) {
  const std::string password(400, 'L');
  std::string stored;
  ASSERT_EQ(TCryptoAPI::aesEncryptString(password, stored), 0);
  std::size_t lineStart = 0;
  for (std::size_t pos = stored.find("\r\n"); pos != std::string::npos; pos = stored.find("\r\n", lineStart)) {
    EXPECT_EQ(pos - lineStart, 76u);
    lineStart = pos + 2;
  }
  EXPECT_GT(stored.size() - lineStart, 0u);
  EXPECT_LE(stored.size() - lineStart, 76u);
  EXPECT_NE(stored.substr(stored.size() - 2), "\r\n");
  std::string plain;
  ASSERT_EQ(TCryptoAPI::aesDecryptString(stored, plain), 0);
  EXPECT_EQ(plain, password);
}

TEST(CryptoAPITest, BadStoredTextsFailAndLeaveTheOutputAlone) {
  const struct {
    const char* Name;
    std::string Stored;
    int Expected;
  } cases[] = {
      {"NotBase64", "abc", TCryptoAPI::CryptInvalidData},
      {"ForeignLetters", "Nk+hO+ug83xqMsOhV2mk-Q==", TCryptoAPI::CryptInvalidData},
      {"PaddingInTheMiddle", "Nk+h=+ug83xqMsOhV2mkMQ==", TCryptoAPI::CryptInvalidData},
      {"ThreePaddingLetters", "Nk+hO+ug83xqMsOhV2mkM===", TCryptoAPI::CryptInvalidData},
      {"Blank", " ", TCryptoAPI::CryptInvalidData},
      {"Empty", "", TCryptoAPI::CryptBadData},
      {"LineBreaksOnly", "\r\n", TCryptoAPI::CryptBadData},
      {"NotWholeBlocks", "Nk+hO+ug83xqMsOhV2mk", TCryptoAPI::CryptBadData},
      // 16 zero bytes decrypt to a block whose padding is wrong.
      {"WrongPadding", "AAAAAAAAAAAAAAAAAAAAAA==", TCryptoAPI::CryptBadData},
      {"Plaintext", "password", TCryptoAPI::CryptBadData},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string output = "unchanged";
    EXPECT_EQ(TCryptoAPI::aesDecryptString(c.Stored, output), c.Expected);
    EXPECT_EQ(output, "unchanged");
  }
}

}  // namespace
}  // namespace zor
