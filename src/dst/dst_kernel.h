// The prediction filter kernel of the encoder. For every position n of a
// channel it computes p[n] = sum over k < order of coef[k] * s[n-1-k], with
// s = +1 for a 1 bit and -1 for a 0 bit. The bits come as a 16-bit mask
// array (0xFFFF for a 1 bit, 0 for a 0 bit) that holds at least `order`
// positions of history before position 0. Every variant is exact integer
// arithmetic and returns the same values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varn {

enum class DstKernel { Scalar, Sse41, Avx2, Avx512 };

// The variant used for a filter of this order: the SIMD switch, the
// processor level and the order decide.
DstKernel dst_kernel_for(int order);

// True when the processor can run the variant.
bool dst_kernel_available(DstKernel kernel);

// Process-wide ceiling on the variant dst_kernel_for chooses (Avx512, that
// is none, at start): lets one process compare every variant it can run.
void dst_limit_kernel(DstKernel highest);

// out[n] for n in [0, count). `mask` points at position 0.
void dst_predict(DstKernel kernel, const int16_t* coef, int order, const int16_t* mask,
                 int16_t* out, size_t count);

// The vector variants (x86-64 only); each has a scalar tail.
void dst_predict_scalar(const int16_t* coef, int order, const int16_t* mask, int16_t* out,
                        size_t begin, size_t count);
void dst_predict_sse41(const int16_t* coef, int order, const int16_t* mask, int16_t* out,
                       size_t count);
void dst_predict_avx2(const int16_t* coef, int order, const int16_t* mask, int16_t* out,
                      size_t count);
void dst_predict_avx512(const int16_t* coef, int order, const int16_t* mask, int16_t* out,
                        size_t count);

}  // namespace varn
