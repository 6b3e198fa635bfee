// Most-significant-bit-first bit writer and reader over byte buffers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varn {

struct BitWriter {
  uint8_t* buf = nullptr;
  size_t pos = 0;  // bits written

  // Appends the low `n` bits of v (n <= 32), most significant first. The
  // bytes written to must have been cleared.
  void put(uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) {
      if ((v >> i) & 1) buf[pos >> 3] |= static_cast<uint8_t>(0x80u >> (pos & 7));
      ++pos;
    }
  }
};

struct BitReader {
  const uint8_t* buf = nullptr;
  size_t size_bits = 0;
  size_t pos = 0;

  size_t left() const { return pos < size_bits ? size_bits - pos : 0; }
  // Next bit; 0 past the end.
  uint32_t bit() {
    uint32_t b = pos < size_bits ? (buf[pos >> 3] >> (7 - (pos & 7))) & 1u : 0u;
    ++pos;
    return b;
  }
  // Next n bits (n <= 32) as an unsigned value; 0 bits past the end.
  uint32_t get(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | bit();
    return v;
  }
  // Next n bits as a two's-complement value.
  int32_t get_signed(int n) {
    uint32_t v = get(n);
    if (n > 0 && ((v >> (n - 1)) & 1)) return static_cast<int32_t>(v) - (1 << n);
    return static_cast<int32_t>(v);
  }
};

// Every byte with its bit order reversed: bit j of v[b] is bit 7 - j of b.
struct DstByteReverse {
  uint8_t v[256];
  constexpr DstByteReverse() : v() {
    for (unsigned b = 0; b < 256; ++b)
      for (int j = 0; j < 8; ++j) v[b] = static_cast<uint8_t>(v[b] | ((b >> j) & 1u) << (7 - j));
  }
};
inline constexpr DstByteReverse kDstByteReverse;

// ORs `bits` bits from `src` (starting at its first bit) into `dst` at bit
// offset `at`; the destination bytes from there on must be clear.
inline void dst_splice_bits(uint8_t* dst, size_t at, const uint8_t* src, size_t bits) {
  const size_t nbytes = (bits + 7) / 8;
  const unsigned sh = at & 7;
  uint8_t* d = dst + at / 8;
  if (sh == 0) {
    for (size_t i = 0; i < nbytes; ++i) d[i] |= src[i];
  } else {
    for (size_t i = 0; i < nbytes; ++i) {
      d[i] |= static_cast<uint8_t>(src[i] >> sh);
      d[i + 1] |= static_cast<uint8_t>(src[i] << (8 - sh));
    }
  }
}

}  // namespace varn
