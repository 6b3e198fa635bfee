// SHA-256 compression with the x86 SHA extensions. Each SHA256RNDS2 does two
// rounds on the state held as the register pair (A,B,E,F) / (C,D,G,H);
// SHA256MSG1/MSG2 extend the message schedule four words at a time.
#include "manifest/sha256_compress.h"
#include "platform/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace varn {

#if defined(__x86_64__) || defined(__i386__)

bool sha256_hardware_available() {
  const CpuFeatures& f = cpu_features();
  return f.sha && f.sse41 && f.ssse3;
}

namespace {

// Compresses the same blocks into `L` states at once. The message schedule
// is shared; the rounds of the states are independent chains, so a second
// state fills the latency of the first almost for free.
template <int L>
__attribute__((target("sha,sse4.1"), always_inline)) inline void compress_lanes(uint32_t* const* states,
                                                                                 const uint8_t* data, size_t blocks) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  __m128i s0[L], s1[L];
  for (int l = 0; l < L; ++l) {
    __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&states[l][0]));
    s1[l] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&states[l][4]));
    t = _mm_shuffle_epi32(t, 0xB1);                 // C D A B
    s1[l] = _mm_shuffle_epi32(s1[l], 0x1B);         // E F G H
    s0[l] = _mm_alignr_epi8(t, s1[l], 8);           // A B E F
    s1[l] = _mm_blend_epi16(s1[l], t, 0xF0);        // C D G H
  }

  const __m128i* k = reinterpret_cast<const __m128i*>(kSha256RoundConstants);
  for (; blocks > 0; --blocks, data += 64) {
    __m128i abef[L], cdgh[L];
    for (int l = 0; l < L; ++l) {
      abef[l] = s0[l];
      cdgh[l] = s1[l];
    }
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
      const __m128i wk = _mm_add_epi32(w, _mm_loadu_si128(k + g));
      const __m128i wk_high = _mm_shuffle_epi32(wk, 0x0E);
      for (int l = 0; l < L; ++l) s1[l] = _mm_sha256rnds2_epu32(s1[l], s0[l], wk);
      for (int l = 0; l < L; ++l) s0[l] = _mm_sha256rnds2_epu32(s0[l], s1[l], wk_high);
    }
    for (int l = 0; l < L; ++l) {
      s0[l] = _mm_add_epi32(s0[l], abef[l]);
      s1[l] = _mm_add_epi32(s1[l], cdgh[l]);
    }
  }

  for (int l = 0; l < L; ++l) {
    const __m128i t = _mm_shuffle_epi32(s0[l], 0x1B);   // F E B A
    const __m128i u = _mm_shuffle_epi32(s1[l], 0xB1);   // D C H G
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&states[l][0]), _mm_blend_epi16(t, u, 0xF0));  // D C B A
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&states[l][4]), _mm_alignr_epi8(u, t, 8));     // H G F E
  }
}

}  // namespace

__attribute__((target("sha,sse4.1"))) void sha256_compress_hardware(uint32_t state[8], const uint8_t* data,
                                                                    size_t blocks) {
  uint32_t* const states[1] = {state};
  compress_lanes<1>(states, data, blocks);
}

__attribute__((target("sha,sse4.1"))) void sha256_compress_hardware_pair(uint32_t a[8], uint32_t b[8],
                                                                         const uint8_t* data, size_t blocks) {
  uint32_t* const states[2] = {a, b};
  compress_lanes<2>(states, data, blocks);
}

#else

bool sha256_hardware_available() { return false; }

void sha256_compress_hardware(uint32_t state[8], const uint8_t* data, size_t blocks) {
  sha256_compress_scalar(state, data, blocks);
}

void sha256_compress_hardware_pair(uint32_t a[8], uint32_t b[8], const uint8_t* data, size_t blocks) {
  sha256_compress_scalar(a, data, blocks);
  sha256_compress_scalar(b, data, blocks);
}

#endif

}  // namespace varn
