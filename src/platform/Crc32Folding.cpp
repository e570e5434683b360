#include "platform/Crc32Folding.h"

#include <cassert>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace zor {

#if defined(__x86_64__)

bool HasCrc32Folding() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}

#define ZOR_CLMUL __attribute__((target("pclmul,sse4.1")))

namespace {

ZOR_CLMUL inline __m128i Load(const uint8_t* AAt) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(AAt)); }

// AValue folded over 128 bits with the constants AK, and ANext added.
ZOR_CLMUL inline __m128i Fold(__m128i AValue, __m128i AK, __m128i ANext) {
  const __m128i low = _mm_clmulepi64_si128(AValue, AK, 0x00);
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(AValue, AK, 0x11), ANext), low);
}

}  // namespace

// Folding by four 128-bit lanes, then by one, then a Barrett reduction, with
// the bit-reflected constants of Intel's "Fast CRC Computation for Generic
// Polynomials Using PCLMULQDQ" for the polynomial 0x04C11DB7.
ZOR_CLMUL uint32_t Crc32Fold(const uint8_t* AData, size_t ASize, uint32_t ARegister) {
  assert(ASize >= 64 && ASize % 16 == 0);
  alignas(16) static const uint64_t k1k2[] = {0x0154442bd4, 0x01c6e41596};
  alignas(16) static const uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
  alignas(16) static const uint64_t k5k0[] = {0x0163cd6124, 0x0000000000};
  alignas(16) static const uint64_t poly[] = {0x01db710641, 0x01f7011641};
  __m128i x1 = Load(AData);
  __m128i x2 = Load(AData + 16);
  __m128i x3 = Load(AData + 32);
  __m128i x4 = Load(AData + 48);
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(ARegister)));
  __m128i x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
  AData += 64;
  ASize -= 64;
  while (ASize >= 64) {
    x1 = Fold(x1, x0, Load(AData));
    x2 = Fold(x2, x0, Load(AData + 16));
    x3 = Fold(x3, x0, Load(AData + 32));
    x4 = Fold(x4, x0, Load(AData + 48));
    AData += 64;
    ASize -= 64;
  }
  // Four lanes into one.
  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
  x1 = Fold(x1, x0, x2);
  x1 = Fold(x1, x0, x3);
  x1 = Fold(x1, x0, x4);
  while (ASize >= 16) {
    x1 = Fold(x1, x0, Load(AData));
    AData += 16;
    ASize -= 16;
  }
  // 128 bits to 64, then to 32.
  x2 = _mm_clmulepi64_si128(x1, x0, 0x10);
  x3 = _mm_setr_epi32(~0, 0, ~0, 0);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
  x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, x3), x0, 0x00), x2);
  // Barrett reduction.
  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
  x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, x3), x0, 0x10);
  x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, x3), x0, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

#else

bool HasCrc32Folding() { return false; }

uint32_t Crc32Fold(const uint8_t*, size_t, uint32_t ARegister) { return ARegister; }

#endif

}  // namespace zor
