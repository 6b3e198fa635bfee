// Decode check of freshly coded frames against the frames they came from.
// Until the first wrong bit the decoder's history is the input's, so the
// filter runs over the input in vector lanes; what stays serial is the
// arithmetic decoding, and there the bit each step must yield is known, so
// the register updates follow it and only a flag records a disagreement.
// Up to four frames are decoded side by side, so that their serial chains
// overlap in the processor.
#include <algorithm>
#include <cstring>

#include "dst/dst_arith.h"
#include "dst/dst_decoder.h"
#include "dst/dst_symbols.h"
#include "platform/cpu_features.h"

namespace varn {

namespace {

// 64 code bits from bit `pos` on, most significant first; bits past the end
// read as 0. At least 57 of them are the frame's.
inline uint64_t bits_at(const uint8_t* buf, size_t size, size_t pos) {
  const size_t byte = pos >> 3;
  uint64_t v = 0;
  if (byte + 8 <= size) {
    std::memcpy(&v, buf + byte, 8);
    v = __builtin_bswap64(v);
  } else {
    for (size_t i = 0; i < 8; ++i) v = (v << 8) | (byte + i < size ? buf[byte + i] : 0u);
  }
  return v << (pos & 7);
}

bool segmented(const DstSegmentation& seg) {
  for (const std::vector<uint32_t>& l : seg.lengths)
    if (l.size() > 1) return true;
  return false;
}

// Positions whose symbols are made at a time.
constexpr size_t kBlock = 4096;
constexpr int kLanes = 4;

// One frame's arithmetic decoding. The range and the code value sit in the
// top 12 bits of `top` and `x` (in the decoding loop, `top` is the range
// itself, see step); below the code value, x holds the bits that follow,
// `valid` bits of x being the frame's.
struct Lane {
  const uint8_t* frame;
  size_t size;
  const uint8_t* input;
  size_t next;  // first code bit not yet in x
  uint64_t x;
  unsigned valid;
  uint64_t top;
  uint64_t wrong;
  const int16_t* coef[64];  // each channel's filter
  int order[64];
  size_t half[64];         // positions coded with probability 128
  const uint8_t* lut[64];  // at the middle of each channel's table
  const uint8_t* sym[64];  // each channel's symbols of the current block
  uint8_t* block;          // room for a block of symbols of every channel
  const uint8_t* known;    // every channel's symbols of the frame, if the coder's apply
};

// The registers of a lane, in locals while decoding.
struct Regs {
  uint64_t x, top, wrong;
  size_t next;
  unsigned valid;
};

__attribute__((always_inline)) inline void renormalise(const Lane& l, Regs& r) {
  const unsigned sh = static_cast<unsigned>(__builtin_clzll(r.top));
  r.top <<= sh;
  r.x <<= sh;
  r.valid -= sh;
  if (r.valid < 32) {
    r.x |= bits_at(l.frame, l.size, r.next) >> r.valid;
    r.next += 56 - r.valid;
    r.valid = 56;
  }
}

// Decodes a symbol whose bit must be the sign of v and whose probability is
// lut_mid[v] (a table's entries repeat for both bits). While decoding,
// `top` holds the range the previous symbol left, not yet normalised (as
// in the coder): its doubling, and the refill after it, come first.
__attribute__((always_inline)) inline void step(const Lane& l, Regs& r, int64_t v, const uint8_t* lut_mid) {
  const DstNormalised& t = kDstNormalised.v[r.top];
  r.x <<= t.shift;
  r.valid -= t.shift;
  // Only the code value's 12 bits take part in the comparison below.
  if (r.valid < 12) {
    r.x |= bits_at(l.frame, l.size, r.next) >> r.valid;
    r.next += 56 - r.valid;
    r.valid = 56;
  }
  const uint64_t ap = static_cast<uint64_t>(t.q) * lut_mid[v];
  const uint64_t rest = t.range - ap;
  const uint64_t rest_top = rest << 52;
  const uint64_t one = static_cast<uint64_t>(v >> 63);
  r.wrong |= static_cast<uint64_t>(r.x >= rest_top) ^ (one & 1);
  r.x -= rest_top & one;
  r.top = dst_select(one, ap, rest);
}

// The symbols of positions [first, first + count) of every channel.
void make_symbols(DstDecoder& d, Lane& l, size_t first, size_t count) {
  if (l.known) {
    const size_t L = d.bytes_per_channel * 8;
    for (int c = 0; c < d.channels; ++c) l.sym[c] = l.known + static_cast<size_t>(c) * L + first;
    return;
  }
  int16_t* mask = d.check_mask.data() + kDstKernelHistory;
  int16_t* six = mask + kBlock + 32 + kDstKernelHistory;
  for (int c = 0; c < d.channels; ++c) {
    uint8_t* sym = l.block + static_cast<size_t>(c) * kBlock;
    l.sym[c] = sym;
    dst_unpack_bit_range(l.input, d.channels, c, first, count, mask, six);
    dst_channel_symbols(l.coef[c], l.order[c], DstBits{mask, six}, count, l.half[c] > first ? l.half[c] - first : 0,
                        sym, nullptr, d.check_pred.data());
  }
}

template <int K>
__attribute__((always_inline)) inline void decode_lanes(DstDecoder& d, Lane* lanes) {
  const int channels = d.channels;
  const size_t length = d.bytes_per_channel * 8;
  Regs r[kLanes] = {};
  for (int k = 0; k < K; ++k) r[k] = Regs{lanes[k].x, lanes[k].top >> 52, 0, lanes[k].next, lanes[k].valid};
  // The lanes' registers as locals of their own.
  Regs r0 = r[0], r1 = r[1], r2 = r[2], r3 = r[3];
  for (size_t b = 0; b < length; b += kBlock) {
    const size_t count = std::min(kBlock, length - b);
    for (int k = 0; k < K; ++k) make_symbols(d, lanes[k], b, count);
    for (size_t n = 0; n < count; ++n)
      for (int c = 0; c < channels; ++c) {
        step(lanes[0], r0, static_cast<int8_t>(lanes[0].sym[c][n]), lanes[0].lut[c]);
        if constexpr (K > 1) step(lanes[1], r1, static_cast<int8_t>(lanes[1].sym[c][n]), lanes[1].lut[c]);
        if constexpr (K > 2) step(lanes[2], r2, static_cast<int8_t>(lanes[2].sym[c][n]), lanes[2].lut[c]);
        if constexpr (K > 3) step(lanes[3], r3, static_cast<int8_t>(lanes[3].sym[c][n]), lanes[3].lut[c]);
      }
    if (r0.wrong && (K < 2 || r1.wrong) && (K < 3 || r2.wrong) && (K < 4 || r3.wrong)) break;
  }
  const Regs done[kLanes] = {r0, r1, r2, r3};
  for (int k = 0; k < K; ++k) lanes[k].wrong = done[k].wrong;
}

template <int K>
void decode_generic(DstDecoder& d, Lane* lanes) {
  decode_lanes<K>(d, lanes);
}

#if defined(__x86_64__)
// With BMI2 a shift by the looked-up doubling count is one instruction
// that leaves the flags register alone, as in the coder.
template <int K>
__attribute__((target("lzcnt,bmi2"))) void decode_bmi(DstDecoder& d, Lane* lanes) {
  decode_lanes<K>(d, lanes);
}
#endif

template <int K>
void run_lanes(DstDecoder& d, Lane* lanes) {
#if defined(__x86_64__)
  static const bool bmi = cpu_features().lzcnt && cpu_features().bmi2;
  if (bmi) {
    decode_bmi<K>(d, lanes);
    return;
  }
#endif
  decode_generic<K>(d, lanes);
}

// Everything but the serial decoding: false when the verdict is already
// known (set in `check`).
bool prepare(DstDecoder& d, DstCheck& check, Lane& lane, size_t slot, uint8_t* scratch) {
  const int C = d.channels;
  const size_t bc = d.bytes_per_channel;
  const size_t frame_bytes = bc * static_cast<size_t>(C);
  DstFrameHeader& h = d.header;
  if (!dst_parse_frame_header(check.frame, check.size, C, bc, h, d.error)) {
    check.ok = false;
    return false;
  }
  if (!h.dst_coded) {
    check.ok = std::memcmp(check.frame + 1, check.input, frame_bytes) == 0;
    return false;
  }
  if (segmented(h.filter_seg) || segmented(h.table_seg)) {
    check.ok = dst_decode_frame(d, check.frame, check.size, scratch) &&
               std::memcmp(scratch, check.input, frame_bytes) == 0;
    return false;
  }

  const size_t L = bc * 8;
  const size_t per_slot = static_cast<size_t>(2 * C);  // tables or filters at most
  uint8_t* luts = d.check_luts.data() + slot * per_slot * 256;
  int16_t* coefs = d.check_coefs.data() + slot * per_slot * 128;
  for (unsigned t = 0; t < h.table_seg.count; ++t) {
    uint8_t table[64];
    for (int i = 0; i < 64; ++i) table[i] = static_cast<uint8_t>(h.table_entry[t][static_cast<size_t>(i)]);
    dst_symbol_lut(table, h.table_length[t], luts + static_cast<size_t>(t) * 256);
  }
  for (unsigned f = 0; f < h.filter_seg.count; ++f)
    for (int k = 0; k < h.filter_order[f]; ++k)
      coefs[f * 128 + static_cast<unsigned>(k)] = static_cast<int16_t>(h.coef[f][static_cast<size_t>(k)]);
  for (int c = 0; c < C; ++c) {
    const size_t ci = static_cast<size_t>(c);
    const unsigned f = h.filter_seg.table[ci][0];
    lane.coef[c] = coefs + f * 128;
    lane.order[c] = h.filter_order[f];
    lane.half[c] = h.half_prob[ci] ? std::min(static_cast<size_t>(lane.order[c]), L) : 0;
    lane.lut[c] = luts + static_cast<size_t>(h.table_seg.table[ci][0]) * 256 + 128;
  }
  lane.block = d.check_symbols.data() + slot * static_cast<size_t>(C) * kBlock;
  // The coder's symbols are the ones predicted here when every channel's
  // filter, and where prediction starts, are the same.
  const DstCodedSymbols* known = check.coded;
  bool same = known && known->valid && known->channels == C && known->length == L;
  for (int c = 0; c < C && same; ++c) {
    const size_t ci = static_cast<size_t>(c);
    same = known->order[ci] == lane.order[c] && known->unpredicted[ci] == lane.half[c] &&
           std::memcmp(known->coef.data() + ci * 128, lane.coef[c], static_cast<size_t>(lane.order[c]) * sizeof(int16_t)) == 0;
  }
  lane.known = same ? known->sym.data() : nullptr;

  lane.frame = check.frame;
  lane.size = check.size;
  lane.input = check.input;
  lane.next = h.header_bits + 1;  // after the integer bit
  lane.x = bits_at(check.frame, check.size, lane.next);
  lane.valid = 56;
  lane.next += 56;
  lane.top = 4095ULL << 52;
  lane.wrong = 0;
  // The X bit: decoded, its value is of no interest.
  unsigned xp = 0;
  const unsigned v = static_cast<unsigned>(h.coef[0][0]) & 127u;
  for (int i = 0; i < 7; ++i) xp |= ((v >> i) & 1u) << (6 - i);
  const uint64_t ap = ((lane.top >> 60) | ((lane.top >> 59) & 1)) * (static_cast<uint64_t>(xp + 1) << 52);
  const uint64_t rest = lane.top - ap;
  if (lane.x >= rest) {
    lane.x -= rest;
    lane.top = ap;
  } else {
    lane.top = rest;
  }
  Regs r{lane.x, lane.top, 0, lane.next, lane.valid};
  renormalise(lane, r);
  lane.x = r.x;
  lane.top = r.top;
  lane.next = r.next;
  lane.valid = r.valid;
  return true;
}

}  // namespace

void dst_check_frames(DstDecoder& d, DstCheck* checks, int count, uint8_t* scratch) {
  const size_t C = static_cast<size_t>(d.channels);
  d.check_symbols.resize(kLanes * C * kBlock);
  d.check_mask.resize(2 * (kDstKernelHistory + kBlock + 32));
  d.check_pred.resize(kBlock + 64);
  d.check_luts.resize(kLanes * 2 * C * 256);
  d.check_coefs.resize(kLanes * 2 * C * 128);
  Lane lanes[kLanes];
  DstCheck* decoding[kLanes];
  int k = 0;
  for (int i = 0; i < count && i < kLanes; ++i)
    if (prepare(d, checks[i], lanes[k], static_cast<size_t>(k), scratch)) decoding[k++] = &checks[i];
  switch (k) {
    case 4: run_lanes<4>(d, lanes); break;
    case 3: run_lanes<3>(d, lanes); break;
    case 2: run_lanes<2>(d, lanes); break;
    case 1: run_lanes<1>(d, lanes); break;
    default: break;
  }
  for (int i = 0; i < k; ++i) decoding[i]->ok = lanes[i].wrong == 0;
}

bool dst_check_frame(DstDecoder& d, const uint8_t* frame, size_t size, const uint8_t* input, uint8_t* scratch) {
  DstCheck check{frame, size, input, false};
  dst_check_frames(d, &check, 1, scratch);
  return check.ok;
}

}  // namespace varn
