// DST frame encoder: per-thread working state and the frame coding steps
// (unpack, autocorrelation, filter design, prediction, probability tables,
// arithmetic coding, frame assembly).
//
// Within one frame the sharing attempts repeat a lot of work: the unpacked
// bits and the per-channel autocorrelations depend on the frame only, and a
// filter (with the prediction of its channels) depends only on the set of
// channels that share it. Both are kept and reused while the same frame is
// encoded again; the results are exactly those of a fresh computation.
#include "dst/dst_encoder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "dst/dst_arith.h"
#include "dst/dst_autocorr.h"
#include "dst/dst_bits.h"
#include "dst/dst_filter_design.h"
#include "dst/dst_kernel.h"

namespace varn {

namespace {

constexpr int kMaxChannels = 64;
constexpr int kMaxOrder = 128;
constexpr int kMaxTableLength = 64;
constexpr size_t kHistory = 128;  // mask positions before bit 0
constexpr size_t kWordPad = 4;    // zero words before each channel's packed bits

struct FilterSlot {
  uint64_t channels = 0;  // set of channels that share the filter
  int requested = 0;      // requested order it was designed for
  int order = 0;          // effective order
  int16_t coef[kMaxOrder] = {};
};

struct DstEncoderState {
  int channels = 0;
  int rate_multiple = 0;
  int base_rate = 0;
  size_t bc = 0;  // bytes per channel per frame
  size_t L = 0;   // bits per channel per frame

  int count = 0;  // F = T
  int map[kMaxChannels] = {};
  int requested[kMaxChannels] = {};
  int table_length[kMaxChannels] = {};

  // Per-channel working arrays.
  size_t mask_stride = 0;
  size_t word_stride = 0;
  int16_t* mask = nullptr;     // channels x mask_stride: history then L positions
  uint64_t* words = nullptr;   // channels x word_stride: pad then packed bits
  uint8_t* residual = nullptr; // channels x L
  uint8_t* index = nullptr;    // channels x L: probability-table index
  uint8_t* prob = nullptr;     // channels x L: coding probability
  int16_t* pred = nullptr;     // L: prediction of one channel
  uint32_t* counts = nullptr;  // channels x 64 x 2: residual zeros and ones per index
  int64_t* acorr = nullptr;    // channels x (kMaxOrder + 1)

  // Filter design.
  double r[kMaxOrder + 1] = {};
  double* factor = nullptr;  // kMaxOrder x kMaxOrder
  double y[kMaxOrder] = {};
  double a[kMaxOrder] = {};

  FilterSlot filters[kMaxChannels];
  FilterSlot previous[kMaxChannels];
  int previous_count = 0;
  uint8_t table[kMaxChannels][kMaxTableLength] = {};

  // What the cached per-frame and per-channel results belong to.
  uint8_t* frame_copy = nullptr;  // channels x bc
  bool frame_valid = false;
  int acorr_lags = -1;
  uint64_t channel_key[kMaxChannels] = {};
  int channel_requested[kMaxChannels] = {};
  bool channel_valid[kMaxChannels] = {};

  uint8_t* code = nullptr;  // arithmetic-coded data
  size_t code_capacity = 0;

  uint32_t last_bits = 0;
  void* block = nullptr;
};

thread_local DstEncoderState* t_state = nullptr;

size_t align_up(size_t v, size_t a) { return (v + a - 1) / a * a; }

void release(DstEncoderState* s) {
  if (!s) return;
  std::free(s->block);
  delete s;
}

// Unpacks the frame into masks and packed words and forgets everything
// kept from the previous frame.
void prepare_frame(DstEncoderState& s, const uint8_t* frame) {
  const int C = s.channels;
  const size_t bc = s.bc;
  for (int c = 0; c < C; ++c) {
    int16_t* m = s.mask + static_cast<size_t>(c) * s.mask_stride + kHistory;
    uint64_t* w = s.words + static_cast<size_t>(c) * s.word_stride + kWordPad;
    for (size_t i = 0; i < bc; ++i) {
      const unsigned byte = frame[i * static_cast<size_t>(C) + static_cast<size_t>(c)];
      for (int j = 0; j < 8; ++j) m[i * 8 + j] = static_cast<int16_t>(-static_cast<int>((byte >> (7 - j)) & 1));
    }
    const size_t nwords = (s.L + 63) / 64;
    for (size_t i = 0; i < nwords; ++i) {
      uint64_t v = 0;
      const size_t first = i * 8;
      const size_t last = std::min(first + 8, bc);
      for (size_t b = first; b < last; ++b) {
        const unsigned byte = frame[b * static_cast<size_t>(C) + static_cast<size_t>(c)];
        unsigned rev = 0;
        for (int j = 0; j < 8; ++j) rev |= ((byte >> (7 - j)) & 1u) << j;
        v |= static_cast<uint64_t>(rev) << (8 * (b - first));
      }
      w[i] = v;
    }
  }
  s.frame_valid = true;
  s.acorr_lags = -1;
  for (int c = 0; c < C; ++c) s.channel_valid[c] = false;
  s.previous_count = 0;
}

void ensure_autocorrelation(DstEncoderState& s, int lags) {
  if (s.acorr_lags >= lags) return;
  for (int c = 0; c < s.channels; ++c) {
    const uint64_t* w = s.words + static_cast<size_t>(c) * s.word_stride + kWordPad;
    dst_autocorrelation(w, s.L, lags, s.acorr + static_cast<size_t>(c) * (kMaxOrder + 1));
  }
  s.acorr_lags = lags;
}

// Designs (or takes from the previous attempt) the filter of one channel set.
void design_filter(DstEncoderState& s, FilterSlot& f, uint64_t set, int requested) {
  for (int i = 0; i < s.previous_count; ++i) {
    const FilterSlot& p = s.previous[i];
    if (p.channels == set && p.requested == requested) {
      f = p;
      return;
    }
  }
  for (int k = 0; k <= requested; ++k) {
    int64_t sum = 0;
    for (int c = 0; c < s.channels; ++c)
      if ((set >> c) & 1) sum += s.acorr[static_cast<size_t>(c) * (kMaxOrder + 1) + static_cast<size_t>(k)];
    s.r[k] = static_cast<double>(sum);
  }
  DstDesignScratch scratch{s.factor, s.y, s.a};
  f.channels = set;
  f.requested = requested;
  f.order = dst_design_filter(s.r, requested, scratch, f.coef);
  // The filter that holds channel 0 is filter 0: its first coefficient is
  // made odd.
  if (set & 1) f.coef[0] = static_cast<int16_t>(f.coef[0] | 1);
}

// Prediction, residual, table index and index statistics of one channel.
void predict_channel(DstEncoderState& s, int c, const FilterSlot& f) {
  const size_t L = s.L;
  const int16_t* m = s.mask + static_cast<size_t>(c) * s.mask_stride + kHistory;
  int16_t* pred = s.pred;
  dst_predict(dst_kernel_for(f.order), f.coef, f.order, m, pred, L);
  uint8_t* res = s.residual + static_cast<size_t>(c) * L;
  uint8_t* idx = s.index + static_cast<size_t>(c) * L;
  for (size_t n = 0; n < L; ++n) {
    const int p = pred[n];
    const uint8_t predicted = p >= 0 ? 1 : 0;
    res[n] = static_cast<uint8_t>((m[n] & 1) ^ predicted);
    const int mag = (p < 0 ? -p : p) >> 3;
    idx[n] = static_cast<uint8_t>(mag < 63 ? mag : 63);
  }
  uint32_t* cnt = s.counts + static_cast<size_t>(c) * kMaxTableLength * 2;
  std::memset(cnt, 0, sizeof(uint32_t) * kMaxTableLength * 2);
  uint32_t part[4][kMaxTableLength * 2] = {};
  size_t n = static_cast<size_t>(f.order) < L ? static_cast<size_t>(f.order) : L;
  for (; n + 4 <= L; n += 4) {
    ++part[0][idx[n] * 2 + res[n]];
    ++part[1][idx[n + 1] * 2 + res[n + 1]];
    ++part[2][idx[n + 2] * 2 + res[n + 2]];
    ++part[3][idx[n + 3] * 2 + res[n + 3]];
  }
  for (; n < L; ++n) ++part[0][idx[n] * 2 + res[n]];
  for (int i = 0; i < kMaxTableLength * 2; ++i) cnt[i] = part[0][i] + part[1][i] + part[2][i] + part[3][i];
  s.channel_key[c] = f.channels;
  s.channel_requested[c] = f.requested;
  s.channel_valid[c] = true;
}

unsigned field_width(unsigned k) {
  unsigned w = 0;
  while (k >> w) ++w;
  return w;  // floor(log2(k)) + 1 for k >= 1
}

unsigned reverse7(unsigned v) {
  unsigned r = 0;
  for (int i = 0; i < 7; ++i) r |= ((v >> i) & 1u) << (6 - i);
  return r;
}

uint32_t write_plain(const DstEncoderState& s, const uint8_t* frame, uint8_t* out) {
  const size_t bytes = s.bc * static_cast<size_t>(s.channels);
  out[0] = 0;
  std::memcpy(out + 1, frame, bytes);
  return static_cast<uint32_t>((bytes + 1) * 8);
}

}  // namespace

bool Init(int channels, int rate_multiple, int base_rate, int prediction_order) {
  if (channels < 1 || channels > kMaxChannels) return false;
  if (rate_multiple != 64 && rate_multiple != 128 && rate_multiple != 256) return false;
  if (base_rate < 75) return false;
  const size_t bc = static_cast<size_t>(base_rate / 75) * static_cast<size_t>(rate_multiple) / 8;
  if (bc == 0 || bc > static_cast<size_t>(DSDFRAMESIZE)) return false;

  dst_encoder_close();
  DstEncoderState* s = new (std::nothrow) DstEncoderState();
  if (!s) {
    std::fprintf(stderr, "Init: malloc failed\n");
    return false;
  }
  const size_t C = static_cast<size_t>(channels);
  s->channels = channels;
  s->rate_multiple = rate_multiple;
  s->base_rate = base_rate;
  s->bc = bc;
  s->L = bc * 8;
  s->mask_stride = align_up(kHistory + s->L + 32, 32);
  s->word_stride = kWordPad + (s->L + 63) / 64 + 1;
  s->code_capacity = C * s->L / 8 + 64;

  // One zero-filled block for every array.
  size_t offsets[10];
  size_t total = 0;
  const size_t sizes[10] = {
      C * s->mask_stride * sizeof(int16_t),
      C * s->word_stride * sizeof(uint64_t),
      C * s->L,
      C * s->L,
      C * s->L,
      (s->L + 64) * sizeof(int16_t),
      C * kMaxTableLength * 2 * sizeof(uint32_t),
      C * (kMaxOrder + 1) * sizeof(int64_t),
      static_cast<size_t>(kMaxOrder) * kMaxOrder * sizeof(double),
      C * bc + s->code_capacity,
  };
  for (int i = 0; i < 10; ++i) {
    offsets[i] = total;
    total = align_up(total + sizes[i], 64);
  }
  void* block = std::calloc(1, total + 64);
  if (!block) {
    delete s;
    std::fprintf(stderr, "Init: malloc failed\n");
    return false;
  }
  s->block = block;
  uint8_t* base = reinterpret_cast<uint8_t*>(align_up(reinterpret_cast<uintptr_t>(block), 64));
  s->mask = reinterpret_cast<int16_t*>(base + offsets[0]);
  s->words = reinterpret_cast<uint64_t*>(base + offsets[1]);
  s->residual = base + offsets[2];
  s->index = base + offsets[3];
  s->prob = base + offsets[4];
  s->pred = reinterpret_cast<int16_t*>(base + offsets[5]);
  s->counts = reinterpret_cast<uint32_t*>(base + offsets[6]);
  s->acorr = reinterpret_cast<int64_t*>(base + offsets[7]);
  s->factor = reinterpret_cast<double*>(base + offsets[8]);
  s->frame_copy = base + offsets[9];
  s->code = s->frame_copy + C * bc;

  // Fixed history before every frame: alternating bits, 0 at position -1.
  for (size_t c = 0; c < C; ++c) {
    int16_t* m = s->mask + c * s->mask_stride + kHistory;
    for (size_t j = 1; j <= kHistory; ++j) m[-static_cast<long>(j)] = (j % 2 == 0) ? -1 : 0;
  }

  const int order = std::clamp(prediction_order, 1, kMaxOrder);
  s->count = channels;
  for (int c = 0; c < channels; ++c) {
    s->map[c] = c;
    s->requested[c] = order;
    s->table_length[c] = kMaxTableLength;
  }
  t_state = s;
  return true;
}

void dst_set_sharing(int n, int order, int table_length) {
  DstEncoderState* s = t_state;
  if (!s) return;
  n = std::clamp(n, 1, s->channels);
  s->count = n;
  for (int c = 0; c < s->channels; ++c) s->map[c] = c % n;
  for (int f = 0; f < s->channels; ++f) {
    if (order >= 1) s->requested[f] = std::min(order, kMaxOrder);
    if (table_length >= 1) s->table_length[f] = std::min(table_length, kMaxTableLength);
  }
}

void dst_encoder_close() {
  release(t_state);
  t_state = nullptr;
}

int dst_encode_frame(const uint8_t* frame, uint8_t* out, uint32_t& bits) {
  DstEncoderState* sp = t_state;
  bits = 0;
  if (!sp || !frame || !out) return -1;
  DstEncoderState& s = *sp;
  const int C = s.channels;
  const size_t L = s.L;
  const size_t frame_bytes = s.bc * static_cast<size_t>(C);
  const int F = s.count;

  // 1. Unpack (and keep what belongs to the frame while it stays the same).
  if (!s.frame_valid || std::memcmp(frame, s.frame_copy, frame_bytes) != 0) {
    std::memcpy(s.frame_copy, frame, frame_bytes);
    prepare_frame(s, frame);
  }

  // 2. Autocorrelation per channel; the filter sums are formed in step 3.
  int max_requested = 1;
  for (int f = 0; f < F; ++f) max_requested = std::max(max_requested, s.requested[f]);
  ensure_autocorrelation(s, max_requested);

  // 3. Filter design for each channel set.
  for (int f = 0; f < F; ++f) {
    uint64_t set = 0;
    for (int c = 0; c < C; ++c)
      if (s.map[c] == f) set |= 1ULL << c;
    design_filter(s, s.filters[f], set, s.requested[f]);
  }

  // 4. Prediction and residuals.
  for (int c = 0; c < C; ++c) {
    const FilterSlot& f = s.filters[s.map[c]];
    if (s.channel_valid[c] && s.channel_key[c] == f.channels && s.channel_requested[c] == f.requested) continue;
    predict_channel(s, c, f);
  }
  for (int f = 0; f < F; ++f) s.previous[f] = s.filters[f];
  s.previous_count = F;

  // 5. Probability tables.
  uint64_t ones_total = 0;
  for (int t = 0; t < F; ++t) {
    const int len = s.table_length[t];
    uint64_t ones[kMaxTableLength] = {}, zeros[kMaxTableLength] = {};
    for (int c = 0; c < C; ++c) {
      if (s.map[c] != t) continue;
      const uint32_t* cnt = s.counts + static_cast<size_t>(c) * kMaxTableLength * 2;
      for (int i = 0; i < kMaxTableLength; ++i) {
        const int j = std::min(i, len - 1);
        zeros[j] += cnt[i * 2];
        ones[j] += cnt[i * 2 + 1];
      }
    }
    for (int i = 0; i < len; ++i) {
      ones_total += ones[i];
      const uint64_t all = ones[i] + zeros[i];
      uint64_t e = all ? (513 * ones[i] + zeros[i]) / (2 * all) : 1;
      s.table[t][i] = static_cast<uint8_t>(std::clamp<uint64_t>(e, 1, 128));
    }
    // A table of one entry is not stored in the frame; its entry is 128.
    if (len == 1) s.table[t][0] = 128;
  }

  // 7. A frame whose residual is mostly ones does not compress.
  if (ones_total > (L / 2) * static_cast<uint64_t>(C)) {
    bits = write_plain(s, frame, out);
    s.last_bits = bits;
    return 0;
  }

  // 6. Coding probabilities.
  for (int c = 0; c < C; ++c) {
    const int t = s.map[c];
    const int len = s.table_length[t];
    const size_t order = std::min(static_cast<size_t>(s.filters[t].order), L);
    uint8_t lut[kMaxTableLength];
    for (int i = 0; i < kMaxTableLength; ++i) lut[i] = s.table[t][std::min(i, len - 1)];
    const uint8_t* idx = s.index + static_cast<size_t>(c) * L;
    uint8_t* pr = s.prob + static_cast<size_t>(c) * L;
    std::memset(pr, 128, order);
    for (size_t n = order; n < L; ++n) pr[n] = lut[idx[n]];
  }

  // 9 (first part). Frame header.
  size_t header_bound = 6 + static_cast<size_t>(C) * 8 + static_cast<size_t>(F) * (8 + kMaxOrder * 9) +
                        static_cast<size_t>(F) * (7 + kMaxTableLength * 7);
  std::memset(out, 0, header_bound / 8 + 2);
  BitWriter w{out, 0};
  w.put(1, 1);  // DST coded
  w.put(1, 1);  // same segmentation for filters and tables
  w.put(1, 1);  // same segmentation for all channels
  w.put(1, 1);  // end of channel segmentation: one segment per channel
  w.put(1, 1);  // same mapping for filters and tables
  w.put(0, 1);  // same mapping for all channels
  {
    uint64_t seen = 1ULL << s.map[0];
    unsigned distinct = 1;
    for (int c = 1; c < C; ++c) {
      w.put(static_cast<uint32_t>(s.map[c]), static_cast<int>(field_width(distinct)));
      if (!((seen >> s.map[c]) & 1)) {
        seen |= 1ULL << s.map[c];
        ++distinct;
      }
    }
  }
  for (int c = 0; c < C; ++c) w.put(1, 1);  // half probability
  for (int f = 0; f < F; ++f) {
    const FilterSlot& fs = s.filters[f];
    w.put(static_cast<uint32_t>(fs.order - 1), 7);
    w.put(0, 1);
    for (int k = 0; k < fs.order; ++k) w.put(static_cast<uint32_t>(fs.coef[k]) & 0x1FF, 9);
  }
  for (int t = 0; t < F; ++t) {
    const int len = s.table_length[t];
    w.put(static_cast<uint32_t>(len - 1), 6);
    if (len != 1) {
      w.put(0, 1);
      for (int i = 0; i < len; ++i) w.put(static_cast<uint32_t>(s.table[t][i] - 1), 7);
    }
  }
  const size_t header_bits = w.pos;

  // 8. Arithmetic coding.
  const size_t plain_bits = L * static_cast<size_t>(C);
  DstArithEncoder ac;
  ac.start(s.code, plain_bits);
  const unsigned x_prob = reverse7(static_cast<uint16_t>(s.filters[0].coef[0]) & 127u) + 1;
  ac.encode(0, x_prob);
  const uint8_t* res[kMaxChannels];
  const uint8_t* pr[kMaxChannels];
  for (int c = 0; c < C; ++c) {
    res[c] = s.residual + static_cast<size_t>(c) * L;
    pr[c] = s.prob + static_cast<size_t>(c) * L;
  }
  ac.encode_channels(res, pr, C, L);
  const size_t code_bits = ac.overflow ? plain_bits : ac.finish();

  // 9. Assembly: the coded frame only when it is not longer than the plain one.
  const size_t total_bits = header_bits + code_bits;
  const size_t total_bytes = (total_bits + 7) / 8;
  if (ac.overflow || code_bits >= plain_bits || total_bytes * 8 > plain_bits + 8) {
    bits = write_plain(s, frame, out);
  } else {
    std::memset(out + header_bits / 8 + 1, 0, total_bytes - header_bits / 8);
    dst_splice_bits(out, header_bits, s.code, code_bits);
    bits = static_cast<uint32_t>(total_bytes * 8);
  }
  s.last_bits = bits;
  return 0;
}

}  // namespace varn
