#include "audio/deblock.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "audio/bit_reverse.h"
#include "platform/cpu_features.h"
#include "platform/mapped_file.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace varn {

namespace {

// Bytes per channel handled in one pass.
constexpr uint64_t kSlice = uint64_t(1) << 20;

template <uint32_t C, bool Reverse>
void weave_fixed(const uint8_t* src, size_t stride, size_t n, const uint8_t* table, uint8_t* dst) {
  const uint8_t* s[C];
  for (uint32_t c = 0; c < C; ++c) s[c] = src + c * stride;
  for (size_t j = 0; j < n; ++j, dst += C)
    for (uint32_t c = 0; c < C; ++c) dst[c] = Reverse ? table[s[c][j]] : s[c][j];
}

template <bool Reverse>
void weave_any(const uint8_t* src, size_t stride, size_t n, uint32_t channels,
               const uint8_t* table, uint8_t* dst) {
  for (uint32_t c = 0; c < channels; ++c) {
    const uint8_t* s = src + c * stride;
    uint8_t* d = dst + c;
    for (size_t j = 0; j < n; ++j, d += channels) *d = Reverse ? table[s[j]] : s[j];
  }
}

// The bits of every byte of a word reversed.
inline uint64_t reverse_byte_bits(uint64_t x) {
  x = ((x >> 1) & 0x5555555555555555ull) | ((x & 0x5555555555555555ull) << 1);
  x = ((x >> 2) & 0x3333333333333333ull) | ((x & 0x3333333333333333ull) << 2);
  return ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((x & 0x0F0F0F0F0F0F0F0Full) << 4);
}

// Four bytes moved to the even bytes of a word (little-endian order).
inline uint64_t spread_bytes(uint64_t x) {
  x = (x | (x << 16)) & 0x0000FFFF0000FFFFull;
  return (x | (x << 8)) & 0x00FF00FF00FF00FFull;
}

// Stereo, the most common input, eight bytes of each channel at a time in
// plain word arithmetic that the compiler can vectorise.
template <bool Reverse>
void weave_stereo(const uint8_t* src, size_t stride, size_t n, uint8_t* dst) {
  const uint8_t* l = src;
  const uint8_t* r = src + stride;
  size_t j = 0;
  for (; j + 8 <= n; j += 8) {
    uint64_t a, b;
    std::memcpy(&a, l + j, 8);
    std::memcpy(&b, r + j, 8);
    if (Reverse) {
      a = reverse_byte_bits(a);
      b = reverse_byte_bits(b);
    }
    const uint64_t lo = spread_bytes(a & 0xFFFFFFFFu) | (spread_bytes(b & 0xFFFFFFFFu) << 8);
    const uint64_t hi = spread_bytes(a >> 32) | (spread_bytes(b >> 32) << 8);
    std::memcpy(dst + 2 * j, &lo, 8);
    std::memcpy(dst + 2 * j + 8, &hi, 8);
  }
  for (; j < n; ++j) {
    uint64_t a = l[j], b = r[j];
    if (Reverse) {
      a = reverse_byte_bits(a);
      b = reverse_byte_bits(b);
    }
    dst[2 * j] = uint8_t(a);
    dst[2 * j + 1] = uint8_t(b);
  }
}

#if defined(__x86_64__)
// The bits of each byte reversed through two nibble lookups.
__attribute__((target("avx2"))) inline __m256i reverse_bits_avx2(__m256i x) {
  // Entry i: nibble i reversed, placed as the high nibble (for a low
  // nibble) or the low one (for a high nibble).
  const __m256i low_to_high = _mm256_setr_epi8(
      0x00, char(0x80), 0x40, char(0xC0), 0x20, char(0xA0), 0x60, char(0xE0), 0x10, char(0x90), 0x50, char(0xD0),
      0x30, char(0xB0), 0x70, char(0xF0), 0x00, char(0x80), 0x40, char(0xC0), 0x20, char(0xA0), 0x60, char(0xE0),
      0x10, char(0x90), 0x50, char(0xD0), 0x30, char(0xB0), 0x70, char(0xF0));
  const __m256i high_to_low = _mm256_setr_epi8(0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE, 0x1, 0x9, 0x5, 0xD, 0x3, 0xB,
                                               0x7, 0xF, 0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE, 0x1, 0x9, 0x5, 0xD,
                                               0x3, 0xB, 0x7, 0xF);
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i lo = _mm256_shuffle_epi8(low_to_high, _mm256_and_si256(x, nibble));
  const __m256i hi = _mm256_shuffle_epi8(high_to_low, _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble));
  return _mm256_or_si256(lo, hi);
}

// Stereo 32 bytes of each channel at a time, the channels interleaved by
// byte unpacking (within 128-bit halves, hence the final half swap).
template <bool Reverse>
__attribute__((target("avx2"))) void weave_stereo_avx2(const uint8_t* src, size_t stride, size_t n, uint8_t* dst) {
  const uint8_t* l = src;
  const uint8_t* r = src + stride;
  size_t j = 0;
  for (; j + 32 <= n; j += 32) {
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(l + j));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r + j));
    if (Reverse) {
      a = reverse_bits_avx2(a);
      b = reverse_bits_avx2(b);
    }
    const __m256i lo = _mm256_unpacklo_epi8(a, b);  // bytes 0-7 and 16-23 of each, woven
    const __m256i hi = _mm256_unpackhi_epi8(a, b);  // bytes 8-15 and 24-31
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 2 * j), _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 2 * j + 32), _mm256_permute2x128_si256(lo, hi, 0x31));
  }
  weave_stereo<Reverse>(l + j, stride, n - j, dst + 2 * j);
}
#endif

template <bool Reverse>
void weave(const uint8_t* src, size_t stride, size_t n, uint32_t channels, const uint8_t* table,
           uint8_t* dst) {
  if (channels == 2 && (!Reverse || table == bit_reverse_table())) {
#if defined(__x86_64__)
    if (cpu_features().avx2_usable) return weave_stereo_avx2<Reverse>(src, stride, n, dst);
#endif
    return weave_stereo<Reverse>(src, stride, n, dst);
  }
  switch (channels) {
    case 1: return weave_fixed<1, Reverse>(src, stride, n, table, dst);
    case 2: return weave_fixed<2, Reverse>(src, stride, n, table, dst);
    case 5: return weave_fixed<5, Reverse>(src, stride, n, table, dst);
    case 6: return weave_fixed<6, Reverse>(src, stride, n, table, dst);
    default: return weave_any<Reverse>(src, stride, n, channels, table, dst);
  }
}

// Fills n bytes from the region offset `at`; what lies past the region
// becomes 0. A short read moves the region's end to where reading stopped.
bool fill(DeblockSource& src, uint64_t at, uint8_t* buf, size_t n) {
  size_t want = at < src.region ? size_t(std::min<uint64_t>(n, src.region - at)) : 0;
  size_t got = want ? read_at(*src.in, src.start + at, buf, want) : 0;
  std::memset(buf + got, 0, n - got);
  if (got == want) return true;
  src.region = at + got;
  return false;
}

// Block rows [first_row, first_row + rows) of a DSF region, whose bytes
// start at `bytes`, woven into `out` where they fall in [from, end).
struct RowPass {
  const uint8_t* bytes;
  uint64_t first_row;
  uint64_t rows;
  uint64_t block;
  uint32_t channels;
  const uint8_t* table;
  uint64_t from, end;
  uint8_t* out;
};

void weave_rows(void* arg) {
  const RowPass& p = *static_cast<const RowPass*>(arg);
  const uint64_t row = uint64_t(p.channels) * p.block;
  for (uint64_t r = 0; r < p.rows; ++r) {
    const uint64_t at = (p.first_row + r) * p.block;
    const uint64_t a = std::max(at, p.from);
    const uint64_t b = std::min(at + p.block, p.end);
    weave_channels(p.bytes + r * row + (a - at), size_t(p.block), size_t(b - a), p.channels, p.table,
                   p.out + (a - p.from) * p.channels);
  }
}

}  // namespace

void weave_channels(const uint8_t* src, size_t stride, size_t n, uint32_t channels,
                    const uint8_t* table, uint8_t* dst) {
  if (table)
    weave<true>(src, stride, n, channels, table, dst);
  else
    weave<false>(src, stride, n, channels, table, dst);
}

bool deblock_dsf(DeblockSource& src, uint32_t channels, uint64_t bpc, uint64_t block,
                 const uint8_t* table, uint8_t* out) {
  return deblock_dsf_range(src, channels, bpc, block, table, 0, bpc, out);
}

bool deblock_dsf_range(DeblockSource& src, uint32_t channels, uint64_t bpc, uint64_t block,
                       const uint8_t* table, uint64_t from, uint64_t count, uint8_t* out) {
  if (from >= bpc) return true;
  count = std::min(count, bpc - from);
  if (count == 0 || block == 0 || channels == 0) return true;
  const uint64_t C = channels;
  const uint64_t end = from + count;
  const uint64_t first_block = from / block;
  const uint64_t blocks = (end - 1) / block + 1;
  bool ok = true;
  if (block <= kSlice) {
    // Several whole block rows per pass, read in place from the mapped file
    // where it can be mapped, else read into a buffer.
    const uint64_t rows_per_pass = std::max<uint64_t>(1, kSlice / block);
    const uint64_t row = C * block;
    std::vector<uint8_t> buf;
    RowPass pass{nullptr, 0, 0, block, channels, table, from, end, out};
    for (pass.first_row = first_block; pass.first_row < blocks; pass.first_row += rows_per_pass) {
      pass.rows = std::min(rows_per_pass, blocks - pass.first_row);
      const uint64_t at = pass.first_row * row;
      const size_t n = size_t(pass.rows * row);
      pass.bytes = at + n <= src.region && src.in->f
                       ? map_file_range(src.in->window, fileno(src.in->f), src.in->size, src.start + at, n)
                       : nullptr;
      if (pass.bytes) {
        if (guarded_mapped_read(weave_rows, &pass)) continue;
        // The file shrank under the mapping: what follows reads as past
        // its end, as after a short read.
        src.region = std::min(src.region, at);
        ok = false;
      }
      buf.resize(n);
      ok &= fill(src, at, buf.data(), n);
      pass.bytes = buf.data();
      weave_rows(&pass);
    }
  } else {
    // Large blocks: a slice of each channel's block per pass.
    std::vector<uint8_t> buf(size_t(C * std::min(kSlice, count)));
    const uint64_t stride = std::min(kSlice, count);
    for (uint64_t k = first_block; k < blocks; ++k) {
      const uint64_t at = k * block;
      const uint64_t a = std::max(at, from);
      const uint64_t b = std::min(at + block, end);
      for (uint64_t j0 = a; j0 < b; j0 += stride) {
        const uint64_t n = std::min(stride, b - j0);
        for (uint64_t c = 0; c < C; ++c)
          ok &= fill(src, k * C * block + c * block + (j0 - at), buf.data() + c * stride, size_t(n));
        weave_channels(buf.data(), size_t(stride), size_t(n), channels, table, out + (j0 - from) * C);
      }
    }
  }
  return ok;
}

}  // namespace varn
