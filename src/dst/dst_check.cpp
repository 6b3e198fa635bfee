// Decode check of freshly coded frames against the frames they came from.
// Until the first wrong bit the decoder's history is the input's, so the
// filter runs over the input in vector lanes; what stays serial is the
// arithmetic decoding, and there the bit each step must yield is known, so
// the register updates follow it and only a flag records a disagreement.
// Two frames are decoded side by side, so that their serial chains overlap
// in the processor.
#include <algorithm>
#include <cstring>

#include "dst/dst_decoder.h"
#include "dst/dst_symbols.h"

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

// One frame's arithmetic decoding. The range and the code value sit in the
// top 12 bits of `top` and `x`; below the code value, x holds the bits
// that follow, `valid` bits of x being the frame's.
struct Lane {
  const uint8_t* frame;
  size_t size;
  size_t next;  // first code bit not yet in x
  uint64_t x;
  unsigned valid;
  uint64_t top;
  uint64_t wrong;
  const uint8_t* sym[64];
  const uint8_t* lut[64];  // at the middle of each channel's table
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
// lut_mid[v] (a table's entries repeat for both bits).
__attribute__((always_inline)) inline void step(const Lane& l, Regs& r, int64_t v, const uint8_t* lut_mid) {
  const uint64_t p = static_cast<uint64_t>(lut_mid[v]) << 52;
  const uint64_t ap = ((r.top >> 60) | ((r.top >> 59) & 1)) * p;
  const uint64_t rest = r.top - ap;
  const uint64_t one = static_cast<uint64_t>(v >> 63);
  r.wrong |= static_cast<uint64_t>(r.x >= rest) ^ (one & 1);
  r.x -= rest & one;
  r.top = __builtin_expect_with_probability(one != 0, true, 0.5) ? ap : rest;
  renormalise(l, r);
}

template <int K>
void decode_lanes(Lane* lanes, int channels, size_t length) {
  Regs r0{lanes[0].x, lanes[0].top, 0, lanes[0].next, lanes[0].valid};
  Regs r1{};
  if constexpr (K > 1) r1 = Regs{lanes[1].x, lanes[1].top, 0, lanes[1].next, lanes[1].valid};
  for (size_t n = 0; n < length; ++n) {
    for (int c = 0; c < channels; ++c) {
      step(lanes[0], r0, static_cast<int8_t>(lanes[0].sym[c][n]), lanes[0].lut[c]);
      if constexpr (K > 1) step(lanes[1], r1, static_cast<int8_t>(lanes[1].sym[c][n]), lanes[1].lut[c]);
    }
    if (r0.wrong && (K == 1 || r1.wrong)) break;
  }
  lanes[0].wrong = r0.wrong;
  if constexpr (K > 1) lanes[1].wrong = r1.wrong;
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
  const size_t luts_per_slot = static_cast<size_t>(2 * C) * 256;
  uint8_t* symbols = d.check_symbols.data() + slot * static_cast<size_t>(C) * L;
  uint8_t* luts = d.check_luts.data() + slot * luts_per_slot;
  for (unsigned t = 0; t < h.table_seg.count; ++t) {
    uint8_t table[64];
    for (int i = 0; i < 64; ++i) table[i] = static_cast<uint8_t>(h.table_entry[t][static_cast<size_t>(i)]);
    dst_symbol_lut(table, h.table_length[t], luts + static_cast<size_t>(t) * 256);
  }
  int16_t* mask = d.check_mask.data() + kDstKernelHistory;
  int16_t* six = mask + L + 32 + kDstKernelHistory;
  for (int c = 0; c < C; ++c) {
    const size_t ci = static_cast<size_t>(c);
    const unsigned f = h.filter_seg.table[ci][0];
    const int order = h.filter_order[f];
    int16_t coef[128];
    for (int k = 0; k < order; ++k) coef[k] = static_cast<int16_t>(h.coef[f][static_cast<size_t>(k)]);
    uint8_t* s = symbols + ci * L;
    dst_unpack_bits(check.input, C, c, bc, mask, six);
    const size_t half = h.half_prob[ci] ? std::min(static_cast<size_t>(order), L) : 0;
    dst_channel_symbols(coef, order, DstBits{mask, six}, L, half, s, nullptr, d.check_pred.data());
    lane.sym[c] = s;
    lane.lut[c] = luts + static_cast<size_t>(h.table_seg.table[ci][0]) * 256 + 128;
  }

  lane.frame = check.frame;
  lane.size = check.size;
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
  const int C = d.channels;
  const size_t L = d.bytes_per_channel * 8;
  d.check_symbols.resize(2 * static_cast<size_t>(C) * L);
  d.check_mask.resize(2 * (kDstKernelHistory + L + 32));
  d.check_pred.resize(kDstSymbolBlock + 64);
  d.check_luts.resize(2 * static_cast<size_t>(2 * C) * 256);
  Lane lanes[2];
  DstCheck* decoding[2];
  int k = 0;
  for (int i = 0; i < count && i < 2; ++i)
    if (prepare(d, checks[i], lanes[k], static_cast<size_t>(k), scratch)) decoding[k++] = &checks[i];
  if (k == 2) decode_lanes<2>(lanes, C, L);
  else if (k == 1) decode_lanes<1>(lanes, C, L);
  for (int i = 0; i < k; ++i) decoding[i]->ok = lanes[i].wrong == 0;
}

bool dst_check_frame(DstDecoder& d, const uint8_t* frame, size_t size, const uint8_t* input, uint8_t* scratch) {
  DstCheck check{frame, size, input, false};
  dst_check_frames(d, &check, 1, scratch);
  return check.ok;
}

}  // namespace varn
