// A test-side DST frame writer for every header form the decoder reads:
// segmentation, mapping, coefficients and probability tables in plain or
// coded (Rice with prediction) form. It codes the audio with the given
// filters and tables, so that the frame decodes to that audio when the
// decoder reads the header as written.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "dst/dst_arith.h"
#include "dst/dst_decoder.h"

namespace dsttest {

struct SegSpec {
  bool same_for_all = true;
  unsigned resolution = 0;  // bytes; used when any channel has segments
  // Per channel: lengths of all segments but the last, in resolution units.
  std::vector<std::vector<uint32_t>> units;
};

struct MapSpec {
  bool same_for_all = false;
  std::vector<std::vector<unsigned>> table;  // per channel and segment
};

struct FrameSpec {
  int channels = 1;
  size_t bc = 4704;
  bool same_segmentation = true;
  SegSpec fseg, pseg;
  bool same_mapping = true;
  MapSpec fmap, pmap;
  std::vector<int> half_prob;                // per channel
  std::vector<std::vector<int>> coefs;       // per filter
  std::vector<int> coef_method;              // -1 plain, 0..2 coded
  std::vector<unsigned> coef_rice;           // Rice parameter when coded
  std::vector<std::vector<int>> tables;      // per table, entries 1..128
  std::vector<int> table_method;
  std::vector<unsigned> table_rice;
};

struct BitSink {
  std::vector<uint8_t> bytes;
  size_t pos = 0;
  void put(uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) {
      if (bytes.size() <= pos / 8) bytes.push_back(0);
      if ((v >> i) & 1) bytes[pos / 8] |= static_cast<uint8_t>(0x80 >> (pos % 8));
      ++pos;
    }
  }
};

inline void put_rice(BitSink& s, int value, unsigned m) {
  const uint32_t mag = static_cast<uint32_t>(std::abs(value));
  for (uint32_t i = 0; i < (mag >> m); ++i) s.put(0, 1);
  s.put(1, 1);
  s.put(mag & ((1u << m) - 1), static_cast<int>(m));
  if (mag) s.put(value < 0 ? 1 : 0, 1);
}

inline void put_segmentation(BitSink& s, const SegSpec& seg, const FrameSpec& f, int min_bits) {
  s.put(seg.same_for_all ? 1 : 0, 1);
  bool resolution_written = false;
  const uint32_t res_limit = static_cast<uint32_t>(f.bc) - static_cast<uint32_t>(min_bits / 8);
  const int channels = seg.same_for_all ? 1 : f.channels;
  for (int c = 0; c < channels; ++c) {
    uint32_t max_seg = res_limit;
    for (uint32_t u : seg.units[static_cast<size_t>(c)]) {
      s.put(0, 1);
      if (!resolution_written) {
        s.put(seg.resolution, static_cast<int>(std::bit_width(res_limit)));
        resolution_written = true;
      }
      s.put(u, static_cast<int>(std::bit_width(max_seg / seg.resolution)));
      max_seg -= seg.resolution * u;
    }
    s.put(1, 1);
  }
}

inline void put_mapping(BitSink& s, const MapSpec& map, const FrameSpec& f) {
  s.put(map.same_for_all ? 1 : 0, 1);
  unsigned count = 1;
  auto one = [&](unsigned t) {
    s.put(t, static_cast<int>(std::bit_width(count)));
    if (t == count) ++count;
  };
  if (map.same_for_all) {
    for (size_t seg = 1; seg < map.table[0].size(); ++seg) one(map.table[0][seg]);
  } else {
    for (int c = 0; c < f.channels; ++c)
      for (size_t seg = 0; seg < map.table[static_cast<size_t>(c)].size(); ++seg)
        if (c != 0 || seg != 0) one(map.table[static_cast<size_t>(c)][seg]);
  }
}

inline void put_values(BitSink& s, const std::vector<int>& v, int method, unsigned rice, int bits, int offset,
                       const int pred[3][3]) {
  if (method < 0) {
    s.put(0, 1);
    for (int x : v) s.put(static_cast<uint32_t>(x - offset) & ((1u << bits) - 1), bits);
    return;
  }
  s.put(1, 1);
  s.put(static_cast<uint32_t>(method), 2);
  const size_t order = static_cast<size_t>(method) + 1;
  // As many leading values as the method's predictor, even past the end
  // (a decoder reads them all).
  for (size_t i = 0; i < order; ++i)
    s.put(static_cast<uint32_t>((i < v.size() ? v[i] : offset) - offset) & ((1u << bits) - 1), bits);
  s.put(rice, 3);
  for (size_t k = order; k < v.size(); ++k) {
    int x = 0;
    for (size_t t = 0; t < order; ++t) x += pred[method][t] * v[k - t - 1];
    const int r = x >= 0 ? v[k] + (x + 4) / 8 : v[k] - (-x + 3) / 8;
    put_rice(s, r, rice);
  }
}

// Segment number of position n for a channel with the given lengths (bits).
inline size_t segment_at(const std::vector<uint32_t>& units, unsigned resolution, size_t n) {
  size_t start = 0;
  for (size_t s = 0; s < units.size(); ++s) {
    start += static_cast<size_t>(units[s]) * resolution * 8;
    if (n < start) return s;
  }
  return units.size();
}

// The whole frame for `audio` (channels x bc bytes, byte-interleaved).
inline std::vector<uint8_t> write_frame(const FrameSpec& f, const uint8_t* audio) {
  static const int kFilterPred[3][3] = {{-8, 0, 0}, {-16, 8, 0}, {-9, -5, 6}};
  static const int kTablePred[3][3] = {{-8, 0, 0}, {-16, 8, 0}, {-24, 24, -8}};
  BitSink s;
  s.put(1, 1);
  s.put(f.same_segmentation ? 1 : 0, 1);
  put_segmentation(s, f.fseg, f, 1024);
  if (!f.same_segmentation) put_segmentation(s, f.pseg, f, 32);
  s.put(f.same_mapping ? 1 : 0, 1);
  put_mapping(s, f.fmap, f);
  if (!f.same_mapping) put_mapping(s, f.pmap, f);
  for (int c = 0; c < f.channels; ++c) s.put(static_cast<uint32_t>(f.half_prob[static_cast<size_t>(c)]), 1);
  for (size_t i = 0; i < f.coefs.size(); ++i) {
    s.put(static_cast<uint32_t>(f.coefs[i].size() - 1), 7);
    put_values(s, f.coefs[i], f.coef_method[i], f.coef_rice[i], 9, 0, kFilterPred);
  }
  for (size_t i = 0; i < f.tables.size(); ++i) {
    s.put(static_cast<uint32_t>(f.tables[i].size() - 1), 6);
    if (f.tables[i].size() != 1) put_values(s, f.tables[i], f.table_method[i], f.table_rice[i], 7, 1, kTablePred);
  }
  const size_t header_bits = s.pos;

  // Arithmetic coding by the decoding rules.
  const size_t C = static_cast<size_t>(f.channels);
  const size_t L = f.bc * 8;
  const SegSpec& pseg = f.same_segmentation ? f.fseg : f.pseg;
  const MapSpec& pmap = f.same_mapping ? f.fmap : f.pmap;
  std::vector<uint8_t> code(C * f.bc * 2 + 4096);
  varn::DstArithEncoder ac;
  ac.start(code.data(), code.size() * 8 - 1024);
  unsigned x = 0;
  for (int i = 0; i < 7; ++i) x |= ((static_cast<unsigned>(f.coefs[0][0]) >> i) & 1u) << (6 - i);
  ac.encode(0, x + 1);
  std::vector<std::vector<int>> hist(C, std::vector<int>(128));
  for (size_t c = 0; c < C; ++c)
    for (size_t j = 0; j < 128; ++j) hist[c][j] = (j % 2 == 0) ? -1 : 1;  // hist[c][0] is position -1
  for (size_t n = 0; n < L; ++n) {
    for (size_t c = 0; c < C; ++c) {
      const size_t fc = f.fseg.same_for_all ? 0 : c;
      const size_t pc = pseg.same_for_all ? 0 : c;
      const unsigned filt = f.fmap.table[f.fmap.same_for_all ? 0 : c][segment_at(f.fseg.units[fc], f.fseg.resolution, n)];
      const unsigned tab = pmap.table[pmap.same_for_all ? 0 : c][segment_at(pseg.units[pc], pseg.resolution, n)];
      const std::vector<int>& q = f.coefs[filt];
      int p = 0;
      for (size_t k = 0; k < q.size(); ++k) p += q[k] * hist[c][k];
      const unsigned first_filter = f.fmap.table[f.fmap.same_for_all ? 0 : c][0];
      unsigned prob = 128;
      if (!(f.half_prob[c] && n < f.coefs[first_filter].size())) {
        const std::vector<int>& t = f.tables[tab];
        prob = static_cast<unsigned>(t[std::min<size_t>(static_cast<size_t>(std::abs(p) >> 3), t.size() - 1)]);
      }
      const int bit = (audio[(n / 8) * C + c] >> (7 - n % 8)) & 1;
      ac.encode(static_cast<uint32_t>(bit ^ (p >= 0 ? 1 : 0)), prob);
      for (size_t k = 127; k > 0; --k) hist[c][k] = hist[c][k - 1];
      hist[c][0] = bit ? 1 : -1;
    }
  }
  const size_t code_bits = ac.finish();
  std::vector<uint8_t> out = s.bytes;
  out.resize((header_bits + code_bits + 7) / 8 + 1, 0);
  for (size_t i = 0; i < code_bits; ++i) {
    const size_t at = header_bits + i;
    if ((code[i / 8] >> (7 - i % 8)) & 1) out[at / 8] |= static_cast<uint8_t>(0x80 >> (at % 8));
  }
  out.resize((header_bits + code_bits + 7) / 8);
  return out;
}

// A frame spec of one segment per channel, channel c on filter and table
// map[c], with the given filters and tables in plain form.
inline FrameSpec simple_spec(int channels, size_t bc, const std::vector<unsigned>& map,
                             const std::vector<std::vector<int>>& coefs, const std::vector<std::vector<int>>& tables) {
  FrameSpec f;
  f.channels = channels;
  f.bc = bc;
  f.fseg.units.assign(1, {});
  f.fmap.same_for_all = false;
  for (int c = 0; c < channels; ++c) f.fmap.table.push_back({map[static_cast<size_t>(c)]});
  f.half_prob.assign(static_cast<size_t>(channels), 1);
  f.coefs = coefs;
  f.coef_method.assign(coefs.size(), -1);
  f.coef_rice.assign(coefs.size(), 0);
  f.tables = tables;
  f.table_method.assign(tables.size(), -1);
  f.table_rice.assign(tables.size(), 0);
  return f;
}

// The spec of a frame our encoder wrote: its filters, tables and mapping,
// one segment per channel, plain forms.
inline FrameSpec spec_of(const std::vector<uint8_t>& frame, int channels, size_t bc) {
  varn::DstFrameHeader h;
  std::string err;
  if (!varn::dst_parse_frame_header(frame.data(), frame.size(), channels, bc, h, err) || !h.dst_coded) return {};
  std::vector<std::vector<int>> coefs, tables;
  std::vector<unsigned> map;
  for (size_t i = 0; i < h.filter_order.size(); ++i) coefs.emplace_back(h.coef[i].begin(), h.coef[i].begin() + h.filter_order[i]);
  for (size_t i = 0; i < h.table_length.size(); ++i)
    tables.emplace_back(h.table_entry[i].begin(), h.table_entry[i].begin() + h.table_length[i]);
  for (int c = 0; c < channels; ++c) map.push_back(h.filter_seg.table[static_cast<size_t>(c)][0]);
  return simple_spec(channels, bc, map, coefs, tables);
}

}  // namespace dsttest
