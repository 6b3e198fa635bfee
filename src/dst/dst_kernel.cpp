// Scalar prediction kernel and the run-time choice of variant.
#include "dst/dst_kernel.h"

#include <atomic>

#include "dst/dst_encoder.h"
#include "platform/cpu_features.h"

namespace varn {

void dst_predict_scalar(const int16_t* coef, int order, const int16_t* mask, int16_t* out,
                        size_t begin, size_t count) {
  for (size_t n = begin; n < count; ++n) {
    const int16_t* h = mask + n - 1;
    int32_t p = 0;
    for (int k = 0; k < order; ++k) p += h[-k] ? coef[k] : -coef[k];
    out[n] = static_cast<int16_t>(p);
  }
}

namespace {

std::atomic<DstKernel> g_kernel_ceiling{DstKernel::Avx512};

}  // namespace

void dst_limit_kernel(DstKernel highest) { g_kernel_ceiling.store(highest, std::memory_order_relaxed); }

const char* dst_kernel_name(DstKernel kernel) {
  switch (kernel) {
    case DstKernel::Sse41: return "SSE4.1";
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
    case DstKernel::Sse41: return simd_level() >= 20;
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
  for (DstKernel k : {DstKernel::Avx512, DstKernel::Avx2, DstKernel::Sse41})
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
    case DstKernel::Avx2: dst_predict_avx2(coef, order, mask, out, count); return;
    case DstKernel::Sse41: dst_predict_sse41(coef, order, mask, out, count); return;
    case DstKernel::Scalar: break;
  }
#else
  (void)kernel;
#endif
  dst_predict_scalar(coef, order, mask, out, 0, count);
}

}  // namespace varn
