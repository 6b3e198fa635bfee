// DST frame encoder: per-thread working state and the frame coding steps
// (unpack, autocorrelation, filter design, prediction, probability tables,
// arithmetic coding, frame assembly).
//
// A frame is usually coded at several sharing counts (attempts) and the
// shortest kept. Those attempts repeat a lot of work: the autocorrelations
// depend on the frame only, a filter (with its table) only on the set of
// channels that share it, and a channel's symbols only on the channel and
// its filter. Each is computed once per frame and kept while the frame
// stays the same. The attempts are then arithmetic-coded a few at a time
// side by side (the coder is a serial chain of register updates, and
// independent chains overlap in the processor); the results are exactly
// those of coding each attempt on its own.
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
#include "dst/dst_symbols.h"
#include "platform/report.h"

namespace varn {

namespace {

constexpr int kMaxChannels = 64;
constexpr int kMaxOrder = 128;
constexpr int kMaxTableLength = 64;
constexpr size_t kWordPad = 4;  // zero words before each channel's packed bits
constexpr int kBuffers = 2;  // the best so far and the attempt being written

// A filter designed for a set of channels, with the probability table of
// those channels.
struct FilterEntry {
  uint64_t set;
  int requested;  // requested order it was designed for
  int order;      // effective order
  int16_t coef[kMaxOrder];
  bool table_ready;
  uint64_t ones;  // residual ones counted into the table
  uint8_t table[kMaxTableLength];
  uint8_t lut[256];  // probability of every symbol byte
};

// One channel predicted by one filter: its symbols and their statistics.
struct PairSlot {
  int channel;  // -1 when free
  uint64_t set;
  int requested;
  unsigned batch;  // last batch that used it
  uint32_t counts[256];  // per symbol byte
  uint8_t* sym;
};

// One sharing count tried on the frame.
struct Attempt {
  int n;
  int filter[kMaxChannels];  // filter entry of each filter number
  int pair[kMaxChannels];    // pair slot of each channel
  bool coded;                // false for a plain frame
  int buffer;                // code buffer holding the bits, -1 if only measured
  size_t code_bits;
  uint32_t bits;  // whole frame
  DstArithMark mark[kDstCheckParts - 1];  // where the check's parts begin
};

struct DstEncoderState {
  int channels = 0;
  int rate_multiple = 0;
  int base_rate = 0;
  size_t bc = 0;  // bytes per channel per frame
  size_t L = 0;   // bits per channel per frame

  int count = 0;          // F = T
  int requested = 0;      // every filter's requested order
  int table_length = 0;   // every table's length

  size_t word_stride = 0;
  uint64_t* words = nullptr;  // channels x word_stride: pad then packed bits
  int16_t* mask = nullptr;    // kDstSymbolBlock positions of one channel in the
  int16_t* six = nullptr;     // kernels' two forms, after their history
  int16_t* pred = nullptr;    // kDstSymbolBlock predictions
  int64_t* acorr = nullptr;   // channels x (kMaxOrder + 1)

  double r[kMaxOrder + 1] = {};
  double* factor = nullptr;  // kMaxOrder x kMaxOrder
  double y[kMaxOrder] = {};
  double a[kMaxOrder] = {};

  FilterEntry* filters = nullptr;
  int filter_capacity = 0;
  int filter_count = 0;
  PairSlot* pairs = nullptr;
  int pair_capacity = 0;
  unsigned batch = 0;

  // What the kept results belong to.
  uint8_t* frame_copy = nullptr;  // channels x bc
  bool frame_valid = false;
  int acorr_lags = -1;

  uint8_t* code[kBuffers] = {};
  size_t code_capacity = 0;
  uint8_t* header = nullptr;  // scratch for measuring headers
  size_t header_capacity = 0;

  uint32_t last_bits = 0;
  int usual_n = 0;  // sharing count of the last coded frame: its attempt writes its bits
  void* block = nullptr;
};

thread_local DstEncoderState* t_state = nullptr;

size_t align_up(size_t v, size_t a) { return (v + a - 1) / a * a; }

void release(DstEncoderState* s) {
  if (!s) return;
  std::free(s->block);
  delete s;
}

uint64_t channel_set(int channels, int n, int f) {
  uint64_t set = 0;
  for (int c = f; c < channels; c += n) set |= 1ULL << c;
  return set;
}

// Distinct (channel, filter set) pairs over every sharing count.
int pairs_of_all_sharings(int channels) {
  int total = 0;
  for (int n = channels; n >= 1; --n)
    for (int c = 0; c < channels; ++c) {
      // The pair was seen at a larger count when c's set there is the same.
      const uint64_t set = channel_set(channels, n, c % n);
      bool seen = false;
      for (int m = channels; m > n && !seen; --m) seen = channel_set(channels, m, c % m) == set;
      total += seen ? 0 : 1;
    }
  return total;
}

// Packs the frame's bits and forgets everything kept from the previous
// frame.
void prepare_frame(DstEncoderState& s, const uint8_t* frame) {
  const int C = s.channels;
  const size_t bc = s.bc;
  for (int c = 0; c < C; ++c) {
    uint64_t* w = s.words + static_cast<size_t>(c) * s.word_stride + kWordPad;
    const size_t nwords = (s.L + 63) / 64;
    for (size_t i = 0; i < nwords; ++i) {
      uint64_t v = 0;
      const size_t first = i * 8;
      const size_t last = std::min(first + 8, bc);
      for (size_t b = first; b < last; ++b) {
        const uint8_t rev = kDstByteReverse.v[frame[b * static_cast<size_t>(C) + static_cast<size_t>(c)]];
        v |= static_cast<uint64_t>(rev) << (8 * (b - first));
      }
      w[i] = v;
    }
  }
  s.frame_valid = true;
  s.acorr_lags = -1;
  s.filter_count = 0;
  for (int i = 0; i < s.pair_capacity; ++i) s.pairs[i].channel = -1;
}

void ensure_autocorrelation(DstEncoderState& s, int lags) {
  if (s.acorr_lags >= lags) return;
  for (int c = 0; c < s.channels; ++c) {
    const uint64_t* w = s.words + static_cast<size_t>(c) * s.word_stride + kWordPad;
    dst_autocorrelation(w, s.L, lags, s.acorr + static_cast<size_t>(c) * (kMaxOrder + 1));
  }
  s.acorr_lags = lags;
}

// The entry of the filter of one channel set, designed when new.
int find_filter(DstEncoderState& s, uint64_t set) {
  for (int i = 0; i < s.filter_count; ++i)
    if (s.filters[i].set == set && s.filters[i].requested == s.requested) return i;
  FilterEntry& f = s.filters[s.filter_count];
  for (int k = 0; k <= s.requested; ++k) {
    int64_t sum = 0;
    for (int c = 0; c < s.channels; ++c)
      if ((set >> c) & 1) sum += s.acorr[static_cast<size_t>(c) * (kMaxOrder + 1) + static_cast<size_t>(k)];
    s.r[k] = static_cast<double>(sum);
  }
  DstDesignScratch scratch{s.factor, s.y, s.a};
  f.set = set;
  f.requested = s.requested;
  f.order = dst_design_filter(s.r, s.requested, scratch, f.coef);
  // The filter that holds channel 0 is filter 0: its first coefficient is
  // made odd.
  if (set & 1) f.coef[0] = static_cast<int16_t>(f.coef[0] | 1);
  f.table_ready = false;
  return s.filter_count++;
}

int find_pair(const DstEncoderState& s, int c, uint64_t set) {
  for (int i = 0; i < s.pair_capacity; ++i) {
    const PairSlot& p = s.pairs[i];
    if (p.channel == c && p.set == set && p.requested == s.requested) return i;
  }
  return -1;
}

// Sets up the filters and channel symbols of a batch of attempts.
void prepare_batch(DstEncoderState& s, Attempt* batch, int count) {
  const int C = s.channels;
  ++s.batch;
  int missing_channel[kDstArithBatch * kMaxChannels];
  int missing_filter[kDstArithBatch * kMaxChannels];
  int missing = 0;
  for (int a = 0; a < count; ++a) {
    Attempt& t = batch[a];
    for (int f = 0; f < t.n; ++f) t.filter[f] = find_filter(s, channel_set(C, t.n, f));
    for (int c = 0; c < C; ++c) {
      const int fi = t.filter[c % t.n];
      const int slot = find_pair(s, c, s.filters[fi].set);
      t.pair[c] = slot;
      if (slot >= 0) {
        s.pairs[slot].batch = s.batch;
        continue;
      }
      bool listed = false;
      for (int i = 0; i < missing && !listed; ++i) listed = missing_channel[i] == c && missing_filter[i] == fi;
      if (!listed) {
        missing_channel[missing] = c;
        missing_filter[missing] = fi;
        ++missing;
      }
    }
  }
  // New pairs take slots the batch does not use. Their symbols are made a
  // block of positions at a time, each block of a channel unpacked once for
  // all of that channel's new pairs.
  int free_slot = 0;
  for (int c = 0; c < C; ++c) {
    int slots[kDstArithBatch * kMaxChannels];
    const FilterEntry* filters[kDstArithBatch * kMaxChannels];
    int news = 0;
    for (int i = 0; i < missing; ++i) {
      if (missing_channel[i] != c) continue;
      while (s.pairs[free_slot].batch == s.batch) ++free_slot;
      PairSlot& p = s.pairs[free_slot];
      const FilterEntry& f = s.filters[missing_filter[i]];
      p.channel = c;
      p.set = f.set;
      p.requested = f.requested;
      p.batch = s.batch;
      std::memset(p.counts, 0, sizeof p.counts);
      slots[news] = free_slot;
      filters[news++] = &f;
    }
    for (size_t b = 0; b < s.L && news > 0; b += kDstSymbolBlock) {
      const size_t count = std::min(kDstSymbolBlock, s.L - b);
      dst_unpack_bit_range(s.frame_copy, C, c, b, count, s.mask, s.six);
      for (int i = 0; i < news; ++i) {
        PairSlot& p = s.pairs[slots[i]];
        const size_t unpredicted = std::min(static_cast<size_t>(filters[i]->order), s.L);
        dst_channel_symbols(filters[i]->coef, filters[i]->order, DstBits{s.mask, s.six}, count,
                            unpredicted > b ? unpredicted - b : 0, p.sym + b, p.counts, s.pred);
      }
    }
  }
  for (int a = 0; a < count; ++a)
    for (int c = 0; c < C; ++c)
      if (batch[a].pair[c] < 0) batch[a].pair[c] = find_pair(s, c, s.filters[batch[a].filter[c % batch[a].n]].set);

  // Probability tables of the new filters.
  for (int a = 0; a < count; ++a) {
    const Attempt& t = batch[a];
    for (int fn = 0; fn < t.n; ++fn) {
      FilterEntry& f = s.filters[t.filter[fn]];
      if (f.table_ready) continue;
      const int len = s.table_length;
      uint64_t ones[kMaxTableLength] = {}, zeros[kMaxTableLength] = {};
      for (int c = fn; c < C; c += t.n) {
        const uint32_t* cnt = s.pairs[t.pair[c]].counts;
        for (int i = 0; i < kMaxTableLength; ++i) {
          const int j = std::min(i, len - 1);
          zeros[j] += cnt[i];
          ones[j] += cnt[128 + i];
        }
      }
      f.ones = 0;
      for (int i = 0; i < len; ++i) {
        f.ones += ones[i];
        const uint64_t all = ones[i] + zeros[i];
        const uint64_t e = all ? (513 * ones[i] + zeros[i]) / (2 * all) : 1;
        f.table[i] = static_cast<uint8_t>(std::clamp<uint64_t>(e, 1, 128));
      }
      // A table of one entry is not stored in the frame; its entry is 128.
      if (len == 1) f.table[0] = 128;
      dst_symbol_lut(f.table, len, f.lut);
      f.table_ready = true;
    }
  }
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

size_t header_bound(const DstEncoderState& s) {
  return 6 + static_cast<size_t>(s.channels) * 8 +
         static_cast<size_t>(s.channels) * (8 + kMaxOrder * 9 + 7 + kMaxTableLength * 7);
}

// Writes the frame header of an attempt; returns its length in bits.
size_t write_header(const DstEncoderState& s, const Attempt& t, uint8_t* out) {
  const int C = s.channels;
  std::memset(out, 0, header_bound(s) / 8 + 2);
  BitWriter w{out, 0};
  w.put(1, 1);  // DST coded
  w.put(1, 1);  // same segmentation for filters and tables
  w.put(1, 1);  // same segmentation for all channels
  w.put(1, 1);  // end of channel segmentation: one segment per channel
  w.put(1, 1);  // same mapping for filters and tables
  w.put(0, 1);  // same mapping for all channels
  // Channel c uses number c mod N; the channels before it use min(c, N)
  // distinct numbers.
  for (int c = 1; c < C; ++c)
    w.put(static_cast<uint32_t>(c % t.n), static_cast<int>(field_width(static_cast<unsigned>(std::min(c, t.n)))));
  for (int c = 0; c < C; ++c) w.put(1, 1);  // half probability
  for (int f = 0; f < t.n; ++f) {
    const FilterEntry& fe = s.filters[t.filter[f]];
    w.put(static_cast<uint32_t>(fe.order - 1), 7);
    w.put(0, 1);
    for (int k = 0; k < fe.order; ++k) w.put(static_cast<uint32_t>(fe.coef[k]) & 0x1FF, 9);
  }
  for (int f = 0; f < t.n; ++f) {
    const int len = s.table_length;
    w.put(static_cast<uint32_t>(len - 1), 6);
    if (len != 1) {
      w.put(0, 1);
      for (int i = 0; i < len; ++i) w.put(static_cast<uint32_t>(s.filters[t.filter[f]].table[i] - 1), 7);
    }
  }
  return w.pos;
}

// The length in bits of what write_header writes, without writing it.
size_t header_length(const DstEncoderState& s, const Attempt& t) {
  const int C = s.channels;
  size_t bits = 6 + static_cast<size_t>(C);
  for (int c = 1; c < C; ++c) bits += field_width(static_cast<unsigned>(std::min(c, t.n)));
  for (int f = 0; f < t.n; ++f) bits += 8 + 9 * static_cast<size_t>(s.filters[t.filter[f]].order);
  const size_t table = 6 + (s.table_length != 1 ? 1 + 7 * static_cast<size_t>(s.table_length) : 0);
  return bits + static_cast<size_t>(t.n) * table;
}

uint32_t plain_bits(const DstEncoderState& s) {
  return static_cast<uint32_t>((s.bc * static_cast<size_t>(s.channels) + 1) * 8);
}

// Starts an attempt's coding (writing when it has a buffer) with the bit
// that comes before the channels' symbols.
void start_coding(const DstEncoderState& s, const Attempt& t, DstArithEncoder& e) {
  e.start(t.buffer >= 0 ? s.code[t.buffer] : nullptr, s.L * static_cast<size_t>(s.channels));
  e.encode(0, reverse7(static_cast<uint16_t>(s.filters[t.filter[0]].coef[0]) & 127u) + 1);
}

// dst_arith_encode_batch over the frame in kDstCheckParts equal parts,
// noting each stream's registers where parts 1.. begin (a part ends
// normalised, which codes the same bits as one run).
void code_in_parts(DstArithEncoder* const* enc, int count, const uint8_t* const* syms, const uint8_t* const* luts,
                   int channels, size_t length, DstArithMark (*marks)[kDstCheckParts - 1]) {
  const uint8_t* part[kDstArithBatch * kMaxChannels];
  const size_t streams = static_cast<size_t>(count) * static_cast<size_t>(channels);
  for (int p = 0; p < kDstCheckParts; ++p) {
    const size_t first = length * static_cast<size_t>(p) / kDstCheckParts;
    const size_t last = length * static_cast<size_t>(p + 1) / kDstCheckParts;
    if (p > 0)
      for (int i = 0; i < count; ++i)
        marks[i][p - 1] = DstArithMark{first, enc[i]->written + enc[i]->pending, enc[i]->range,
                                       static_cast<uint32_t>(enc[i]->low & 0xFFF)};
    for (size_t i = 0; i < streams; ++i) part[i] = syms[i] + first;
    dst_arith_encode_batch(enc, count, part, luts, channels, last - first);
  }
}

bool any_residual_one(const uint8_t* const* syms, int channels, size_t length) {
  for (int c = 0; c < channels; ++c) {
    uint8_t any = 0;
    for (size_t i = 0; i < length; ++i) any |= syms[c][i];
    if (any & 0x80) return true;
  }
  return false;
}

// Codes the attempts of a batch that are not plain already and sets every
// attempt's frame length. Frames change little from one to the next, so
// the attempt at the last frame's sharing count (or a lone attempt) writes
// its bits, into the buffer other than `busy`; the others only measure.
void code_batch(DstEncoderState& s, Attempt* batch, int count, int busy, bool lone) {
  const int C = s.channels;
  const size_t L = s.L;
  const size_t limit = L * static_cast<size_t>(C);
  DstArithEncoder enc[kDstArithBatch];
  DstArithEncoder* coding[kDstArithBatch];
  Attempt* coded[kDstArithBatch];
  const uint8_t* syms[kDstArithBatch * kMaxChannels];
  const uint8_t* luts[kDstArithBatch * kMaxChannels];
  int k = 0;
  for (int a = 0; a < count; ++a) {
    Attempt& t = batch[a];
    uint64_t ones = 0;
    for (int f = 0; f < t.n; ++f) ones += s.filters[t.filter[f]].ones;
    t.coded = false;
    t.buffer = -1;
    t.bits = plain_bits(s);
    // A frame whose residual is mostly ones does not compress.
    if (ones > (L / 2) * static_cast<uint64_t>(C)) continue;
    t.coded = true;
    if (lone || t.n == s.usual_n) t.buffer = busy == 0 ? 1 : 0;
    start_coding(s, t, enc[k]);
    for (int c = 0; c < C; ++c) {
      syms[k * C + c] = s.pairs[t.pair[c]].sym;
      luts[k * C + c] = s.filters[t.filter[c % t.n]].lut;
    }
    coding[k] = &enc[k];
    coded[k++] = &t;
  }
  if (k == 0) return;
  DstArithMark marks[kDstArithBatch][kDstCheckParts - 1];
  code_in_parts(coding, k, syms, luts, C, L, marks);
  size_t code_bits[kDstArithBatch];
  for (int i = 0; i < k; ++i) code_bits[i] = enc[i].finish();
  for (int i = 0; i < k; ++i) {
    if (code_bits[i] != kDstLengthUnknown) continue;
    // The measure cannot tell: the code value's last 64 bits are zero. With
    // no residual 1 at all the whole value is zero and nothing is written
    // (silence); otherwise the attempt writes its bits after all, in place
    // of this batch's writer.
    if (!any_residual_one(syms + i * C, C, L)) {
      code_bits[i] = 0;
      continue;
    }
    Attempt& t = *coded[i];
    t.buffer = busy == 0 ? 1 : 0;
    for (int a = 0; a < k; ++a)
      if (a != i && coded[a]->buffer == t.buffer) coded[a]->buffer = -1;
    start_coding(s, t, enc[i]);
    DstArithEncoder* one = &enc[i];
    code_in_parts(&one, 1, syms + i * C, luts + i * C, C, L, &marks[i]);
    code_bits[i] = enc[i].finish();
  }
  for (int i = 0; i < k; ++i) {
    Attempt& t = *coded[i];
    const size_t total_bytes = (header_length(s, t) + code_bits[i] + 7) / 8;
    // The coded frame only when it is not longer than the plain one.
    if (enc[i].overflow || code_bits[i] >= limit || total_bytes * 8 > limit + 8) {
      t.coded = false;
      t.buffer = -1;
      continue;
    }
    t.code_bits = code_bits[i];
    t.bits = static_cast<uint32_t>(total_bytes * 8);
    std::copy(marks[i], marks[i] + kDstCheckParts - 1, t.mark);
  }
}

uint32_t write_plain(const DstEncoderState& s, const uint8_t* frame, uint8_t* out) {
  const size_t bytes = s.bc * static_cast<size_t>(s.channels);
  out[0] = 0;
  std::memcpy(out + 1, frame, bytes);
  return static_cast<uint32_t>((bytes + 1) * 8);
}

// Splits `count` attempts into the fewest batches of at most
// kDstArithBatch (sizes as even as possible) whose channel symbols fit the
// pair slots. Returns the number of batches; sizes[i] their sizes.
int plan_batches(const DstEncoderState& s, const int* ns, int count, int* sizes) {
  const int C = s.channels;
  for (int k = (count + kDstArithBatch - 1) / kDstArithBatch; k < count; ++k) {
    bool fits = true;
    int first = 0;
    for (int b = 0; b < k && fits; ++b) {
      sizes[b] = count / k + (b < count % k ? 1 : 0);
      uint64_t keys[kDstArithBatch * kMaxChannels][2];
      int distinct = 0;
      for (int a = first; a < first + sizes[b]; ++a)
        for (int c = 0; c < C; ++c) {
          const uint64_t set = channel_set(C, ns[a], c % ns[a]);
          bool seen = false;
          for (int i = 0; i < distinct && !seen; ++i) seen = keys[i][0] == static_cast<uint64_t>(c) && keys[i][1] == set;
          if (!seen) {
            keys[distinct][0] = static_cast<uint64_t>(c);
            keys[distinct++][1] = set;
          }
        }
      fits = distinct <= s.pair_capacity;
      first += sizes[b];
    }
    if (fits) return k;
  }
  for (int b = 0; b < count; ++b) sizes[b] = 1;
  return count;
}

// The kept attempt's filters, its marks, and its symbols when they are
// still in their slots.
void keep_symbols(const DstEncoderState& s, const Attempt& t, DstCodedSymbols& out) {
  const int C = s.channels;
  out.valid = false;
  out.marked = false;
  if (!t.coded) return;
  out.marked = true;
  std::copy(t.mark, t.mark + kDstCheckParts - 1, out.mark);
  out.channels = C;
  out.length = s.L;
  for (int c = 0; c < C; ++c) {
    const FilterEntry& f = s.filters[t.filter[c % t.n]];
    const int slot = find_pair(s, c, f.set);
    if (slot < 0) return;
    out.sym[c] = s.pairs[slot].sym;
    out.coef[c] = f.coef;
    out.order[c] = f.order;
    out.unpredicted[c] = std::min(static_cast<size_t>(f.order), s.L);
  }
  out.valid = true;
}

// Codes the frame at each sharing count of `ns` (in that order) and writes
// the shortest to `out`; on equal length the earlier stays.
int encode_attempts(DstEncoderState& s, const uint8_t* frame, const int* ns, int count, uint8_t* out,
                    uint32_t& bits, DstCodedSymbols* symbols = nullptr) {
  const size_t frame_bytes = s.bc * static_cast<size_t>(s.channels);
  if (!s.frame_valid || std::memcmp(frame, s.frame_copy, frame_bytes) != 0) {
    std::memcpy(s.frame_copy, frame, frame_bytes);
    prepare_frame(s, frame);
  }
  // Room for every filter of this call.
  int needed = 0;
  for (int i = 0; i < count; ++i) needed += ns[i];
  if (s.filter_count + needed > s.filter_capacity) {
    s.filter_count = 0;
    for (int i = 0; i < s.pair_capacity; ++i) s.pairs[i].channel = -1;
  }
  ensure_autocorrelation(s, s.requested);

  int sizes[kMaxChannels];
  const int batches = plan_batches(s, ns, count, sizes);
  Attempt best{};
  best.coded = false;
  best.buffer = -1;
  bool have_best = false;
  int first = 0;
  for (int b = 0; b < batches; ++b) {
    Attempt batch[kDstArithBatch];
    for (int a = 0; a < sizes[b]; ++a) batch[a].n = ns[first + a];
    first += sizes[b];
    prepare_batch(s, batch, sizes[b]);
    code_batch(s, batch, sizes[b], have_best ? best.buffer : -1, count == 1);
    for (int a = 0; a < sizes[b]; ++a) {
      if (have_best && batch[a].bits >= best.bits) continue;
      best = batch[a];
      have_best = true;
    }
  }
  if (best.coded && best.buffer < 0) {
    // The kept attempt was only measured: its symbols again (their slots
    // may have gone to a later batch) and its bits.
    prepare_batch(s, &best, 1);
    code_batch(s, &best, 1, -1, true);
  }
  if (best.coded) s.usual_n = best.n;
  if (!best.coded) {
    bits = write_plain(s, frame, out);
  } else {
    // The header goes through the scratch: its clearing bound may pass the
    // end of a small frame's output.
    const size_t header_bits = write_header(s, best, s.header);
    const size_t total_bytes = (header_bits + best.code_bits + 7) / 8;
    std::memcpy(out, s.header, header_bits / 8 + 1);
    std::memset(out + header_bits / 8 + 1, 0, total_bytes - header_bits / 8);
    dst_splice_bits(out, header_bits, s.code[best.buffer], best.code_bits);
    bits = static_cast<uint32_t>(total_bytes * 8);
  }
  if (symbols) keep_symbols(s, best, *symbols);
  s.last_bits = bits;
  return 0;
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
    report_error("Init: malloc failed\n");
    return false;
  }
  const size_t C = static_cast<size_t>(channels);
  s->channels = channels;
  s->rate_multiple = rate_multiple;
  s->base_rate = base_rate;
  s->bc = bc;
  s->L = bc * 8;
  s->word_stride = kWordPad + (s->L + 63) / 64 + 1;
  s->code_capacity = align_up(C * s->L / 8 + 64, 64);
  s->header_capacity = align_up(header_bound(*s) / 8 + 8, 64);
  // Every filter of every sharing count of one frame, and then some.
  s->filter_capacity = channels * (channels + 1) / 2 + 2 * channels;
  s->pair_capacity = std::min(kDstArithBatch * channels, pairs_of_all_sharings(channels));

  // One zero-filled block for every array.
  constexpr int kParts = 12;
  size_t offsets[kParts];
  size_t total = 0;
  const size_t sizes[kParts] = {
      C * s->word_stride * sizeof(uint64_t),
      (kDstKernelHistory + kDstSymbolBlock + 32) * sizeof(int16_t),
      (kDstKernelHistory + kDstSymbolBlock + 32) * sizeof(int16_t),
      (kDstSymbolBlock + 64) * sizeof(int16_t),
      C * (kMaxOrder + 1) * sizeof(int64_t),
      static_cast<size_t>(kMaxOrder) * kMaxOrder * sizeof(double),
      static_cast<size_t>(s->filter_capacity) * sizeof(FilterEntry),
      static_cast<size_t>(s->pair_capacity) * sizeof(PairSlot),
      static_cast<size_t>(s->pair_capacity) * s->L,
      C * bc,
      static_cast<size_t>(kBuffers) * s->code_capacity,
      s->header_capacity,
  };
  for (int i = 0; i < kParts; ++i) {
    offsets[i] = total;
    total = align_up(total + sizes[i], 64);
  }
  void* block = std::calloc(1, total + 64);
  if (!block) {
    delete s;
    report_error("Init: malloc failed\n");
    return false;
  }
  s->block = block;
  uint8_t* base = reinterpret_cast<uint8_t*>(align_up(reinterpret_cast<uintptr_t>(block), 64));
  s->words = reinterpret_cast<uint64_t*>(base + offsets[0]);
  s->mask = reinterpret_cast<int16_t*>(base + offsets[1]) + kDstKernelHistory;
  s->six = reinterpret_cast<int16_t*>(base + offsets[2]) + kDstKernelHistory;
  s->pred = reinterpret_cast<int16_t*>(base + offsets[3]);
  s->acorr = reinterpret_cast<int64_t*>(base + offsets[4]);
  s->factor = reinterpret_cast<double*>(base + offsets[5]);
  s->filters = new (base + offsets[6]) FilterEntry[s->filter_capacity]();
  s->pairs = new (base + offsets[7]) PairSlot[s->pair_capacity]();
  for (int i = 0; i < s->pair_capacity; ++i) {
    s->pairs[i].channel = -1;
    s->pairs[i].sym = base + offsets[8] + static_cast<size_t>(i) * s->L;
  }
  s->frame_copy = base + offsets[9];
  for (int i = 0; i < kBuffers; ++i)
    s->code[i] = base + offsets[10] + static_cast<size_t>(i) * s->code_capacity;
  s->header = base + offsets[11];

  s->count = channels;
  s->requested = std::clamp(prediction_order, 1, kMaxOrder);
  s->table_length = kMaxTableLength;
  t_state = s;
  return true;
}

void dst_set_sharing(int n, int order, int table_length) {
  DstEncoderState* s = t_state;
  if (!s) return;
  s->count = std::clamp(n, 1, s->channels);
  if (order >= 1) s->requested = std::min(order, kMaxOrder);
  if (table_length >= 1 && std::min(table_length, kMaxTableLength) != s->table_length) {
    s->table_length = std::min(table_length, kMaxTableLength);
    for (int i = 0; i < s->filter_count; ++i) s->filters[i].table_ready = false;
  }
}

void dst_encoder_close() {
  release(t_state);
  t_state = nullptr;
}

int dst_encode_frame(const uint8_t* frame, uint8_t* out, uint32_t& bits) {
  DstEncoderState* s = t_state;
  bits = 0;
  if (!s || !frame || !out) return -1;
  const int n = s->count;
  return encode_attempts(*s, frame, &n, 1, out, bits);
}

int dst_encode_best(const uint8_t* frame, uint8_t* out, uint32_t& bits, DstCodedSymbols* symbols) {
  DstEncoderState* s = t_state;
  bits = 0;
  if (!s || !frame || !out) return -1;
  int ns[kMaxChannels];
  for (int i = 0; i < s->channels; ++i) ns[i] = s->channels - i;
  return encode_attempts(*s, frame, ns, s->channels, out, bits, symbols);
}

}  // namespace varn
