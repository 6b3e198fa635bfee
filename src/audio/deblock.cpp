#include "audio/deblock.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "audio/bit_reverse.h"

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

template <bool Reverse>
void weave(const uint8_t* src, size_t stride, size_t n, uint32_t channels, const uint8_t* table,
           uint8_t* dst) {
  if (channels == 2 && (!Reverse || table == bit_reverse_table()))
    return weave_stereo<Reverse>(src, stride, n, dst);
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
    // Several whole block rows per read.
    const uint64_t rows_per_pass = std::max<uint64_t>(1, kSlice / block);
    const uint64_t row = C * block;
    std::vector<uint8_t> buf(size_t(std::min(rows_per_pass, blocks - first_block) * row));
    for (uint64_t k0 = first_block; k0 < blocks; k0 += rows_per_pass) {
      const uint64_t rows = std::min(rows_per_pass, blocks - k0);
      ok &= fill(src, k0 * row, buf.data(), size_t(rows * row));
      for (uint64_t r = 0; r < rows; ++r) {
        const uint64_t at = (k0 + r) * block;
        const uint64_t a = std::max(at, from);
        const uint64_t b = std::min(at + block, end);
        weave_channels(buf.data() + r * row + (a - at), size_t(block), size_t(b - a), channels, table,
                       out + (a - from) * C);
      }
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
