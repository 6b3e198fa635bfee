// The prediction filter kernel of the encoder. For every position n of a
// channel it computes p[n] = sum over k < order of coef[k] * s[n-1-k], with
// s = +1 for a 1 bit and -1 for a 0 bit. Every variant is exact integer
// arithmetic and returns the same values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varn {

// Below AVX2 the scalar variant runs: looking its sums up in tables, it is
// faster than a 128-bit vector of masked coefficients.
enum class DstKernel { Scalar, Avx2, Avx512 };

// Positions of history the kernels read before position 0.
constexpr size_t kDstKernelHistory = 136;

// A channel's bits as the kernels read them, both arrays at position 0 with
// kDstKernelHistory positions before it.
struct DstBits {
  const int16_t* mask;  // 0 for a 0 bit, -1 (0xFFFF) for a 1 bit
  const int16_t* six;   // at n: the bits of n, n-1, ..., n-5 as bits 0..5
};

// The coefficients first .. first + n - 1 of a filter of `order` taps into
// c (0 past the order); returns their sum. The table-driven variants build
// each group's table from them.
inline int dst_coef_group(const int16_t* coef, int order, int first, int n, int* c) {
  int sum = 0;
  for (int k = 0; k < n; ++k) {
    c[k] = first + k < order ? coef[first + k] : 0;
    sum += c[k];
  }
  return sum;
}

// Counts the bytes s[from .. to) into four tables of 256 counts in turn (so
// that a byte repeated next to itself does not wait on its own count).
inline void dst_count_symbols(uint32_t (*part)[256], const uint8_t* s, size_t from, size_t to) {
  size_t i = from;
  for (; i + 4 <= to; i += 4) {
    ++part[0][s[i]];
    ++part[1][s[i + 1]];
    ++part[2][s[i + 2]];
    ++part[3][s[i + 3]];
  }
  for (; i < to; ++i) ++part[0][s[i]];
}

// Fills `six` for positions [5 - kDstKernelHistory, count) from `mask`.
void dst_bits_six(const int16_t* mask, size_t count, int16_t* six);

// The variant used for a filter of this order: the SIMD switch, the
// processor level and the order decide.
DstKernel dst_kernel_for(int order);

// The variant's name ("scalar", "AVX2", "AVX-512").
const char* dst_kernel_name(DstKernel kernel);

// True when the processor can run the variant.
bool dst_kernel_available(DstKernel kernel);

// Process-wide ceiling on the variant dst_kernel_for chooses (Avx512, that
// is none, at start): lets one process compare every variant it can run.
void dst_limit_kernel(DstKernel highest);

// out[n] for n in [0, count).
void dst_predict(DstKernel kernel, const int16_t* coef, int order, const DstBits& bits, int16_t* out,
                 size_t count);

// Positions [begin, count) only. Runs of 256 positions or more go through
// tables of the signed sums of each group of eight coefficients, looked up
// by the group's eight bits; shorter ones (the vector variants' tails) tap
// by tap.
void dst_predict_scalar(const int16_t* coef, int order, const int16_t* mask, int16_t* out,
                        size_t begin, size_t count);
// The vector variants (x86-64 only); each has a scalar tail.
// Table-driven: the coefficients in groups of four, each group's 16 signed
// sums looked up for 32 positions at once by byte shuffles.
void dst_predict_avx2(const int16_t* coef, int order, const DstBits& bits, int16_t* out, size_t count);
// Table-driven: the coefficients in groups of five, each group's 32 signed
// sums looked up for 32 positions at once by their five bits.
void dst_predict_avx512(const int16_t* coef, int order, const DstBits& bits, int16_t* out,
                        size_t count);
// The AVX-512 predictions of the whole blocks of 128 among `length`
// positions turned into symbol bytes at once: the residual bit (bit 7) over
// the table index min(|p| >> 3, 63), the index replaced by `marker` below
// `unpredicted`; the symbols from `unpredicted` on counted into the four
// tables `part` (as dst_count_symbols, added to) when it is given. Returns
// the positions done.
size_t dst_symbols_avx512(const int16_t* coef, int order, const DstBits& bits, size_t length, size_t unpredicted,
                          uint8_t marker, uint8_t* sym, uint32_t (*part)[256]);

}  // namespace varn
