// For a lag k the number of disagreeing bits among 64 positions is the
// popcount of the word XOR the word shifted by k; R[k] is then the count of
// agreeing minus disagreeing positions.
#include "dst/dst_autocorr.h"

#include "dst/dst_kernel.h"
#include "platform/cpu_features.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace varn {

void dst_pack_bits(const uint8_t* bits, size_t length, uint64_t* words) {
  const size_t nwords = (length + 63) / 64;
  for (size_t i = 0; i < nwords; ++i) {
    uint64_t w = 0;
    const size_t base = i * 64;
    const size_t end = base + 64 < length ? 64 : length - base;
    for (size_t j = 0; j < end; ++j) w |= static_cast<uint64_t>(bits[base + j] & 1) << j;
    words[i] = w;
  }
}

namespace {

#if defined(__x86_64__)
// Disagreements over the whole words [i, end), eight at a time; returns
// where it stopped. A shift by 64 gives 0, as the lag needs when sh is 0.
__attribute__((target("avx512f,avx512vpopcntdq"))) size_t full_words_wide(const uint64_t* w, size_t i, size_t end,
                                                                          size_t a, unsigned sh, uint64_t& count) {
  const __m512i zero = _mm512_setzero_si512();
  __m512i acc = zero;
  const __m128i left = _mm_cvtsi32_si128(static_cast<int>(sh));
  const __m128i right = _mm_cvtsi32_si128(static_cast<int>(64 - sh));
  for (; i + 8 <= end; i += 8) {
    const __m512i lag = _mm512_or_si512(_mm512_mask_sll_epi64(zero, 0xFF, _mm512_loadu_si512(w + i - a), left),
                                        _mm512_mask_srl_epi64(zero, 0xFF, _mm512_loadu_si512(w + i - a - 1), right));
    acc = _mm512_add_epi64(acc, _mm512_popcnt_epi64(_mm512_xor_si512(_mm512_loadu_si512(w + i), lag)));
  }
  alignas(64) uint64_t lanes[8];
  _mm512_store_si512(lanes, acc);
  for (uint64_t v : lanes) count += v;
  return i;
}
#else
size_t full_words_wide(const uint64_t*, size_t i, size_t, size_t, unsigned, uint64_t&) { return i; }
#endif

// Disagreement count for lag k over positions [k, length). Inlined into
// each variant, so that the popcount is compiled for that variant's target.
template <bool kWide>
__attribute__((always_inline)) inline uint64_t disagreements(const uint64_t* w, size_t length,
                                                             size_t nwords, int k) {
  const size_t a = static_cast<size_t>(k) / 64;
  const unsigned sh = static_cast<unsigned>(k) % 64;
  uint64_t count = 0;
  size_t i = a;
  // First word: positions below k do not count.
  {
    const uint64_t lag = sh ? (w[i - a] << sh) | (w[i - a - 1] >> (64 - sh)) : w[i - a];
    uint64_t x = (w[i] ^ lag) & (~0ULL << sh);
    if (i == nwords - 1 && (length & 63)) x &= (1ULL << (length & 63)) - 1;
    count += static_cast<uint64_t>(__builtin_popcountll(x));
    ++i;
  }
  const size_t full_end = (length & 63) ? nwords - 1 : nwords;
  if constexpr (kWide) i = full_words_wide(w, i, full_end, a, sh, count);
  if (sh) {
    for (; i < full_end; ++i)
      count += static_cast<uint64_t>(__builtin_popcountll(w[i] ^ ((w[i - a] << sh) | (w[i - a - 1] >> (64 - sh)))));
  } else {
    for (; i < full_end; ++i) count += static_cast<uint64_t>(__builtin_popcountll(w[i] ^ w[i - a]));
  }
  if (i < nwords) {
    const uint64_t lag = sh ? (w[i - a] << sh) | (w[i - a - 1] >> (64 - sh)) : w[i - a];
    count += static_cast<uint64_t>(__builtin_popcountll((w[i] ^ lag) & ((1ULL << (length & 63)) - 1)));
  }
  return count;
}

template <bool kWide>
__attribute__((always_inline)) inline void autocorrelation_impl(const uint64_t* words, size_t length,
                                                                int max_lag, int64_t* r) {
  const size_t nwords = (length + 63) / 64;
  for (int k = 0; k <= max_lag; ++k) {
    if (static_cast<size_t>(k) >= length) {
      r[k] = 0;
      continue;
    }
    const uint64_t d = disagreements<kWide>(words, length, nwords, k);
    r[k] = static_cast<int64_t>(length - static_cast<size_t>(k)) - 2 * static_cast<int64_t>(d);
  }
}

void autocorrelation_generic(const uint64_t* words, size_t length, int max_lag, int64_t* r) {
  autocorrelation_impl<false>(words, length, max_lag, r);
}

#if defined(__x86_64__)
__attribute__((target("popcnt"))) void autocorrelation_avx512(const uint64_t* words, size_t length, int max_lag,
                                                              int64_t* r) {
  autocorrelation_impl<true>(words, length, max_lag, r);
}

__attribute__((target("popcnt"))) void autocorrelation_popcnt(const uint64_t* words,
                                                              size_t length, int max_lag,
                                                              int64_t* r) {
  autocorrelation_impl<false>(words, length, max_lag, r);
}
#endif

}  // namespace

void dst_autocorrelation(const uint64_t* words, size_t length, int max_lag, int64_t* r) {
#if defined(__x86_64__)
  if (cpu_features().avx512vpopcntdq && dst_kernel_for(128) == DstKernel::Avx512) {
    autocorrelation_avx512(words, length, max_lag, r);
    return;
  }
  if (cpu_features().popcnt) {
    autocorrelation_popcnt(words, length, max_lag, r);
    return;
  }
#endif
  autocorrelation_generic(words, length, max_lag, r);
}

}  // namespace varn
