// The 12-bit binary arithmetic coder of DST. A symbol is coded with a
// probability p in 1..128 (in 1/256): the interval of width
// ap = ((A >> 8) | ((A >> 7) & 1)) * p belongs to a 1 symbol (the upper part),
// the rest to a 0 symbol; the range A is kept at 2048 or more by doubling.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varn {

// Encoder. The code bits go to `buf` (cleared by `start`), most significant
// bit first; the first bit is the integer bit of the code value and is
// always 0.
//
// Started without a buffer, the encoder only measures: it writes nothing
// and never flushes, `low` keeps the last 64 bits of the code value (carries
// included, the rest wraps away) and `pending` counts every bit of it. That
// is all `finish` needs for the exact length of the same coding, except in
// the one case where those 64 bits end up all zero (kDstLengthUnknown).
constexpr size_t kDstLengthUnknown = ~static_cast<size_t>(0);

struct DstArithEncoder {
  uint8_t* buf = nullptr;
  size_t limit_bits = 0;  // coding gives up once the output would reach this
  uint64_t low = 0;       // code bits not yet written; the low 13 are the window
  unsigned pending = 13;  // number of bits held in `low` (measuring: all bits)
  uint32_t range = 4095;
  size_t written = 0;  // bits written to buf
  bool overflow = false;

  void start(uint8_t* out, size_t limit);
  inline void encode(uint32_t bit, uint32_t p);
  // Codes `length` positions of `channels` interleaved channels: position n
  // of channel 0, then of channel 1, and so on; stops early on overflow.
  void encode_channels(const uint8_t* const* bits, const uint8_t* const* probs, int channels,
                       size_t length);
  // Writes the shortest ending that a decoder reads back correctly, with
  // trailing zero bits dropped. Returns the code length in bits (measuring:
  // the length it would have, or kDstLengthUnknown).
  size_t finish();

  size_t finish_measuring();
  void flush_word();
  void add_carry();
};

// Codes `count` (1 to kDstArithBatch) independent symbol streams side by
// side, so that their serial register updates overlap in the processor.
// Measuring streams run without the output branch, whose outcome the
// processor cannot predict.
// Stream a codes, for every position n and channel c in the order of
// encode_channels, the symbol byte v = syms[a * channels + c][n]: its top
// bit is the bit, and luts[a * channels + c][v] its probability.
constexpr int kDstArithBatch = 4;
void dst_arith_encode_batch(DstArithEncoder* const* enc, int count, const uint8_t* const* syms,
                            const uint8_t* const* luts, int channels, size_t length);

// A range after a symbol, before it is brought back to 2048 or more: the
// normalised range, the doubling count, and q = (A >> 8) | ((A >> 7) & 1) of
// the normalised range A. Looking these up takes the count of leading zeros
// and the bit arithmetic of q off the serial chain from one symbol to the
// next, in the coder and in the decode check.
struct DstNormalised {
  uint16_t range;
  uint8_t q;
  uint8_t shift;
};

struct DstNormalisedTable {
  DstNormalised v[4096];
};

constexpr DstNormalisedTable dst_make_normalised() {
  DstNormalisedTable t{};
  for (uint32_t a = 1; a < 4096; ++a) {
    uint8_t shift = 0;
    uint32_t n = a;
    while (n < 2048) {
      n <<= 1;
      ++shift;
    }
    t.v[a] = {static_cast<uint16_t>(n), static_cast<uint8_t>((n >> 8) | ((n >> 7) & 1)), shift};
  }
  return t;
}

alignas(64) inline constexpr DstNormalisedTable kDstNormalised = dst_make_normalised();

// one ? a : b without a branch: the coders' bits are unpredictable, and
// left to itself the compiler may turn the choice into a jump.
__attribute__((always_inline)) inline uint64_t dst_select(uint64_t one, uint64_t a, uint64_t b) {
#if defined(__x86_64__)
  __asm__("test %1, %1\n\tcmovnz %2, %0" : "+r"(b) : "r"(one), "r"(a) : "cc");
  return b;
#else
  return b + ((a - b) & (0 - static_cast<uint64_t>(one != 0)));
#endif
}

inline void DstArithEncoder::encode(uint32_t bit, uint32_t p) {
  const uint32_t ap = ((range >> 8) | ((range >> 7) & 1)) * p;
  if (bit) {
    low += range - ap;
    range = ap;
  } else {
    range -= ap;
  }
  const unsigned n = static_cast<unsigned>(__builtin_clz(range)) - 20u;
  range <<= n;
  low <<= n;
  pending += n;
  if (pending >= 45) flush_word();
}

// Decoder over a code string; bits past its end read as 0. The first code
// bit (the integer bit) is skipped.
struct DstArithDecoder {
  const uint8_t* buf = nullptr;
  size_t size_bytes = 0;
  size_t next_byte = 0;
  uint64_t cache = 0;     // upcoming bits, most significant first
  unsigned cached = 0;    // number of valid bits in `cache`
  uint32_t range = 4095;
  uint32_t code = 0;

  void start(const uint8_t* data, size_t bit_offset, size_t total_bits);
  inline void refill() {
    while (cached <= 56) {
      const uint64_t b = next_byte < size_bytes ? buf[next_byte] : 0;
      ++next_byte;
      cache |= b << (56 - cached);
      cached += 8;
    }
  }
  inline uint32_t take(unsigned n) {  // n <= 32
    if (n == 0) return 0;
    if (cached < n) refill();
    const uint32_t v = static_cast<uint32_t>(cache >> (64 - n));
    cache <<= n;
    cached -= n;
    return v;
  }
  inline uint32_t decode(uint32_t p) {
    const uint32_t ap = ((range >> 8) | ((range >> 7) & 1)) * p;
    const uint32_t h = range - ap;
    uint32_t bit;
    if (code >= h) {
      bit = 1;
      code -= h;
      range = ap;
    } else {
      bit = 0;
      range = h;
    }
    const unsigned n = static_cast<unsigned>(__builtin_clz(range)) - 20u;
    range <<= n;
    code = (code << n) | take(n);
    return bit;
  }
};

}  // namespace varn
