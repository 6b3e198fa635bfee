// Scalar prediction kernel and the run-time choice of variant.
#include "dst/dst_kernel.h"

#include <array>
#include <atomic>
#include <utility>

#include "dst/dst_encoder.h"
#include "platform/cpu_features.h"

namespace varn {

namespace {

// The definition, tap by tap: for the few positions of a vector kernel's
// tail, where filling tables would cost more than it saves.
void predict_direct(const int16_t* coef, int order, const int16_t* mask, int16_t* out, size_t begin, size_t count) {
  for (size_t n = begin; n < count; ++n) {
    const int16_t* h = mask + n - 1;
    int32_t p = 0;
    for (int k = 0; k < order; ++k) p += h[-k] ? coef[k] : -coef[k];
    out[n] = static_cast<int16_t>(p);
  }
}

// Positions [begin, count) from the tables of G groups of eight taps.
template <int G>
void predict_tables(const int16_t (*table)[256], const int16_t* mask, int16_t* out, size_t begin, size_t count) {
  uint64_t lo = 0, hi = 0;  // taps 0..63 and 64..127
  for (int k = 0; k < 8 * G; ++k) {
    const uint64_t bit = static_cast<uint64_t>(mask[static_cast<long>(begin) - 1 - k] & 1);
    if (k < 64) lo |= bit << k;
    else hi |= bit << (k - 64);
  }
  for (size_t n = begin; n < count; ++n) {
    int32_t p = 0;
#pragma GCC unroll 16
    for (int g = 0; g < G; ++g) p += table[g][((g < 8 ? lo : hi) >> (8 * (g & 7))) & 255];
    out[n] = static_cast<int16_t>(p);
    hi = (hi << 1) | (lo >> 63);
    lo = (lo << 1) | static_cast<uint64_t>(mask[n] & 1);
  }
}

using TableRun = void (*)(const int16_t (*)[256], const int16_t*, int16_t*, size_t, size_t);
template <size_t... G>
constexpr std::array<TableRun, sizeof...(G)> table_runs(std::index_sequence<G...>) {
  return {predict_tables<int(G) + 1>...};
}
constexpr std::array<TableRun, 16> kTableRuns = table_runs(std::make_index_sequence<16>());

}  // namespace

// Sixteen lookups a position instead of 128 taps; a 128-bit history
// register holds the bits before the position (bit k for position n - 1 - k)
// and each group's index is one of its bytes.
void dst_predict_scalar(const int16_t* coef, int order, const int16_t* mask, int16_t* out,
                        size_t begin, size_t count) {
  if (begin >= count) return;
  if (count - begin < 256) {
    predict_direct(coef, order, mask, out, begin, count);
    return;
  }
  const int groups = (order + 7) / 8;
  int16_t table[16][256];
  for (int g = 0; g < groups; ++g) {
    int c[8];
    const int sum = dst_coef_group(coef, order, 8 * g, 8, c);
    // Entry v: minus the group's sum, plus twice each coefficient whose bit
    // is set in v; each entry from the one without its lowest set bit.
    table[g][0] = static_cast<int16_t>(-sum);
    for (unsigned v = 1; v < 256; ++v)
      table[g][v] = static_cast<int16_t>(table[g][v & (v - 1)] + 2 * c[__builtin_ctz(v)]);
  }
  kTableRuns[groups - 1](table, mask, out, begin, count);
}

namespace {

std::atomic<DstKernel> g_kernel_ceiling{DstKernel::Avx512};

}  // namespace

void dst_limit_kernel(DstKernel highest) { g_kernel_ceiling.store(highest, std::memory_order_relaxed); }

const char* dst_kernel_name(DstKernel kernel) {
  switch (kernel) {
    case DstKernel::Avx2: return "AVX2";
    case DstKernel::Avx512: return "AVX-512";
    case DstKernel::Scalar: break;
  }
  return "scalar";
}

bool dst_kernel_available(DstKernel kernel) {
#if defined(__x86_64__)
  switch (kernel) {
    case DstKernel::Scalar: return true;
    case DstKernel::Avx2: return simd_level() >= 40;
    case DstKernel::Avx512: return simd_level() >= 50 && cpu_features().avx512bw;
  }
  return false;
#else
  return kernel == DstKernel::Scalar;
#endif
}

DstKernel dst_kernel_for(int order) {
  if (!simd_enabled() || order < 8) return DstKernel::Scalar;
  const DstKernel ceiling = g_kernel_ceiling.load(std::memory_order_relaxed);
  for (DstKernel k : {DstKernel::Avx512, DstKernel::Avx2})
    if (k <= ceiling && dst_kernel_available(k)) return k;
  return DstKernel::Scalar;
}

void dst_bits_six(const int16_t* mask, size_t count, int16_t* six) {
  for (long m = 5 - static_cast<long>(kDstKernelHistory); m < static_cast<long>(count); ++m) {
    int v = 0;
    for (int k = 0; k < 6; ++k) v |= (mask[m - k] & 1) << k;
    six[m] = static_cast<int16_t>(v);
  }
}

void dst_predict(DstKernel kernel, const int16_t* coef, int order, const DstBits& bits, int16_t* out,
                 size_t count) {
  const int16_t* mask = bits.mask;
#if defined(__x86_64__)
  switch (kernel) {
    case DstKernel::Avx512: dst_predict_avx512(coef, order, bits, out, count); return;
    case DstKernel::Avx2: dst_predict_avx2(coef, order, bits, out, count); return;
    case DstKernel::Scalar: break;
  }
#else
  (void)kernel;
#endif
  dst_predict_scalar(coef, order, mask, out, 0, count);
}

}  // namespace varn
