// Vector prediction kernels. Each computes blocks of consecutive positions
// at once from tables of the signed sums of small groups of coefficients,
// indexed by the bits before the position. The sums are taken modulo 2^16;
// the true prediction fits 16 bits (|p| <= 128 x 255), so the wrapped
// result is exact.
#include "dst/dst_kernel.h"

#include <algorithm>

#if defined(__x86_64__)

#include <immintrin.h>

namespace varn {

__attribute__((target("avx2"))) void dst_predict_avx2(const int16_t* coef, int order, const DstBits& bits,
                                                     int16_t* out, size_t count) {
  // Group g holds coefficients 4g .. 4g+3; entry v of its table is the sum
  // of those coefficients, each with the sign of its bit in v. A byte
  // shuffle looks up 16 entries, so each table is kept as its low bytes
  // and its high bytes (in both halves of a register); interleaving the two
  // lookups gives the 16-bit entries.
  constexpr int kMaxGroups = 32;
  const int groups = (order + 3) / 4;
  alignas(32) uint8_t lo[kMaxGroups][32], hi[kMaxGroups][32];
  for (int g = 0; g < groups; ++g) {
    int c[4];
    const int sum = dst_coef_group(coef, order, 4 * g, 4, c);
    for (unsigned v = 0; v < 16; ++v) {
      int t = -sum;
      for (int k = 0; k < 4; ++k) t += (v >> k) & 1 ? 2 * c[k] : 0;
      lo[g][v] = lo[g][v + 16] = static_cast<uint8_t>(t);
      hi[g][v] = hi[g][v + 16] = static_cast<uint8_t>(static_cast<uint16_t>(t) >> 8);
    }
  }
  // The four bits before each position as one byte: at m, the bits of m,
  // m-1, m-2 and m-3 as bits 0..3, from 4 (groups - 1) + 1 positions
  // before the first position of a part on.
  constexpr size_t kPart = 4096;
  constexpr long kBefore = 4 * kMaxGroups;
  alignas(32) uint8_t four[kBefore + kPart + 32];
  const __m256i fifteen = _mm256_set1_epi16(15);
  size_t n = 0;
  while (n + 32 <= count) {
    const size_t part = std::min(kPart, (count - n) / 32 * 32);
    const int16_t* six = bits.six + n - kBefore;
    for (long m = 0; m < kBefore + static_cast<long>(part); m += 32) {
      const __m256i a = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(six + m)), fifteen);
      const __m256i b = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(six + m + 16)), fifteen);
      _mm256_store_si256(reinterpret_cast<__m256i*>(four + m),
                         _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8));
    }
    const uint8_t* base = four + kBefore - 1;
    for (size_t i = 0; i < part; i += 32) {
      __m256i even = _mm256_setzero_si256(), odd = even;
      for (int g = 0; g < groups; ++g) {
        const __m256i index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + i - 4 * g));
        const __m256i l = _mm256_shuffle_epi8(_mm256_load_si256(reinterpret_cast<const __m256i*>(lo[g])), index);
        const __m256i h = _mm256_shuffle_epi8(_mm256_load_si256(reinterpret_cast<const __m256i*>(hi[g])), index);
        even = _mm256_add_epi16(even, _mm256_unpacklo_epi8(l, h));
        odd = _mm256_add_epi16(odd, _mm256_unpackhi_epi8(l, h));
      }
      // even: positions 0-7 and 16-23, odd: 8-15 and 24-31.
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + n + i), _mm256_permute2x128_si256(even, odd, 0x20));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + n + i + 16), _mm256_permute2x128_si256(even, odd, 0x31));
    }
    n += part;
  }
  dst_predict_scalar(coef, order, bits.mask, out, n, count);
}

namespace {

// AVX-512: group g holds coefficients 5g .. 5g+4; entry v of its table is
// the sum of those coefficients, each with the sign of its bit in v. The
// bits of position n - 1 - 5g index it for position n: a table of 32
// entries fills one register, and a one-register lookup takes half the
// shuffle work of a two-register one (the lookup reads the low five of the
// six bits kept per position).
constexpr int kMaxGroups5 = (128 + 4) / 5;

// Fills the tables; returns the number of groups.
__attribute__((target("avx512f,avx512bw"))) int group_tables5(const int16_t* coef, int order,
                                                             int16_t (*table)[32]) {
  const int groups = (order + 4) / 5;
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
  return groups;
}

// The predictions of positions n .. n + 127 in four registers; `six` is
// the kernels' six-bit history moved back by one position.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline void predict128(const int16_t (*table)[32],
                                                                                 int groups, const int16_t* six,
                                                                                 size_t n, __m512i* a) {
  a[0] = a[1] = a[2] = a[3] = _mm512_setzero_si512();
  for (int g = 0; g < groups; ++g) {
    const __m512i t = _mm512_load_si512(table[g]);
    const int16_t* y = six + n - 5 * g;
    a[0] = _mm512_add_epi16(a[0], _mm512_permutexvar_epi16(_mm512_loadu_si512(y), t));
    a[1] = _mm512_add_epi16(a[1], _mm512_permutexvar_epi16(_mm512_loadu_si512(y + 32), t));
    a[2] = _mm512_add_epi16(a[2], _mm512_permutexvar_epi16(_mm512_loadu_si512(y + 64), t));
    a[3] = _mm512_add_epi16(a[3], _mm512_permutexvar_epi16(_mm512_loadu_si512(y + 96), t));
  }
}

}  // namespace

__attribute__((target("avx512f,avx512bw"))) void dst_predict_avx512(const int16_t* coef, int order,
                                                                    const DstBits& bits, int16_t* out,
                                                                    size_t count) {
  alignas(64) int16_t table[kMaxGroups5][32];
  const int groups = group_tables5(coef, order, table);
  const int16_t* six = bits.six - 1;
  size_t n = 0;
  for (; n + 128 <= count; n += 128) {
    __m512i a[4];
    predict128(table, groups, six, n, a);
    for (int b = 0; b < 4; ++b) _mm512_storeu_si512(out + n + 32 * b, a[b]);
  }
  for (; n + 32 <= count; n += 32) {
    __m512i a = _mm512_setzero_si512();
    for (int g = 0; g < groups; ++g)
      a = _mm512_add_epi16(a, _mm512_permutexvar_epi16(_mm512_loadu_si512(six + n - 5 * g), _mm512_load_si512(table[g])));
    _mm512_storeu_si512(out + n, a);
  }
  dst_predict_scalar(coef, order, bits.mask, out, n, count);
}

__attribute__((target("avx512f,avx512bw"))) size_t dst_symbols_avx512(const int16_t* coef, int order,
                                                                      const DstBits& bits, size_t length,
                                                                      size_t unpredicted, uint8_t marker,
                                                                      uint8_t* sym, uint32_t (*part)[256]) {
  alignas(64) int16_t table[kMaxGroups5][32];
  const int groups = group_tables5(coef, order, table);
  const int16_t* six = bits.six - 1;
  const size_t whole = length / 128 * 128;
  for (size_t n = 0; n < whole; n += 128) {
    __m512i a[4];
    predict128(table, groups, six, n, a);
    for (int b = 0; b < 4; ++b) {
      const size_t i = n + 32 * static_cast<size_t>(b);
      // The residual bit (the bit differs from the sign of the prediction)
      // over the index |p| >> 3 limited to 63 (|-32768| stays 0x8000).
      const __mmask32 residual = _mm512_cmpge_epi16_mask(a[b], _mm512_setzero_si512()) ^
                                 _mm512_movepi16_mask(_mm512_loadu_si512(bits.mask + i));
      const __m512i index = _mm512_min_epu16(_mm512_srli_epi16(_mm512_abs_epi16(a[b]), 3), _mm512_set1_epi16(63));
      _mm512_mask_cvtepi16_storeu_epi8(sym + i, 0xFFFFFFFFu,
                                       _mm512_mask_add_epi16(index, residual, index, _mm512_set1_epi16(0x80)));
    }
    for (size_t i = n; i < std::min(n + 128, unpredicted); ++i) sym[i] = static_cast<uint8_t>((sym[i] & 0x80) | marker);
    // The previous block is counted here, beside this block's lookups.
    if (part && n >= 128) dst_count_symbols(part, sym, std::max(n - 128, unpredicted), n);
  }
  if (part && whole >= 128) dst_count_symbols(part, sym, std::max(whole - 128, unpredicted), whole);
  return whole;
}

}  // namespace varn

#endif  // __x86_64__
