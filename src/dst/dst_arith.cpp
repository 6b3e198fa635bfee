#include "dst/dst_arith.h"

#include <cstring>

namespace varn {

void DstArithEncoder::start(uint8_t* out, size_t limit) {
  buf = out;
  limit_bits = limit;
  low = 0;
  pending = 13;
  range = 4095;
  written = 0;
  overflow = false;
  std::memset(buf, 0, limit / 8 + 16);
}

// A carry out of `low` adds one at the last written bit.
void DstArithEncoder::add_carry() {
  size_t p = written;
  while (p > 0) {
    --p;
    uint8_t& byte = buf[p >> 3];
    const uint8_t m = static_cast<uint8_t>(0x80u >> (p & 7));
    if (byte & m) {
      byte = static_cast<uint8_t>(byte & ~m);
    } else {
      byte = static_cast<uint8_t>(byte | m);
      return;
    }
  }
}

void DstArithEncoder::flush_word() {
  if (low >> pending) {
    add_carry();
    low &= (1ULL << pending) - 1;
  }
  if (written + pending - 13 >= limit_bits) {
    // Keep the registers bounded; the result is discarded anyway.
    overflow = true;
    low &= 0x1FFF;
    pending = 13;
    return;
  }
  const uint32_t word = static_cast<uint32_t>(low >> (pending - 32));
  pending -= 32;
  low &= (1ULL << pending) - 1;
  // Words are written whole, so `written` stays a multiple of 32 here.
  uint8_t* d = buf + (written >> 3);
  d[0] = static_cast<uint8_t>(word >> 24);
  d[1] = static_cast<uint8_t>(word >> 16);
  d[2] = static_cast<uint8_t>(word >> 8);
  d[3] = static_cast<uint8_t>(word);
  written += 32;
}

void DstArithEncoder::encode_channels(const uint8_t* const* bits, const uint8_t* const* probs,
                                      int channels, size_t length) {
  // The registers are kept in locals through the loop and stored back
  // around each word flush.
  uint64_t lo = low;
  uint32_t a = range;
  unsigned pend = pending;
  for (size_t n = 0; n < length; ++n) {
    for (int c = 0; c < channels; ++c) {
      const uint32_t p = probs[c][n];
      const uint32_t ap = ((a >> 8) | ((a >> 7) & 1)) * p;
      const uint32_t rest = a - ap;
      // Branch-free: residual ones are rare but unpredictable.
      const uint32_t one = bits[c][n];
      lo += rest & (0u - one);
      a = one ? ap : rest;
      const unsigned sh = static_cast<unsigned>(__builtin_clz(a)) - 20u;
      a <<= sh;
      lo <<= sh;
      pend += sh;
      if (pend >= 45) {
        low = lo;
        pending = pend;
        flush_word();
        lo = low;
        pend = pending;
        if (overflow) {
          range = a;
          return;
        }
      }
    }
  }
  low = lo;
  range = a;
  pending = pend;
}

size_t DstArithEncoder::finish() {
  if (overflow) return limit_bits;
  // The value written must lie in [low, low + range) of the window; take
  // the one with the most trailing zeros.
  const uint64_t top = low + range;
  uint64_t v = low;
  for (int j = 13; j >= 0; --j) {
    const uint64_t m = (1ULL << j) - 1;
    const uint64_t c = (low + m) & ~m;
    if (c < top) {
      v = c;
      break;
    }
  }
  low = v;
  if (low >> pending) {
    add_carry();
    low &= (1ULL << pending) - 1;
  }
  if (written + pending >= limit_bits) {
    overflow = true;
    return limit_bits;
  }
  for (int i = static_cast<int>(pending) - 1; i >= 0; --i) {
    if ((low >> i) & 1) buf[written >> 3] |= static_cast<uint8_t>(0x80u >> (written & 7));
    ++written;
  }
  pending = 0;
  low = 0;
  while (written > 0 && !((buf[(written - 1) >> 3] >> (7 - ((written - 1) & 7))) & 1)) --written;
  // The integer bit of the code value is 0 by construction (the value stays
  // below 4095/4096); the coded data must begin with a 0 bit.
  if (written > 0) buf[0] &= 0x7F;
  return written;
}

void DstArithDecoder::start(const uint8_t* data, size_t bit_offset, size_t total_bits) {
  buf = data;
  size_bytes = (total_bits + 7) / 8;
  const size_t skip = bit_offset + 1;  // the integer bit
  next_byte = skip / 8;
  cache = 0;
  cached = 0;
  refill();
  const unsigned drop = static_cast<unsigned>(skip % 8);
  cache <<= drop;
  cached -= drop;
  range = 4095;
  code = take(12);
}

}  // namespace varn
