#include "dst/dst_symbols.h"

#include <algorithm>

#include "dst/dst_bits.h"
#include "dst/dst_kernel.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace varn {

namespace {

#if defined(__x86_64__)
// Masks of 32 positions (four of the channel's bytes, `stride` apart) at a
// time, for at most `bytes` bytes from `at`; returns the positions done.
__attribute__((target("avx512f,avx512bw"))) long unpack_wide(const uint8_t* at, size_t stride, long bytes,
                                                            int16_t* mask) {
  long i = 0;
  for (; i + 4 <= bytes; i += 4) {
    const uint32_t bits = kDstByteReverse.v[at[0]] | static_cast<uint32_t>(kDstByteReverse.v[at[stride]]) << 8 |
                          static_cast<uint32_t>(kDstByteReverse.v[at[2 * stride]]) << 16 |
                          static_cast<uint32_t>(kDstByteReverse.v[at[3 * stride]]) << 24;
    _mm512_storeu_si512(mask + i * 8, _mm512_movm_epi16(bits));
    at += 4 * stride;
  }
  return i * 8;
}

// dst_bits_six, 32 positions at a time.
__attribute__((target("avx512f,avx512bw"))) void six_wide(const int16_t* mask, size_t count, int16_t* six) {
  long m = 5 - static_cast<long>(kDstKernelHistory);
  for (; m + 32 <= static_cast<long>(count); m += 32) {
    __m512i v = _mm512_setzero_si512();
    for (int k = 0; k < 6; ++k)
      v = _mm512_or_si512(v, _mm512_and_si512(_mm512_loadu_si512(mask + m - k), _mm512_set1_epi16(static_cast<int16_t>(1 << k))));
    _mm512_storeu_si512(six + m, v);
  }
  for (; m < static_cast<long>(count); ++m) {
    int v = 0;
    for (int k = 0; k < 6; ++k) v |= (mask[m - k] & 1) << k;
    six[m] = static_cast<int16_t>(v);
  }
}
#endif

}  // namespace

void dst_unpack_bit_range(const uint8_t* frame, int channels, int c, size_t first, size_t count, int16_t* mask,
                          int16_t* six) {
  const size_t C = static_cast<size_t>(channels);
#if defined(__x86_64__)
  const bool wide = dst_kernel_for(128) == DstKernel::Avx512;
#else
  const bool wide = false;
#endif
  const long end = static_cast<long>(count);
  long i = -static_cast<long>(kDstKernelHistory);
  // Before the frame: alternating bits, 0 at position -1.
  for (; i < end && static_cast<long>(first) + i < 0; ++i)
    mask[i] = static_cast<int16_t>((-(static_cast<long>(first) + i)) % 2 == 0 ? -1 : 0);
  auto bit_at = [&](long at) {
    const size_t p = static_cast<size_t>(static_cast<long>(first) + at);
    return static_cast<int16_t>(-((frame[(p / 8) * C + static_cast<size_t>(c)] >> (7 - p % 8)) & 1));
  };
  for (; i < end && (static_cast<long>(first) + i) % 8 != 0; ++i) mask[i] = bit_at(i);
  // Whole bytes.
  auto byte_at = [&](long at) { return frame + ((static_cast<size_t>(static_cast<long>(first) + at)) / 8) * C + static_cast<size_t>(c); };
#if defined(__x86_64__)
  if (wide && i < end) i += unpack_wide(byte_at(i), C, (end - i) / 8, mask + i);
#endif
  for (; i + 8 <= end; i += 8) {
    const unsigned byte = *byte_at(i);
    for (int j = 0; j < 8; ++j) mask[i + j] = static_cast<int16_t>(-static_cast<int>((byte >> (7 - j)) & 1));
  }
  for (; i < end; ++i) mask[i] = bit_at(i);
#if defined(__x86_64__)
  if (wide) {
    six_wide(mask, count, six);
    return;
  }
#endif
  dst_bits_six(mask, count, six);
}

namespace {

// Symbol bytes of predictions, without their index limit for the
// unpredicted positions.
void symbols_generic(const int16_t* pred, const int16_t* mask, uint8_t* s, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const int p = pred[i];
    const unsigned residual = static_cast<unsigned>(mask[i] & 1) ^ (p >= 0 ? 1u : 0u);
    const int mag = (p < 0 ? -p : p) >> 3;
    s[i] = static_cast<uint8_t>((residual << 7) | static_cast<unsigned>(mag < 63 ? mag : 63));
  }
}

}  // namespace

void dst_channel_symbols(const int16_t* coef, int order, const DstBits& bits, size_t length,
                         size_t unpredicted, uint8_t* sym, uint32_t* counts, int16_t* pred) {
  const DstKernel kernel = dst_kernel_for(order);
  uint32_t part[4][256] = {};
  size_t done = 0;
#if defined(__x86_64__)
  if (kernel == DstKernel::Avx512)
    done = dst_symbols_avx512(coef, order, bits, length, unpredicted, kDstUnpredicted, sym, counts ? part : nullptr);
#endif
  for (size_t b = done; b < length; b += kDstSymbolBlock) {
    const size_t count = std::min(kDstSymbolBlock, length - b);
    dst_predict(kernel, coef, order, DstBits{bits.mask + b, bits.six + b}, pred, count);
    uint8_t* s = sym + b;
    symbols_generic(pred, bits.mask + b, s, count);
    const size_t first = std::clamp(unpredicted, b, b + count) - b;
    for (size_t i = 0; i < first; ++i) s[i] = static_cast<uint8_t>((s[i] & 0x80) | kDstUnpredicted);
    if (counts) dst_count_symbols(part, s, first, count);
  }
  if (counts)
    for (int i = 0; i < 256; ++i) counts[i] += part[0][i] + part[1][i] + part[2][i] + part[3][i];
}

void dst_symbol_lut(const uint8_t* table, int table_length, uint8_t lut[256]) {
  for (int v = 0; v < 256; ++v) {
    const int index = v & 127;
    lut[v] = index >= kDstUnpredicted ? 128 : table[std::min(index, table_length - 1)];
  }
}

}  // namespace varn
