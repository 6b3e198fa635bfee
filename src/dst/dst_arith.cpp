#include "dst/dst_arith.h"

#include <cstring>

#include "platform/cpu_features.h"

namespace varn {

void DstArithEncoder::start(uint8_t* out, size_t limit) {
  buf = out;
  limit_bits = limit;
  low = 0;
  pending = 13;
  range = 4095;
  written = 0;
  overflow = false;
  if (buf) std::memset(buf, 0, limit / 8 + 16);
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

namespace {

// What a batch reads for one channel: each stream's symbols and table (at
// its middle).
struct ChannelStreams {
  const uint8_t* sym[kDstArithBatch];
  const uint8_t* lut[kDstArithBatch];
};

// One symbol of one stream, with the stream's registers in locals. `a` is
// the range the previous symbol left, not yet normalised: its doubling is
// applied here first (so the output check comes at the same point as
// after a normalising step). The symbol byte is read sign-extended: its
// sign is the bit, and since a table's entries repeat for both bits,
// lut + 128 indexed by it gives the probability. Residual bits are hard to
// predict, so the bit selects without branches.
template <bool Writes>
__attribute__((always_inline)) inline void step(uint64_t& low, uint64_t& a, uint64_t& pending, DstArithEncoder* e,
                                                int64_t v, const uint8_t* lut_mid) {
  const DstNormalised& t = kDstNormalised.v[a];
  low <<= t.shift;
  pending += t.shift;
  if (Writes && __builtin_expect(pending >= 45, 0)) {
    // An overflowing stream stays bounded and runs on; its result is
    // discarded.
    e->low = low;
    e->pending = static_cast<unsigned>(pending);
    e->flush_word();
    low = e->low;
    pending = e->pending;
  }
  const uint64_t ap = static_cast<uint64_t>(t.q) * lut_mid[v];
  const uint64_t rest = t.range - ap;
  const uint64_t one = static_cast<uint64_t>(v >> 63);
  low += rest & one;
  a = dst_select(one, ap, rest);
}

// B streams, the first W of which write their bits (the rest measure).
template <int B, int W>
__attribute__((always_inline)) inline void batch_impl(DstArithEncoder* const* enc, const ChannelStreams* rows,
                                                     int channels, size_t length) {
  uint64_t lo0 = enc[0]->low, rg0 = enc[0]->range, pd0 = enc[0]->pending;
  uint64_t lo1 = 0, rg1 = 0, pd1 = 0, lo2 = 0, rg2 = 0, pd2 = 0, lo3 = 0, rg3 = 0, pd3 = 0;
  if constexpr (B > 1) lo1 = enc[1]->low, rg1 = enc[1]->range, pd1 = enc[1]->pending;
  if constexpr (B > 2) lo2 = enc[2]->low, rg2 = enc[2]->range, pd2 = enc[2]->pending;
  if constexpr (B > 3) lo3 = enc[3]->low, rg3 = enc[3]->range, pd3 = enc[3]->pending;
  const ChannelStreams* end = rows + channels;
  for (size_t n = 0; n < length; ++n) {
    for (const ChannelStreams* r = rows; r != end; ++r) {
      step<(W > 0)>(lo0, rg0, pd0, enc[0], static_cast<int8_t>(r->sym[0][n]), r->lut[0]);
      if constexpr (B > 1) step<(W > 1)>(lo1, rg1, pd1, enc[1], static_cast<int8_t>(r->sym[1][n]), r->lut[1]);
      if constexpr (B > 2) step<(W > 2)>(lo2, rg2, pd2, enc[2], static_cast<int8_t>(r->sym[2][n]), r->lut[2]);
      if constexpr (B > 3) step<(W > 3)>(lo3, rg3, pd3, enc[3], static_cast<int8_t>(r->sym[3][n]), r->lut[3]);
    }
  }
  const uint64_t lo[4] = {lo0, lo1, lo2, lo3}, rg[4] = {rg0, rg1, rg2, rg3}, pd[4] = {pd0, pd1, pd2, pd3};
  for (int i = 0; i < B; ++i) {
    // The last symbol's normalisation (and the output check after it).
    const DstNormalised& t = kDstNormalised.v[rg[i]];
    DstArithEncoder* e = enc[i];
    e->low = lo[i] << t.shift;
    e->range = t.range;
    e->pending = static_cast<unsigned>(pd[i] + t.shift);
    if (i < W && e->pending >= 45) e->flush_word();
  }
}

template <int B, int W>
void batch_generic(DstArithEncoder* const* enc, const ChannelStreams* rows, int channels, size_t length) {
  batch_impl<B, W>(enc, rows, channels, length);
}

#if defined(__x86_64__)
// With BMI2 a shift by the looked-up doubling count is one instruction
// that leaves the flags register alone.
template <int B, int W>
__attribute__((target("lzcnt,bmi2"))) void batch_bmi(DstArithEncoder* const* enc, const ChannelStreams* rows,
                                                     int channels, size_t length) {
  batch_impl<B, W>(enc, rows, channels, length);
}
#endif

using BatchFn = void (*)(DstArithEncoder* const*, const ChannelStreams*, int, size_t);

template <int B, int W>
BatchFn batch_for_processor() {
#if defined(__x86_64__)
  if (cpu_features().lzcnt && cpu_features().bmi2) return batch_bmi<B, W>;
#endif
  return batch_generic<B, W>;
}

}  // namespace

void dst_arith_encode_batch(DstArithEncoder* const* enc, int count, const uint8_t* const* syms,
                            const uint8_t* const* luts, int channels, size_t length) {
  static_assert(kDstArithBatch == 4);
  if (count < 1 || count > kDstArithBatch || channels < 1 || channels > 64) return;
  // Indexed by streams - 1 and writing streams.
  static const BatchFn batch[kDstArithBatch][kDstArithBatch + 1] = {
      {batch_for_processor<1, 0>(), batch_for_processor<1, 1>(), nullptr, nullptr, nullptr},
      {batch_for_processor<2, 0>(), batch_for_processor<2, 1>(), batch_for_processor<2, 2>(), nullptr, nullptr},
      {batch_for_processor<3, 0>(), batch_for_processor<3, 1>(), batch_for_processor<3, 2>(),
       batch_for_processor<3, 3>(), nullptr},
      {batch_for_processor<4, 0>(), batch_for_processor<4, 1>(), batch_for_processor<4, 2>(),
       batch_for_processor<4, 3>(), batch_for_processor<4, 4>()}};
  // The writing streams go first.
  int order[kDstArithBatch];
  int writing = 0;
  for (int a = 0; a < count; ++a)
    if (enc[a]->buf) order[writing++] = a;
  int k = writing;
  for (int a = 0; a < count; ++a)
    if (!enc[a]->buf) order[k++] = a;
  DstArithEncoder* streams[kDstArithBatch];
  ChannelStreams rows[64];
  for (int i = 0; i < count; ++i) {
    const int a = order[i];
    streams[i] = enc[a];
    for (int c = 0; c < channels; ++c) {
      rows[c].sym[i] = syms[a * channels + c];
      rows[c].lut[i] = luts[a * channels + c] + 128;
    }
  }
  batch[count - 1][writing](streams, rows, channels, length);
}

size_t DstArithEncoder::finish() {
  if (overflow) return limit_bits;
  if (!buf) return finish_measuring();
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

// The ending chosen as in finish, on the last 64 bits of the code value:
// modulo 2^64 the sums and the rounding come out the same, and the dropped
// zero bits are the trailing zeros of the chosen value.
size_t DstArithEncoder::finish_measuring() {
  const size_t total = pending;
  if (total >= limit_bits) {
    overflow = true;
    return limit_bits;
  }
  uint64_t v = low;
  for (int j = 13; j >= 0; --j) {
    const uint64_t m = (1ULL << j) - 1;
    const uint64_t c = (low + m) & ~m;
    if (c - low < range) {
      v = c;
      break;
    }
  }
  if (v == 0) return total < 64 ? 0 : kDstLengthUnknown;
  return total - static_cast<size_t>(__builtin_ctzll(v));
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
