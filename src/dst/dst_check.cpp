// Decode check of a freshly coded frame against the frame it came from.
// Until the first wrong bit the decoder's history is the input's, so the
// filter runs over the input in vector lanes; what stays serial is the
// arithmetic decoding, and there the bit each step must yield is known, so
// the register updates follow it and only a flag records a disagreement.
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

}  // namespace

bool dst_check_frame(DstDecoder& d, const uint8_t* frame, size_t size, const uint8_t* input, uint8_t* scratch) {
  const int C = d.channels;
  const size_t bc = d.bytes_per_channel;
  const size_t frame_bytes = bc * static_cast<size_t>(C);
  DstFrameHeader& h = d.header;
  if (!dst_parse_frame_header(frame, size, C, bc, h, d.error)) return false;
  if (!h.dst_coded) return std::memcmp(frame + 1, input, frame_bytes) == 0;
  if (segmented(h.filter_seg) || segmented(h.table_seg))
    return dst_decode_frame(d, frame, size, scratch) && std::memcmp(scratch, input, frame_bytes) == 0;

  const size_t L = bc * 8;
  d.check_symbols.resize(static_cast<size_t>(C) * L);
  d.check_mask.resize(2 * (kDstKernelHistory + L + 32));
  d.check_pred.resize(kDstSymbolBlock + 64);
  const unsigned nt = h.table_seg.count;
  d.check_luts.resize(static_cast<size_t>(nt) * 256);
  for (unsigned t = 0; t < nt; ++t) {
    uint8_t table[64];
    for (int i = 0; i < 64; ++i) table[i] = static_cast<uint8_t>(h.table_entry[t][static_cast<size_t>(i)]);
    dst_symbol_lut(table, h.table_length[t], d.check_luts.data() + static_cast<size_t>(t) * 256);
  }
  const uint8_t* sym[64];
  const uint8_t* lut[64];
  int16_t* mask = d.check_mask.data() + kDstKernelHistory;
  int16_t* six = mask + L + 32 + kDstKernelHistory;
  for (int c = 0; c < C; ++c) {
    const size_t ci = static_cast<size_t>(c);
    const unsigned f = h.filter_seg.table[ci][0];
    const int order = h.filter_order[f];
    int16_t coef[128];
    for (int k = 0; k < order; ++k) coef[k] = static_cast<int16_t>(h.coef[f][static_cast<size_t>(k)]);
    uint8_t* s = d.check_symbols.data() + ci * L;
    dst_unpack_bits(input, C, c, bc, mask, six);
    const size_t half = h.half_prob[ci] ? std::min(static_cast<size_t>(order), L) : 0;
    dst_channel_symbols(coef, order, DstBits{mask, six}, L, half, s, nullptr, d.check_pred.data());
    sym[c] = s;
    lut[c] = d.check_luts.data() + static_cast<size_t>(h.table_seg.table[ci][0]) * 256;
  }

  // The code value sits in the top 12 bits of x, the bits that follow
  // below it; `valid` bits of x are the frame's.
  size_t next = h.header_bits + 1;  // after the integer bit
  uint64_t x = bits_at(frame, size, next);
  unsigned valid = 56;
  next += valid;
  uint32_t range = 4095;
  auto renormalise = [&]() {
    const unsigned sh = static_cast<unsigned>(__builtin_clz(range)) - 20u;
    range <<= sh;
    x <<= sh;
    valid -= sh;
    if (valid < 32) {
      x |= bits_at(frame, size, next) >> valid;
      next += 56 - valid;
      valid = 56;
    }
  };
  {
    // The X bit: decoded, its value is of no interest.
    unsigned xp = 0;
    const unsigned v = static_cast<unsigned>(h.coef[0][0]) & 127u;
    for (int i = 0; i < 7; ++i) xp |= ((v >> i) & 1u) << (6 - i);
    const uint32_t ap = ((range >> 8) | ((range >> 7) & 1)) * (xp + 1);
    const uint64_t hi = static_cast<uint64_t>(range - ap) << 52;
    if (x >= hi) {
      x -= hi;
      range = ap;
    } else {
      range -= ap;
    }
    renormalise();
  }
  for (size_t n = 0; n < L; ++n) {
    uint64_t wrong = 0;
    for (int c = 0; c < C; ++c) {
      const uint32_t v = sym[c][n];
      const uint32_t ap = ((range >> 8) | ((range >> 7) & 1)) * lut[c][v];
      const uint32_t rest = range - ap;
      const uint64_t hi = static_cast<uint64_t>(rest) << 52;
      const uint64_t one = v >> 7;
      wrong |= static_cast<uint64_t>(x >= hi) ^ one;
      x -= hi & (0 - one);
      range = one ? ap : rest;
      renormalise();
    }
    if (wrong) return false;
  }
  return true;
}

}  // namespace varn
