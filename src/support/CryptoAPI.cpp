#include "support/CryptoAPI.h"

#include <openssl/evp.h>

#include <array>
#include <climits>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace zor {

namespace {

constexpr std::size_t AesBlockSize = 16;
constexpr std::size_t Base64LineLength = 76;

// The pass phrase is put together byte by byte at run time so that it does not
// sit in the binary as one readable string.
std::optional<std::array<unsigned char, 32>> DeriveKey() {
  static constexpr unsigned char Scrambled[38] = {
      'S' ^ 0x5A, 'Q' ^ 0x5A, 'd' ^ 0x5A, 'e' ^ 0x5A, 'f' ^ 0x5A, 'v' ^ 0x5A, 't' ^ 0x5A, 'Z' ^ 0x5A,
      'm' ^ 0x5A, 'F' ^ 0x5A, 'O' ^ 0x5A, 'U' ^ 0x5A, 'P' ^ 0x5A, 'B' ^ 0x5A, 'V' ^ 0x5A, 'K' ^ 0x5A,
      'E' ^ 0x5A, 'U' ^ 0x5A, 'w' ^ 0x5A, 'l' ^ 0x5A, 'f' ^ 0x5A, 'Z' ^ 0x5A, 'O' ^ 0x5A, 'i' ^ 0x5A,
      'm' ^ 0x5A, 'F' ^ 0x5A, 'k' ^ 0x5A, 'd' ^ 0x5A, 'g' ^ 0x5A, 't' ^ 0x5A, 'g' ^ 0x5A, 'q' ^ 0x5A,
      's' ^ 0x5A, 'i' ^ 0x5A, 'l' ^ 0x5A, 'w' ^ 0x5A, 'q' ^ 0x5A, 'z' ^ 0x5A};
  std::array<unsigned char, sizeof(Scrambled)> passPhrase{};
  for (std::size_t i = 0; i < passPhrase.size(); ++i) passPhrase[i] = Scrambled[i] ^ 0x5A;

  std::array<unsigned char, 32> key{};
  unsigned int keyLength = 0;
  if (EVP_Digest(passPhrase.data(), passPhrase.size(), key.data(), &keyLength, EVP_sha256(), nullptr) != 1 ||
      keyLength != key.size()) {
    return std::nullopt;
  }
  return key;
}

// Computed once; a function-local static is initialised thread-safely. Empty
// only if the digest itself failed.
const std::optional<std::array<unsigned char, 32>>& Key() {
  static const std::optional<std::array<unsigned char, 32>> key = DeriveKey();
  return key;
}

struct TCipherContextFree {
  void operator()(EVP_CIPHER_CTX* AContext) const { EVP_CIPHER_CTX_free(AContext); }
};
using TCipherContext = std::unique_ptr<EVP_CIPHER_CTX, TCipherContextFree>;

// Runs the whole of AInput through AES-256-CBC (zero IV, PKCS #7) as final data.
// Returns CryptOK and fills AOutput, or the error code.
int RunCipher(bool AEncrypt, const unsigned char* AInput, std::size_t ALength, std::vector<unsigned char>& AOutput) {
  if (ALength > static_cast<std::size_t>(INT_MAX) - AesBlockSize) return TCryptoAPI::CryptBadData;
  const auto& key = Key();
  TCipherContext context(EVP_CIPHER_CTX_new());
  if (!key || !context) return TCryptoAPI::CryptFailure;
  static constexpr std::array<unsigned char, AesBlockSize> ZeroIV{};
  if (EVP_CipherInit_ex(context.get(), EVP_aes_256_cbc(), nullptr, key->data(), ZeroIV.data(), AEncrypt ? 1 : 0) !=
      1) {
    return TCryptoAPI::CryptFailure;
  }
  std::vector<unsigned char> output(ALength + AesBlockSize);
  int written = 0;
  if (EVP_CipherUpdate(context.get(), output.data(), &written, AInput, static_cast<int>(ALength)) != 1) {
    return AEncrypt ? TCryptoAPI::CryptFailure : TCryptoAPI::CryptBadData;
  }
  int finalWritten = 0;
  if (EVP_CipherFinal_ex(context.get(), output.data() + written, &finalWritten) != 1) {
    // Decrypting, this is a length that is not a whole number of blocks, or
    // padding that is not PKCS #7 (a wrong key or text we did not write).
    return AEncrypt ? TCryptoAPI::CryptFailure : TCryptoAPI::CryptBadData;
  }
  output.resize(static_cast<std::size_t>(written) + static_cast<std::size_t>(finalWritten));
  AOutput = std::move(output);
  return TCryptoAPI::CryptOK;
}

std::string EncodeBase64Lines(const std::vector<unsigned char>& ABytes) {
  std::string flat(4 * ((ABytes.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(flat.data()), ABytes.data(),
                                     static_cast<int>(ABytes.size()));
  flat.resize(static_cast<std::size_t>(length));
  std::string text;
  text.reserve(flat.size() + 2 * (flat.size() / Base64LineLength));
  for (std::size_t offset = 0; offset < flat.size(); offset += Base64LineLength) {
    if (offset > 0) text += "\r\n";
    text.append(flat, offset, Base64LineLength);
  }
  return text;
}

bool IsBase64Letter(char AChar) {
  return (AChar >= 'A' && AChar <= 'Z') || (AChar >= 'a' && AChar <= 'z') || (AChar >= '0' && AChar <= '9') ||
         AChar == '+' || AChar == '/';
}

// Strict standard Base64: line breaks are skipped; otherwise only the alphabet,
// a length that is a multiple of four, and "=" only as the last one or two
// characters. Returns false for anything else.
bool DecodeBase64Lines(const std::string& AText, std::vector<unsigned char>& ABytes) {
  std::string flat;
  flat.reserve(AText.size());
  for (char c : AText) {
    if (c != '\r' && c != '\n') flat += c;
  }
  if (flat.size() % 4 != 0 || flat.size() > static_cast<std::size_t>(INT_MAX)) return false;
  std::size_t padding = 0;
  while (padding < 2 && padding < flat.size() && flat[flat.size() - 1 - padding] == '=') ++padding;
  for (std::size_t i = 0; i + padding < flat.size(); ++i) {
    if (!IsBase64Letter(flat[i])) return false;
  }
  ABytes.assign(flat.size() / 4 * 3, 0);
  if (flat.empty()) return true;
  const int length = EVP_DecodeBlock(ABytes.data(), reinterpret_cast<const unsigned char*>(flat.data()),
                                     static_cast<int>(flat.size()));
  if (length < 0) return false;
  // EVP_DecodeBlock counts the padding as zero bytes; drop them.
  ABytes.resize(static_cast<std::size_t>(length) - padding);
  return true;
}

// Copies AText, replacing every byte sequence that is not well-formed UTF-8
// (overlong forms, surrogates and code points above U+10FFFF included) by U+FFFD.
std::string ToValidUtf8(const unsigned char* AText, std::size_t ALength) {
  static constexpr char Replacement[] = "\xEF\xBF\xBD";
  std::string result;
  result.reserve(ALength);
  std::size_t i = 0;
  while (i < ALength) {
    const unsigned char lead = AText[i];
    std::size_t extra = 0;
    char32_t minimum = 0;
    char32_t codePoint = 0;
    if (lead < 0x80) {
      result += static_cast<char>(lead);
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, minimum = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, minimum = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, minimum = 0x10000, codePoint = lead & 0x07;
    } else {
      result += Replacement;
      ++i;
      continue;
    }
    std::size_t taken = 1;
    while (taken <= extra && i + taken < ALength && (AText[i + taken] & 0xC0) == 0x80) {
      codePoint = (codePoint << 6) | (AText[i + taken] & 0x3F);
      ++taken;
    }
    if (taken <= extra || codePoint < minimum || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
      result += Replacement;
    } else {
      result.append(reinterpret_cast<const char*>(AText + i), taken);
    }
    i += taken;
  }
  return result;
}

}  // namespace

int TCryptoAPI::aesEncryptString(const std::string& AInput, std::string& AOutput) {
  std::vector<unsigned char> cipherText;
  const int result =
      RunCipher(true, reinterpret_cast<const unsigned char*>(AInput.data()), AInput.size(), cipherText);
  if (result != CryptOK) return result;
  AOutput = EncodeBase64Lines(cipherText);
  return CryptOK;
}

int TCryptoAPI::aesDecryptString(const std::string& AInput, std::string& AOutput) {
  std::vector<unsigned char> cipherText;
  if (!DecodeBase64Lines(AInput, cipherText)) return CryptInvalidData;
  if (cipherText.empty() || cipherText.size() % AesBlockSize != 0) return CryptBadData;
  std::vector<unsigned char> plainText;
  const int result = RunCipher(false, cipherText.data(), cipherText.size(), plainText);
  if (result != CryptOK) return result;
  AOutput = ToValidUtf8(plainText.data(), plainText.size());
  return CryptOK;
}

}  // namespace zor
