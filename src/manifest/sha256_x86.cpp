// SHA-256 compression with the x86 SHA extensions. Each SHA256RNDS2 does two
// rounds on the state held as the register pair (A,B,E,F) / (C,D,G,H);
// SHA256MSG1/MSG2 extend the message schedule four words at a time.
#include "manifest/sha256_compress.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace varn {

#if defined(__x86_64__) || defined(__i386__)

bool sha256_hardware_available() {
  static const bool available = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(1, 0, a, b, c, d);
    const bool sse41 = (c & (1u << 19)) != 0;
    const bool ssse3 = (c & (1u << 9)) != 0;
    __cpuid_count(7, 0, a, b, c, d);
    const bool sha = (b & (1u << 29)) != 0;
    return sha && sse41 && ssse3;
  }();
  return available;
}

__attribute__((target("sha,sse4.1"))) void sha256_compress_hardware(uint32_t state[8],
                                                                    const uint8_t* data,
                                                                    size_t blocks) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
  __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
  t = _mm_shuffle_epi32(t, 0xB1);           // C D A B
  s1 = _mm_shuffle_epi32(s1, 0x1B);         // E F G H
  __m128i s0 = _mm_alignr_epi8(t, s1, 8);   // A B E F
  s1 = _mm_blend_epi16(s1, t, 0xF0);        // C D G H

  const __m128i* k = reinterpret_cast<const __m128i*>(kSha256RoundConstants);
  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abef = s0;
    const __m128i cdgh = s1;
    __m128i m[4];
#pragma GCC unroll 16
    for (int g = 0; g < 16; ++g) {
      __m128i& w = m[g & 3];
      if (g < 4) {
        w = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * g)), byte_swap);
      } else {
        const __m128i& w1 = m[(g + 1) & 3];
        const __m128i& w2 = m[(g + 2) & 3];
        const __m128i& w3 = m[(g + 3) & 3];
        __m128i x = _mm_add_epi32(_mm_sha256msg1_epu32(w, w1), _mm_alignr_epi8(w3, w2, 4));
        w = _mm_sha256msg2_epu32(x, w3);
      }
      __m128i wk = _mm_add_epi32(w, _mm_loadu_si128(k + g));
      s1 = _mm_sha256rnds2_epu32(s1, s0, wk);
      wk = _mm_shuffle_epi32(wk, 0x0E);
      s0 = _mm_sha256rnds2_epu32(s0, s1, wk);
    }
    s0 = _mm_add_epi32(s0, abef);
    s1 = _mm_add_epi32(s1, cdgh);
  }

  t = _mm_shuffle_epi32(s0, 0x1B);          // F E B A
  s1 = _mm_shuffle_epi32(s1, 0xB1);         // D C H G
  s0 = _mm_blend_epi16(t, s1, 0xF0);        // D C B A
  s1 = _mm_alignr_epi8(s1, t, 8);           // H G F E
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), s0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), s1);
}

#else

bool sha256_hardware_available() { return false; }

void sha256_compress_hardware(uint32_t state[8], const uint8_t* data, size_t blocks) {
  sha256_compress_scalar(state, data, blocks);
}

#endif

}  // namespace varn
