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
  // The write position is not byte aligned in general.
  for (int i = 31; i >= 0; --i) {
    if ((word >> i) & 1) buf[written >> 3] |= static_cast<uint8_t>(0x80u >> (written & 7));
    ++written;
  }
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
  size_bits = total_bits;
  pos = bit_offset + 1;  // the integer bit
  range = 4095;
  code = 0;
  for (int i = 0; i < 12; ++i) code = (code << 1) | next_bit();
}

}  // namespace varn
