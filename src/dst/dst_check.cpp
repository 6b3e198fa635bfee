// Decode check of freshly coded frames against the frames they came from.
// Until the first wrong bit the decoder's history is the input's, so the
// filter runs over the input in vector lanes; what stays serial is the
// arithmetic decoding, and there the bit each step must yield is known, so
// the register updates follow it and only a flag records a disagreement.
// With the coder's marks the four quarters of a frame are decoded side by
// side, so that their serial chains overlap in the processor; a quarter
// counts only when the one before it ended where it began.
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
  size_t begin;  // first position of the lane's part
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
  uint8_t* block;                 // room for a block of symbols of every channel
  const uint8_t* const* known;    // each channel's symbols of the frame, if the coder's apply
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
    for (int c = 0; c < d.channels; ++c) l.sym[c] = l.known[c] + first;
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

// Decodes `length` positions of every lane from its first one.
template <int K>
__attribute__((always_inline)) inline void decode_lanes(DstDecoder& d, Lane* lanes, size_t length) {
  const int channels = d.channels;
  Regs r[kLanes] = {};
  for (int k = 0; k < K; ++k) r[k] = Regs{lanes[k].x, lanes[k].top >> 52, 0, lanes[k].next, lanes[k].valid};
  // The lanes' registers as locals of their own.
  Regs r0 = r[0], r1 = r[1], r2 = r[2], r3 = r[3];
  for (size_t b = 0; b < length; b += kBlock) {
    const size_t count = std::min(kBlock, length - b);
    for (int k = 0; k < K; ++k) make_symbols(d, lanes[k], lanes[k].begin + b, count);
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
  for (int k = 0; k < K; ++k) {
    lanes[k].x = done[k].x;
    lanes[k].top = done[k].top << 52;
    lanes[k].next = done[k].next;
    lanes[k].valid = done[k].valid;
    lanes[k].wrong = done[k].wrong;
  }
}

template <int K>
void decode_generic(DstDecoder& d, Lane* lanes, size_t length) {
  decode_lanes<K>(d, lanes, length);
}

#if defined(__x86_64__)
// With BMI2 a shift by the looked-up doubling count is one instruction
// that leaves the flags register alone, as in the coder.
template <int K>
__attribute__((target("lzcnt,bmi2"))) void decode_bmi(DstDecoder& d, Lane* lanes, size_t length) {
  decode_lanes<K>(d, lanes, length);
}
#endif

template <int K>
void run_lanes(DstDecoder& d, Lane* lanes, size_t length) {
#if defined(__x86_64__)
  static const bool bmi = cpu_features().lzcnt && cpu_features().bmi2;
  if (bmi) {
    decode_bmi<K>(d, lanes, length);
    return;
  }
#endif
  decode_generic<K>(d, lanes, length);
}

// Where a lane stands between two positions, whatever its bookkeeping: the
// range, normalised; the frame bit at the top of the code value window;
// and the window's top 12 bits, the code value less the coder's low end
// (the bits below them are the frame's own).
struct Boundary {
  uint64_t range;
  size_t at;
  uint64_t value;
  bool operator==(const Boundary&) const = default;
};

Boundary boundary_of(const Lane& l) {
  const DstNormalised& t = kDstNormalised.v[l.top >> 52];
  uint64_t x = l.x << t.shift;
  const unsigned valid = l.valid - t.shift;
  if (valid < 12) x |= bits_at(l.frame, l.size, l.next) >> valid;
  return {t.range, l.next - valid, x >> 52};
}

// Starts a lane where a mark says the coder stood, `header_bits` being
// where the code bits begin; false for a mark no coder leaves.
bool start_at(Lane& l, const DstArithMark& m, size_t header_bits) {
  if (m.bits < 13 || m.range < 2048 || m.range > 4095) return false;
  const size_t at = header_bits + m.bits - 12;
  l.begin = m.position;
  l.x = bits_at(l.frame, l.size, at) - (static_cast<uint64_t>(m.low & 0xFFF) << 52);
  l.valid = 56;
  l.next = at + 56;
  l.top = static_cast<uint64_t>(m.range) << 52;
  l.wrong = 0;
  return true;
}

// Everything but the serial decoding, for a lane over the whole frame:
// false when the verdict is already known (in `ok`).
bool prepare(DstDecoder& d, const uint8_t* frame, size_t size, const uint8_t* input, const DstCodedSymbols* coded,
             Lane& lane, uint8_t* scratch, bool& ok) {
  const int C = d.channels;
  const size_t bc = d.bytes_per_channel;
  const size_t frame_bytes = bc * static_cast<size_t>(C);
  DstFrameHeader& h = d.header;
  if (!dst_parse_frame_header(frame, size, C, bc, h, d.error)) {
    ok = false;
    return false;
  }
  if (!h.dst_coded) {
    ok = std::memcmp(frame + 1, input, frame_bytes) == 0;
    return false;
  }
  if (segmented(h.filter_seg) || segmented(h.table_seg)) {
    ok = dst_decode_frame(d, frame, size, scratch) && std::memcmp(scratch, input, frame_bytes) == 0;
    return false;
  }

  const size_t L = bc * 8;
  d.check_luts.resize(2 * static_cast<size_t>(C) * 256);
  d.check_coefs.resize(2 * static_cast<size_t>(C) * 128);
  uint8_t* luts = d.check_luts.data();
  int16_t* coefs = d.check_coefs.data();
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
  // The coder's symbols are the ones predicted here when every channel's
  // filter, and where prediction starts, are the same.
  bool same = coded && coded->valid && coded->channels == C && coded->length == L;
  for (int c = 0; c < C && same; ++c)
    same = coded->order[c] == lane.order[c] && coded->unpredicted[c] == lane.half[c] &&
           std::memcmp(coded->coef[c], lane.coef[c], static_cast<size_t>(lane.order[c]) * sizeof(int16_t)) == 0;
  lane.known = same ? coded->sym : nullptr;
  if (!same) {
    d.check_symbols.resize(kLanes * static_cast<size_t>(C) * kBlock);
    d.check_mask.resize(2 * (kDstKernelHistory + kBlock + 32));
    d.check_pred.resize(kBlock + 64);
  }
  lane.block = same ? nullptr : d.check_symbols.data();

  lane.begin = 0;
  lane.frame = frame;
  lane.size = size;
  lane.input = input;
  lane.next = h.header_bits + 1;  // after the integer bit
  lane.x = bits_at(frame, size, lane.next);
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

// The frame in kLanes parts side by side, the later ones started at the
// coder's marks; false when the marks do not hold (the verdict is then
// still open).
bool decode_in_parts(DstDecoder& d, const Lane& whole, const DstCodedSymbols& coded, bool& ok) {
  static_assert(kLanes == kDstCheckParts);
  const size_t L = d.bytes_per_channel * 8;
  if (L % kLanes != 0 || coded.length != L || coded.channels != d.channels) return false;
  Lane lanes[kLanes];
  Boundary start[kLanes];
  for (int k = 0; k < kLanes; ++k) {
    lanes[k] = whole;
    if (whole.block) lanes[k].block = whole.block + static_cast<size_t>(k) * static_cast<size_t>(d.channels) * kBlock;
    if (k == 0) continue;
    const DstArithMark& m = coded.mark[k - 1];
    if (m.position != L / kLanes * static_cast<size_t>(k) || !start_at(lanes[k], m, d.header.header_bits))
      return false;
    start[k] = boundary_of(lanes[k]);
  }
  run_lanes<kLanes>(d, lanes, L / kLanes);
  d.check_parts = kLanes;
  // Each part is the decoding's own once the one before it is, and ends
  // where the next began.
  for (int k = 0; k < kLanes; ++k) {
    if (lanes[k].wrong) {
      ok = false;
      return true;
    }
    if (k + 1 < kLanes && !(boundary_of(lanes[k]) == start[k + 1])) return false;
  }
  ok = true;
  return true;
}

}  // namespace

bool dst_check_frame(DstDecoder& d, const uint8_t* frame, size_t size, const uint8_t* input, uint8_t* scratch,
                     const DstCodedSymbols* coded) {
  Lane lane;
  bool ok = false;
  if (!prepare(d, frame, size, input, coded, lane, scratch, ok)) return ok;
  if (coded && coded->marked && decode_in_parts(d, lane, *coded, ok)) return ok;
  run_lanes<1>(d, &lane, d.bytes_per_channel * 8);
  d.check_parts = 1;
  return lane.wrong == 0;
}

}  // namespace varn
