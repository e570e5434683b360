#pragma once

#include <openssl/evp.h>

#include <string>
#include <string_view>

namespace zor::test {

// The value of an "Authorization" header with Basic credentials (RFC 7617),
// as the test servers expect it.
inline std::string BasicAuthorization(std::string_view AUserName, std::string_view APassword) {
  const std::string pair = std::string(AUserName) + ":" + std::string(APassword);
  std::string encoded(4 * ((pair.size() + 2) / 3), '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                                      reinterpret_cast<const unsigned char*>(pair.data()), static_cast<int>(pair.size()));
  encoded.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return "Basic " + encoded;
}

}  // namespace zor::test
