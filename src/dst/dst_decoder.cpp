#include "dst/dst_decoder.h"

#include <algorithm>
#include <cstring>

#include "dst/dst_arith.h"
#include "dst/dst_bits.h"

namespace varn {

namespace {

constexpr int kMinFilterSegmentBits = 1024;
constexpr int kMinTableSegmentBits = 32;

// Prediction coefficients of the coded forms (methods 0, 1, 2).
constexpr int kFilterCodePred[3][3] = {{-8, 0, 0}, {-16, 8, 0}, {-9, -5, 6}};
constexpr int kTableCodePred[3][3] = {{-8, 0, 0}, {-16, 8, 0}, {-24, 24, -8}};

// Bits needed for the value k: floor(log2(k)) + 1 (0 for k = 0).
unsigned width_of(uint32_t k) {
  unsigned w = 0;
  while (w < 32 && (k >> w)) ++w;
  return w;
}

bool fail(std::string& error, const char* why) {
  error = why;
  return false;
}

bool read_segmentation(BitReader& br, int channels, size_t frame_len, int max_segments,
                       int min_bits, DstSegmentation& seg, std::string& error) {
  seg.lengths.assign(static_cast<size_t>(channels), {});
  seg.resolution = 0;
  const uint32_t total_bits = static_cast<uint32_t>(frame_len * 8);
  const uint32_t res_limit = static_cast<uint32_t>(frame_len) - static_cast<uint32_t>(min_bits / 8);
  bool resolution_read = false;
  // Reads the segment lengths of one channel (until the end-of-channel bit).
  auto read_channel = [&](std::vector<uint32_t>& lens) -> bool {
    uint32_t defined = 0;
    uint32_t max_seg = res_limit;
    while (true) {
      if (br.left() == 0) return fail(error, "segmentation runs past the end of the frame");
      if (br.bit()) break;  // end of channel
      if (static_cast<int>(lens.size()) + 1 >= max_segments) return fail(error, "too many segments");
      if (!resolution_read) {
        seg.resolution = br.get(static_cast<int>(width_of(res_limit)));
        if (seg.resolution == 0 || seg.resolution > res_limit) return fail(error, "invalid segment resolution");
        resolution_read = true;
      }
      const uint32_t n = br.get(static_cast<int>(width_of(max_seg / seg.resolution)));
      const uint64_t len = static_cast<uint64_t>(seg.resolution) * 8 * n;
      if (len < static_cast<uint64_t>(min_bits) ||
          len + defined + static_cast<uint64_t>(min_bits) > total_bits)
        return fail(error, "invalid segment length");
      defined += static_cast<uint32_t>(len);
      max_seg -= seg.resolution * n;
      lens.push_back(static_cast<uint32_t>(len));
    }
    lens.push_back(0);  // the last segment takes the rest
    return true;
  };
  seg.same_for_all_channels = br.bit() != 0;
  if (seg.same_for_all_channels) {
    if (!read_channel(seg.lengths[0])) return false;
    for (int c = 1; c < channels; ++c) seg.lengths[static_cast<size_t>(c)] = seg.lengths[0];
  } else {
    for (int c = 0; c < channels; ++c)
      if (!read_channel(seg.lengths[static_cast<size_t>(c)])) return false;
  }
  return true;
}

bool read_mapping(BitReader& br, int channels, DstSegmentation& seg, std::string& error) {
  const unsigned max_tables = 2u * static_cast<unsigned>(channels);
  seg.table.assign(static_cast<size_t>(channels), {});
  for (int c = 0; c < channels; ++c) seg.table[static_cast<size_t>(c)].assign(seg.lengths[static_cast<size_t>(c)].size(), 0);
  unsigned count = 1;
  auto read_one = [&](unsigned& t) -> bool {
    if (br.left() == 0) return fail(error, "mapping runs past the end of the frame");
    t = br.get(static_cast<int>(width_of(count)));
    if (t == count) {
      ++count;
    } else if (t > count) {
      return fail(error, "invalid filter or table number in the mapping");
    }
    return true;
  };
  seg.same_mapping_for_all_channels = br.bit() != 0;
  if (seg.same_mapping_for_all_channels) {
    const size_t nseg = seg.lengths[0].size();
    for (size_t s = 1; s < nseg; ++s)
      if (!read_one(seg.table[0][s])) return false;
    for (int c = 1; c < channels; ++c) {
      if (seg.lengths[static_cast<size_t>(c)].size() != nseg)
        return fail(error, "same mapping for channels with different segmentation");
      seg.table[static_cast<size_t>(c)] = seg.table[0];
    }
  } else {
    for (int c = 0; c < channels; ++c)
      for (size_t s = 0; s < seg.table[static_cast<size_t>(c)].size(); ++s)
        if (c != 0 || s != 0)
          if (!read_one(seg.table[static_cast<size_t>(c)][s])) return false;
  }
  if (count > max_tables) return fail(error, "too many filters or tables");
  seg.count = count;
  return true;
}

// Rice code with an optional sign bit (after a non-zero value).
bool read_rice(BitReader& br, unsigned m, int& value) {
  uint32_t run = 0;
  while (true) {
    if (br.left() == 0) return false;
    if (br.bit()) break;
    if (++run > (1u << 16)) return false;
  }
  const uint32_t mag = (run << m) | br.get(static_cast<int>(m));
  value = static_cast<int>(mag);
  if (mag != 0 && br.bit()) value = -value;
  return true;
}

// Predicted coded entries: x is the prediction from the previous entries.
int unpredict(int residual, int x) { return x >= 0 ? residual - (x + 4) / 8 : residual + (-x + 3) / 8; }

bool read_filters(BitReader& br, DstFrameHeader& h, std::string& error) {
  const unsigned n = h.filter_seg.count;
  h.filter_order.assign(n, 0);
  h.filter_coded.assign(n, false);
  h.coef.assign(n, std::vector<int>(128, 0));
  for (unsigned f = 0; f < n; ++f) {
    if (br.left() < 8) return fail(error, "filter runs past the end of the frame");
    const int order = static_cast<int>(br.get(7)) + 1;
    h.filter_order[f] = order;
    std::vector<int>& c = h.coef[f];
    const bool coded = br.bit() != 0;
    h.filter_coded[f] = coded;
    if (!coded) {
      for (int k = 0; k < order; ++k) c[static_cast<size_t>(k)] = br.get_signed(9);
    } else {
      const unsigned method = br.get(2);
      if (method >= 3) return fail(error, "invalid filter coding method");
      const int pred_order = static_cast<int>(method) + 1;
      for (int k = 0; k < pred_order; ++k) c[static_cast<size_t>(k)] = br.get_signed(9);
      const unsigned m = br.get(3);
      for (int k = pred_order; k < order; ++k) {
        int x = 0;
        for (int t = 0; t < pred_order; ++t) x += kFilterCodePred[method][t] * c[static_cast<size_t>(k - t - 1)];
        int r = 0;
        if (!read_rice(br, m, r)) return fail(error, "filter coefficients run past the end of the frame");
        c[static_cast<size_t>(k)] = unpredict(r, x);
        if (c[static_cast<size_t>(k)] < -256 || c[static_cast<size_t>(k)] > 255)
          return fail(error, "filter coefficient out of range");
      }
    }
    if (br.pos > br.size_bits) return fail(error, "filter runs past the end of the frame");
  }
  return true;
}

bool read_tables(BitReader& br, DstFrameHeader& h, std::string& error) {
  const unsigned n = h.table_seg.count;
  h.table_length.assign(n, 0);
  h.table_coded.assign(n, false);
  h.table_entry.assign(n, std::vector<int>(64, 0));
  for (unsigned t = 0; t < n; ++t) {
    if (br.left() < 6) return fail(error, "probability table runs past the end of the frame");
    const int len = static_cast<int>(br.get(6)) + 1;
    h.table_length[t] = len;
    std::vector<int>& e = h.table_entry[t];
    if (len == 1) {
      e[0] = 128;
      continue;
    }
    const bool coded = br.bit() != 0;
    h.table_coded[t] = coded;
    if (!coded) {
      for (int i = 0; i < len; ++i) e[static_cast<size_t>(i)] = static_cast<int>(br.get(7)) + 1;
    } else {
      const unsigned method = br.get(2);
      if (method >= 3) return fail(error, "invalid probability table coding method");
      const int pred_order = static_cast<int>(method) + 1;
      for (int i = 0; i < pred_order; ++i) e[static_cast<size_t>(i)] = static_cast<int>(br.get(7)) + 1;
      const unsigned m = br.get(3);
      for (int i = pred_order; i < len; ++i) {
        int x = 0;
        for (int k = 0; k < pred_order; ++k) x += kTableCodePred[method][k] * e[static_cast<size_t>(i - k - 1)];
        int r = 0;
        if (!read_rice(br, m, r)) return fail(error, "probability table runs past the end of the frame");
        const int v = unpredict(r, x);
        if (v < 1 || v > 128) return fail(error, "probability table entry out of range");
        e[static_cast<size_t>(i)] = v;
      }
    }
    if (br.pos > br.size_bits) return fail(error, "probability table runs past the end of the frame");
  }
  return true;
}

}  // namespace

bool dst_parse_frame_header(const uint8_t* frame, size_t size, int channels,
                            size_t bytes_per_channel, DstFrameHeader& h, std::string& error) {
  h = DstFrameHeader{};
  if (!frame || size == 0) return fail(error, "empty frame");
  if (channels < 1 || channels > 64 || bytes_per_channel == 0) return fail(error, "invalid frame geometry");
  BitReader br{frame, size * 8, 0};
  h.dst_coded = br.bit() != 0;
  if (!h.dst_coded) {
    br.bit();
    if (br.get(6) != 0) return fail(error, "plain frame with non-zero reserved bits");
    if (size < 1 + static_cast<size_t>(channels) * bytes_per_channel) return fail(error, "plain frame too short");
    h.header_bits = 8;
    return true;
  }
  h.same_segmentation = br.bit() != 0;
  if (!read_segmentation(br, channels, bytes_per_channel, kDstMaxFilterSegments, kMinFilterSegmentBits,
                         h.filter_seg, error))
    return false;
  if (h.same_segmentation) {
    h.table_seg = h.filter_seg;
  } else if (!read_segmentation(br, channels, bytes_per_channel, kDstMaxTableSegments, kMinTableSegmentBits,
                                h.table_seg, error)) {
    return false;
  }
  h.same_mapping = br.bit() != 0;
  if (!read_mapping(br, channels, h.filter_seg, error)) return false;
  if (h.same_mapping) {
    if (!h.same_segmentation) return fail(error, "same mapping for differently segmented tables");
    h.table_seg.table = h.filter_seg.table;
    h.table_seg.count = h.filter_seg.count;
    h.table_seg.same_mapping_for_all_channels = h.filter_seg.same_mapping_for_all_channels;
  } else if (!read_mapping(br, channels, h.table_seg, error)) {
    return false;
  }
  h.half_prob.assign(static_cast<size_t>(channels), 0);
  for (int c = 0; c < channels; ++c) h.half_prob[static_cast<size_t>(c)] = static_cast<uint8_t>(br.bit());
  if (br.pos > br.size_bits) return fail(error, "header runs past the end of the frame");
  if (!read_filters(br, h, error)) return false;
  if (!read_tables(br, h, error)) return false;
  h.header_bits = br.pos;
  if (h.header_bits >= size * 8) return fail(error, "no arithmetic-coded data");
  if (br.bit()) return fail(error, "arithmetic-coded data does not begin with a 0 bit");
  return true;
}

bool dst_decoder_init(DstDecoder& d, int channels, size_t bytes_per_channel) {
  if (channels < 1 || channels > 64 || bytes_per_channel == 0) return false;
  d.channels = channels;
  d.bytes_per_channel = bytes_per_channel;
  d.filter_tables.clear();  // made by the first coded frame decoded
  return true;
}

namespace {

// One channel while decoding: its current filter and table (they change
// at segment boundaries) and its last 128 bits (bit 0 of h0 the newest).
struct ChannelCursor {
  const std::vector<uint32_t>* flen = nullptr;
  const std::vector<unsigned>* fmap = nullptr;
  const std::vector<uint32_t>* plen = nullptr;
  const std::vector<unsigned>* pmap = nullptr;
  size_t fseg = 0, pseg = 0;
  size_t fend = 0, pend = 0;  // first position of the next segment
  const int16_t* filter = nullptr;
  int groups = 0;
  const uint8_t* table = nullptr;  // 64 entries, index already limited
  size_t half_bits = 0;
  uint64_t h0 = 0, h1 = 0;
};

}  // namespace

bool dst_decode_frame(DstDecoder& d, const uint8_t* frame, size_t size, uint8_t* out) {
  const int C = d.channels;
  const size_t bc = d.bytes_per_channel;
  const size_t frame_bytes = bc * static_cast<size_t>(C);
  DstFrameHeader& h = d.header;
  if (!dst_parse_frame_header(frame, size, C, bc, h, d.error)) return false;
  if (!h.dst_coded) {
    d.bits_read = (1 + frame_bytes) * 8;
    std::memcpy(out, frame + 1, frame_bytes);
    return true;
  }
  const size_t L = bc * 8;

  // Partial sums of every 8 coefficients for each pattern of 8 bits.
  const unsigned nf = h.filter_seg.count;
  d.filter_tables.resize(static_cast<size_t>(2 * C) * 16 * 256);
  int groups[128];
  for (unsigned f = 0; f < nf; ++f) {
    const int order = h.filter_order[f];
    groups[f] = (order + 7) / 8;
    for (int j = 0; j < groups[f]; ++j) {
      int16_t* t = d.filter_tables.data() + (static_cast<size_t>(f) * 16 + static_cast<size_t>(j)) * 256;
      int c8[8];
      int sum = 0;
      for (int l = 0; l < 8; ++l) {
        const int k = j * 8 + l;
        c8[l] = k < order ? h.coef[f][static_cast<size_t>(k)] : 0;
        sum += c8[l];
      }
      t[0] = static_cast<int16_t>(-sum);
      for (int v = 1; v < 256; ++v) {
        const int low = __builtin_ctz(static_cast<unsigned>(v));
        t[v] = static_cast<int16_t>(t[v & (v - 1)] + 2 * c8[low]);
      }
    }
  }
  // Probability of every table index, limited to the table's length.
  const unsigned nt = h.table_seg.count;
  d.table_lut.assign(static_cast<size_t>(nt) * 64, 0);
  for (unsigned t = 0; t < nt; ++t)
    for (int i = 0; i < 64; ++i)
      d.table_lut[t * 64 + static_cast<unsigned>(i)] =
          static_cast<uint8_t>(h.table_entry[t][static_cast<size_t>(std::min(i, h.table_length[t] - 1))]);

  ChannelCursor cur[64];
  for (int c = 0; c < C; ++c) {
    const size_t ci = static_cast<size_t>(c);
    ChannelCursor& k = cur[c];
    k.flen = &h.filter_seg.lengths[ci];
    k.fmap = &h.filter_seg.table[ci];
    k.plen = &h.table_seg.lengths[ci];
    k.pmap = &h.table_seg.table[ci];
    const unsigned f0 = (*k.fmap)[0], t0 = (*k.pmap)[0];
    k.filter = d.filter_tables.data() + static_cast<size_t>(f0) * 16 * 256;
    k.groups = groups[f0];
    k.table = d.table_lut.data() + static_cast<size_t>(t0) * 64;
    k.fend = k.flen->size() > 1 ? (*k.flen)[0] : L;
    k.pend = k.plen->size() > 1 ? (*k.plen)[0] : L;
    k.half_bits = h.half_prob[ci] ? static_cast<size_t>(h.filter_order[f0]) : 0;
    k.h0 = k.h1 = 0xAAAAAAAAAAAAAAAAULL;
  }
  std::memset(out, 0, frame_bytes);

  DstArithDecoder ac;
  ac.start(frame, h.header_bits, size * 8);
  unsigned x_prob = 0;
  {
    const unsigned v = static_cast<unsigned>(h.coef[0][0]) & 127u;
    for (int i = 0; i < 7; ++i) x_prob |= ((v >> i) & 1u) << (6 - i);
    x_prob += 1;
  }
  (void)ac.decode(x_prob);

  for (size_t n = 0; n < L; ++n) {
    uint8_t* o = out + (n >> 3) * static_cast<size_t>(C);
    const unsigned shift = 7 - static_cast<unsigned>(n & 7);
    for (int c = 0; c < C; ++c) {
      ChannelCursor& k = cur[c];
      if (n == k.fend) {
        ++k.fseg;
        const unsigned f = (*k.fmap)[k.fseg];
        k.filter = d.filter_tables.data() + static_cast<size_t>(f) * 16 * 256;
        k.groups = groups[f];
        k.fend = k.fseg + 1 < k.flen->size() ? k.fend + (*k.flen)[k.fseg] : L;
      }
      if (n == k.pend) {
        ++k.pseg;
        k.table = d.table_lut.data() + static_cast<size_t>((*k.pmap)[k.pseg]) * 64;
        k.pend = k.pseg + 1 < k.plen->size() ? k.pend + (*k.plen)[k.pseg] : L;
      }
      const int16_t* t = k.filter;
      const uint64_t a = k.h0, b = k.h1;
      int32_t sum = 0;
      const int g = k.groups;
      const int g0 = g < 8 ? g : 8;
      for (int j = 0; j < g0; ++j) sum += t[j * 256 + ((a >> (8 * j)) & 255)];
      for (int j = 8; j < g; ++j) sum += t[j * 256 + ((b >> (8 * (j - 8))) & 255)];
      const int16_t predict = static_cast<int16_t>(sum);
      unsigned p = 128;
      if (n >= k.half_bits) {
        const int mag = (predict < 0 ? -static_cast<int>(predict) : predict) >> 3;
        p = k.table[mag < 63 ? mag : 63];
      }
      const uint32_t residual = ac.decode(p);
      const uint32_t bit = residual ^ (predict >= 0 ? 1u : 0u);
      o[c] = static_cast<uint8_t>(o[c] | (bit << shift));
      k.h1 = (b << 1) | (a >> 63);
      k.h0 = (a << 1) | bit;
    }
  }
  d.bits_read = ac.next_byte * 8 - ac.cached;
  return true;
}

}  // namespace varn
