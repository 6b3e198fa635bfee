// For a lag k the number of disagreeing bits among 64 positions is the
// popcount of the word XOR the word shifted by k; R[k] is then the count of
// agreeing minus disagreeing positions.
#include "dst/dst_autocorr.h"

#include "platform/cpu_features.h"

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

// Disagreement count for lag k over positions [k, length). Inlined into
// each variant, so that the popcount is compiled for that variant's target.
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

__attribute__((always_inline)) inline void autocorrelation_impl(const uint64_t* words, size_t length,
                                                                int max_lag, int64_t* r) {
  const size_t nwords = (length + 63) / 64;
  for (int k = 0; k <= max_lag; ++k) {
    if (static_cast<size_t>(k) >= length) {
      r[k] = 0;
      continue;
    }
    const uint64_t d = disagreements(words, length, nwords, k);
    r[k] = static_cast<int64_t>(length - static_cast<size_t>(k)) - 2 * static_cast<int64_t>(d);
  }
}

void autocorrelation_generic(const uint64_t* words, size_t length, int max_lag, int64_t* r) {
  autocorrelation_impl(words, length, max_lag, r);
}

#if defined(__x86_64__)
__attribute__((target("popcnt"))) void autocorrelation_popcnt(const uint64_t* words,
                                                              size_t length, int max_lag,
                                                              int64_t* r) {
  autocorrelation_impl(words, length, max_lag, r);
}
#endif

}  // namespace

void dst_autocorrelation(const uint64_t* words, size_t length, int max_lag, int64_t* r) {
#if defined(__x86_64__)
  if (cpu_features().popcnt) {
    autocorrelation_popcnt(words, length, max_lag, r);
    return;
  }
#endif
  autocorrelation_generic(words, length, max_lag, r);
}

}  // namespace varn
