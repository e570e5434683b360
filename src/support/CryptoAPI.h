#pragma once

#include <cstdint>
#include <string>

namespace zor {

// Encryption of the passwords kept in SvcConfig.json.
//
// A password is stored as the Base64 text (standard alphabet, "=" padding, CR LF
// after every 76 characters, none after the last) of its UTF-8 bytes encrypted
// with AES-256-CBC, a zero IV and PKCS #7 padding. The key is the SHA-256 digest
// of the program's fixed 38-letter pass phrase, so the same password always gives
// the same text, and files stay readable across runs of any build that shares
// the pass phrase.
//
// TCryptoAPI keeps no state between calls; every operation may be called from
// any thread at the same time. Nothing is logged here: the callers decide what a
// failure means for their field.
class TCryptoAPI {
 public:
  // Result codes. 0 is success; the others follow the Windows codes that the
  // stored-password format was first written with.
  static constexpr int CryptOK = 0;
  static constexpr int CryptInvalidData = 13;  // ERROR_INVALID_DATA: the text is not Base64
  static constexpr int CryptBadData = static_cast<int>(0x80090005u);  // NTE_BAD_DATA: bad length or padding
  static constexpr int CryptFailure = static_cast<int>(0x80090020u);  // NTE_FAIL: the cipher itself failed

  // Encrypts AInput (UTF-8) into its stored text. On success sets AOutput and
  // returns 0; on failure returns a non-zero code and leaves AOutput untouched.
  [[nodiscard]] static int aesEncryptString(const std::string& AInput, std::string& AOutput);

  // Decrypts a stored text. CR and LF anywhere in AInput are ignored. On success
  // sets AOutput to the UTF-8 password and returns 0 (bytes that are not valid
  // UTF-8 come back as U+FFFD); text that is not Base64 returns CryptInvalidData,
  // cipher text of a wrong length or with wrong padding CryptBadData, and
  // AOutput is then left untouched.
  [[nodiscard]] static int aesDecryptString(const std::string& AInput, std::string& AOutput);

  TCryptoAPI() = delete;
};

}  // namespace zor
