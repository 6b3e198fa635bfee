// Vector prediction kernels. Each computes blocks of consecutive positions
// at once. AVX2: with the bits as 0/-1 masks, S[n] = sum of (coef[k] AND mask)
// is the sum of the coefficients whose bit is 1, and the prediction is
// 2 S - Q with Q the sum of all coefficients. The sums are taken modulo
// 2^16; the true prediction fits 16 bits (|p| <= 128 x 255), so the
// wrapped result is exact.
#include "dst/dst_kernel.h"

#if defined(__x86_64__)

#include <immintrin.h>

namespace varn {

namespace {

int16_t coef_sum(const int16_t* coef, int order) {
  int32_t q = 0;
  for (int k = 0; k < order; ++k) q += coef[k];
  return static_cast<int16_t>(q);
}

}  // namespace

__attribute__((target("avx2"))) void dst_predict_avx2(const int16_t* coef, int order,
                                                     const int16_t* mask, int16_t* out,
                                                     size_t count) {
  const __m256i q = _mm256_set1_epi16(coef_sum(coef, order));
  size_t n = 0;
  for (; n + 128 <= count; n += 128) {
    __m256i a0 = _mm256_setzero_si256(), a1 = a0, a2 = a0, a3 = a0, a4 = a0, a5 = a0, a6 = a0,
            a7 = a0;
    const int16_t* h = mask + n - 1;
    for (int k = 0; k < order; ++k) {
      const __m256i c = _mm256_set1_epi16(coef[k]);
      const __m256i* d = reinterpret_cast<const __m256i*>(h - k);
      a0 = _mm256_add_epi16(a0, _mm256_and_si256(c, _mm256_loadu_si256(d)));
      a1 = _mm256_add_epi16(a1, _mm256_and_si256(c, _mm256_loadu_si256(d + 1)));
      a2 = _mm256_add_epi16(a2, _mm256_and_si256(c, _mm256_loadu_si256(d + 2)));
      a3 = _mm256_add_epi16(a3, _mm256_and_si256(c, _mm256_loadu_si256(d + 3)));
      a4 = _mm256_add_epi16(a4, _mm256_and_si256(c, _mm256_loadu_si256(d + 4)));
      a5 = _mm256_add_epi16(a5, _mm256_and_si256(c, _mm256_loadu_si256(d + 5)));
      a6 = _mm256_add_epi16(a6, _mm256_and_si256(c, _mm256_loadu_si256(d + 6)));
      a7 = _mm256_add_epi16(a7, _mm256_and_si256(c, _mm256_loadu_si256(d + 7)));
    }
    __m256i* o = reinterpret_cast<__m256i*>(out + n);
    _mm256_storeu_si256(o, _mm256_sub_epi16(_mm256_add_epi16(a0, a0), q));
    _mm256_storeu_si256(o + 1, _mm256_sub_epi16(_mm256_add_epi16(a1, a1), q));
    _mm256_storeu_si256(o + 2, _mm256_sub_epi16(_mm256_add_epi16(a2, a2), q));
    _mm256_storeu_si256(o + 3, _mm256_sub_epi16(_mm256_add_epi16(a3, a3), q));
    _mm256_storeu_si256(o + 4, _mm256_sub_epi16(_mm256_add_epi16(a4, a4), q));
    _mm256_storeu_si256(o + 5, _mm256_sub_epi16(_mm256_add_epi16(a5, a5), q));
    _mm256_storeu_si256(o + 6, _mm256_sub_epi16(_mm256_add_epi16(a6, a6), q));
    _mm256_storeu_si256(o + 7, _mm256_sub_epi16(_mm256_add_epi16(a7, a7), q));
  }
  for (; n + 16 <= count; n += 16) {
    __m256i a = _mm256_setzero_si256();
    const int16_t* h = mask + n - 1;
    for (int k = 0; k < order; ++k)
      a = _mm256_add_epi16(
          a, _mm256_and_si256(_mm256_set1_epi16(coef[k]),
                              _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h - k))));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + n),
                        _mm256_sub_epi16(_mm256_add_epi16(a, a), q));
  }
  dst_predict_scalar(coef, order, mask, out, n, count);
}

__attribute__((target("avx512f,avx512bw"))) void dst_predict_avx512(const int16_t* coef, int order,
                                                                    const DstBits& bits, int16_t* out,
                                                                    size_t count) {
  // Group g holds coefficients 5g .. 5g+4; entry v of its table is the sum
  // of those coefficients, each with the sign of its bit in v. The bits of
  // position n - 1 - 5g index it for position n: a table of 32 entries
  // fills one register, and a one-register lookup takes half the shuffle
  // work of a two-register one (the lookup reads the low five of the six
  // bits kept per position).
  constexpr int kMaxGroups = (128 + 4) / 5;
  const int groups = (order + 4) / 5;
  alignas(64) int16_t table[kMaxGroups][32];
  // Entry v: minus the group's sum, plus twice each coefficient whose bit
  // is set in v, bit k of v selecting lanes by mask.
  constexpr __mmask32 kBit[5] = {0xAAAAAAAA, 0xCCCCCCCC, 0xF0F0F0F0, 0xFF00FF00, 0xFFFF0000};
  for (int g = 0; g < groups; ++g) {
    int c[5];
    const int sum = dst_coef_group(coef, order, 5 * g, 5, c);
    __m512i t = _mm512_set1_epi16(static_cast<int16_t>(-sum));
    for (int k = 0; k < 5; ++k) t = _mm512_mask_add_epi16(t, kBit[k], t, _mm512_set1_epi16(static_cast<int16_t>(2 * c[k])));
    _mm512_store_si512(table[g], t);
  }
  const int16_t* six = bits.six - 1;
  size_t n = 0;
  for (; n + 128 <= count; n += 128) {
    __m512i a0 = _mm512_setzero_si512(), a1 = a0, a2 = a0, a3 = a0;
    for (int g = 0; g < groups; ++g) {
      const __m512i t = _mm512_load_si512(table[g]);
      const int16_t* y = six + n - 5 * g;
      a0 = _mm512_add_epi16(a0, _mm512_permutexvar_epi16(_mm512_loadu_si512(y), t));
      a1 = _mm512_add_epi16(a1, _mm512_permutexvar_epi16(_mm512_loadu_si512(y + 32), t));
      a2 = _mm512_add_epi16(a2, _mm512_permutexvar_epi16(_mm512_loadu_si512(y + 64), t));
      a3 = _mm512_add_epi16(a3, _mm512_permutexvar_epi16(_mm512_loadu_si512(y + 96), t));
    }
    _mm512_storeu_si512(out + n, a0);
    _mm512_storeu_si512(out + n + 32, a1);
    _mm512_storeu_si512(out + n + 64, a2);
    _mm512_storeu_si512(out + n + 96, a3);
  }
  for (; n + 32 <= count; n += 32) {
    __m512i a = _mm512_setzero_si512();
    for (int g = 0; g < groups; ++g)
      a = _mm512_add_epi16(a, _mm512_permutexvar_epi16(_mm512_loadu_si512(six + n - 5 * g), _mm512_load_si512(table[g])));
    _mm512_storeu_si512(out + n, a);
  }
  dst_predict_scalar(coef, order, bits.mask, out, n, count);
}

}  // namespace varn

#endif  // __x86_64__
