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
// those of coding each attempt on its own. With one or two channels a frame
// has too few attempts to fill the processor, so two frames are coded
// together, each in a work area of its own.
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
// Attempts of one frame set up at a time: their channel symbols must all be
// at hand while they are coded.
constexpr int kBatchAttempts = 3;

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

// What one frame keeps while it stays the same: its bits, their
// autocorrelations, the filters designed and the channel symbols made.
struct FrameWork {
  uint64_t* words = nullptr;  // channels x word_stride: pad then packed bits
  int64_t* acorr = nullptr;   // channels x (kMaxOrder + 1)
  FilterEntry* filters = nullptr;
  int filter_count = 0;
  PairSlot* pairs = nullptr;
  unsigned batch = 0;
  uint8_t* frame_copy = nullptr;  // channels x bc
  bool frame_valid = false;
  int acorr_lags = -1;
  int spare = 0;  // the code buffer this frame's next writer takes
};

// One sharing count tried on a frame.
struct Attempt {
  FrameWork* work;
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
  int16_t* mask = nullptr;    // kDstSymbolBlock positions of one channel in the
  int16_t* six = nullptr;     // kernels' two forms, after their history
  int16_t* pred = nullptr;    // kDstSymbolBlock predictions

  double r[kMaxOrder + 1] = {};
  double* factor = nullptr;  // kDstFactorEntries
  double y[kMaxOrder] = {};
  double a[kMaxOrder] = {};

  int filter_capacity = 0;  // per work area
  int pair_capacity = 0;
  FrameWork work[2];
  int works = 1;  // two when frames are coded two at a time

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
void prepare_frame(const DstEncoderState& s, FrameWork& fw, const uint8_t* frame) {
  const int C = s.channels;
  const size_t bc = s.bc;
  for (int c = 0; c < C; ++c) {
    uint64_t* w = fw.words + static_cast<size_t>(c) * s.word_stride + kWordPad;
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
  fw.frame_valid = true;
  fw.acorr_lags = -1;
  fw.filter_count = 0;
  for (int i = 0; i < s.pair_capacity; ++i) fw.pairs[i].channel = -1;
}

void ensure_autocorrelation(const DstEncoderState& s, FrameWork& fw, int lags) {
  if (fw.acorr_lags >= lags) return;
  for (int c = 0; c < s.channels; ++c) {
    const uint64_t* w = fw.words + static_cast<size_t>(c) * s.word_stride + kWordPad;
    dst_autocorrelation(w, s.L, lags, fw.acorr + static_cast<size_t>(c) * (kMaxOrder + 1));
  }
  fw.acorr_lags = lags;
}

// The entry of the filter of one channel set, designed when new.
int find_filter(DstEncoderState& s, FrameWork& fw, uint64_t set) {
  for (int i = 0; i < fw.filter_count; ++i)
    if (fw.filters[i].set == set && fw.filters[i].requested == s.requested) return i;
  FilterEntry& f = fw.filters[fw.filter_count];
  for (int k = 0; k <= s.requested; ++k) {
    int64_t sum = 0;
    for (int c = 0; c < s.channels; ++c)
      if ((set >> c) & 1) sum += fw.acorr[static_cast<size_t>(c) * (kMaxOrder + 1) + static_cast<size_t>(k)];
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
  return fw.filter_count++;
}

int find_pair(const DstEncoderState& s, const FrameWork& fw, int c, uint64_t set) {
  for (int i = 0; i < s.pair_capacity; ++i) {
    const PairSlot& p = fw.pairs[i];
    if (p.channel == c && p.set == set && p.requested == s.requested) return i;
  }
  return -1;
}

// Sets up the filters and channel symbols of a batch of attempts on one
// frame.
void prepare_batch(DstEncoderState& s, FrameWork& fw, Attempt* batch, int count) {
  const int C = s.channels;
  ++fw.batch;
  int missing_channel[kBatchAttempts * kMaxChannels];
  int missing_filter[kBatchAttempts * kMaxChannels];
  int missing = 0;
  for (int a = 0; a < count; ++a) {
    Attempt& t = batch[a];
    t.work = &fw;
    for (int f = 0; f < t.n; ++f) t.filter[f] = find_filter(s, fw, channel_set(C, t.n, f));
    for (int c = 0; c < C; ++c) {
      const int fi = t.filter[c % t.n];
      const int slot = find_pair(s, fw, c, fw.filters[fi].set);
      t.pair[c] = slot;
      if (slot >= 0) {
        fw.pairs[slot].batch = fw.batch;
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
    int slots[kBatchAttempts * kMaxChannels];
    const FilterEntry* filters[kBatchAttempts * kMaxChannels];
    int news = 0;
    for (int i = 0; i < missing; ++i) {
      if (missing_channel[i] != c) continue;
      while (fw.pairs[free_slot].batch == fw.batch) ++free_slot;
      PairSlot& p = fw.pairs[free_slot];
      const FilterEntry& f = fw.filters[missing_filter[i]];
      p.channel = c;
      p.set = f.set;
      p.requested = f.requested;
      p.batch = fw.batch;
      std::memset(p.counts, 0, sizeof p.counts);
      slots[news] = free_slot;
      filters[news++] = &f;
    }
    for (size_t b = 0; b < s.L && news > 0; b += kDstSymbolBlock) {
      const size_t count = std::min(kDstSymbolBlock, s.L - b);
      dst_unpack_bit_range(fw.frame_copy, C, c, b, count, s.mask, s.six);
      for (int i = 0; i < news; ++i) {
        PairSlot& p = fw.pairs[slots[i]];
        const size_t unpredicted = std::min(static_cast<size_t>(filters[i]->order), s.L);
        dst_channel_symbols(filters[i]->coef, filters[i]->order, DstBits{s.mask, s.six}, count,
                            unpredicted > b ? unpredicted - b : 0, p.sym + b, p.counts, s.pred);
      }
    }
  }
  for (int a = 0; a < count; ++a)
    for (int c = 0; c < C; ++c)
      if (batch[a].pair[c] < 0) batch[a].pair[c] = find_pair(s, fw, c, fw.filters[batch[a].filter[c % batch[a].n]].set);

  // Probability tables of the new filters.
  for (int a = 0; a < count; ++a) {
    const Attempt& t = batch[a];
    for (int fn = 0; fn < t.n; ++fn) {
      FilterEntry& f = fw.filters[t.filter[fn]];
      if (f.table_ready) continue;
      const int len = s.table_length;
      uint64_t ones[kMaxTableLength] = {}, zeros[kMaxTableLength] = {};
      for (int c = fn; c < C; c += t.n) {
        const uint32_t* cnt = fw.pairs[t.pair[c]].counts;
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
    const FilterEntry& fe = t.work->filters[t.filter[f]];
    w.put(static_cast<uint32_t>(fe.order - 1), 7);
    w.put(0, 1);
    for (int k = 0; k < fe.order; ++k) w.put(static_cast<uint32_t>(fe.coef[k]) & 0x1FF, 9);
  }
  for (int f = 0; f < t.n; ++f) {
    const int len = s.table_length;
    w.put(static_cast<uint32_t>(len - 1), 6);
    if (len != 1) {
      w.put(0, 1);
      for (int i = 0; i < len; ++i) w.put(static_cast<uint32_t>(t.work->filters[t.filter[f]].table[i] - 1), 7);
    }
  }
  return w.pos;
}

// The length in bits of what write_header writes, without writing it.
size_t header_length(const DstEncoderState& s, const Attempt& t) {
  const int C = s.channels;
  size_t bits = 6 + static_cast<size_t>(C);
  for (int c = 1; c < C; ++c) bits += field_width(static_cast<unsigned>(std::min(c, t.n)));
  for (int f = 0; f < t.n; ++f) bits += 8 + 9 * static_cast<size_t>(t.work->filters[t.filter[f]].order);
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
  e.encode(0, reverse7(static_cast<uint16_t>(t.work->filters[t.filter[0]].coef[0]) & 127u) + 1);
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

// Codes the attempts of a batch that are not plain already (they may be of
// two frames) and sets every attempt's frame length. Frames change little
// from one to the next, so the attempt at the last frame's sharing count (or
// a lone attempt) writes its bits, into its frame's spare buffer; the others
// only measure.
void code_batch(DstEncoderState& s, Attempt* const* batch, int count, bool lone) {
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
    Attempt& t = *batch[a];
    const FrameWork& fw = *t.work;
    uint64_t ones = 0;
    for (int f = 0; f < t.n; ++f) ones += fw.filters[t.filter[f]].ones;
    t.coded = false;
    t.buffer = -1;
    t.bits = plain_bits(s);
    // A frame whose residual is mostly ones does not compress.
    if (ones > (L / 2) * static_cast<uint64_t>(C)) continue;
    t.coded = true;
    if (lone || t.n == s.usual_n) t.buffer = fw.spare;
    start_coding(s, t, enc[k]);
    for (int c = 0; c < C; ++c) {
      syms[k * C + c] = fw.pairs[t.pair[c]].sym;
      luts[k * C + c] = fw.filters[t.filter[c % t.n]].lut;
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
    // of its frame's writer in this batch.
    if (!any_residual_one(syms + i * C, C, L)) {
      code_bits[i] = 0;
      continue;
    }
    Attempt& t = *coded[i];
    t.buffer = t.work->spare;
    for (int a = 0; a < k; ++a)
      if (a != i && coded[a]->work == t.work && coded[a]->buffer == t.buffer) coded[a]->buffer = -1;
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
// kBatchAttempts (sizes as even as possible) whose channel symbols fit the
// pair slots. Returns the number of batches; sizes[i] their sizes.
int plan_batches(const DstEncoderState& s, const int* ns, int count, int* sizes) {
  const int C = s.channels;
  for (int k = (count + kBatchAttempts - 1) / kBatchAttempts; k < count; ++k) {
    bool fits = true;
    int first = 0;
    for (int b = 0; b < k && fits; ++b) {
      sizes[b] = count / k + (b < count % k ? 1 : 0);
      uint64_t keys[kBatchAttempts * kMaxChannels][2];
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
  const FrameWork& fw = *t.work;
  for (int c = 0; c < C; ++c) {
    const FilterEntry& f = fw.filters[t.filter[c % t.n]];
    const int slot = find_pair(s, fw, c, f.set);
    if (slot < 0) return;
    out.sym[c] = fw.pairs[slot].sym;
    out.coef[c] = f.coef;
    out.order[c] = f.order;
    out.unpredicted[c] = std::min(static_cast<size_t>(f.order), s.L);
  }
  out.valid = true;
}

// Takes a frame into a work area (what the area kept stays when the frame
// is the same) with room for the filters of `count` attempts.
void begin_frame(DstEncoderState& s, FrameWork& fw, const uint8_t* frame, const int* ns, int count) {
  const size_t frame_bytes = s.bc * static_cast<size_t>(s.channels);
  if (!fw.frame_valid || std::memcmp(frame, fw.frame_copy, frame_bytes) != 0) {
    std::memcpy(fw.frame_copy, frame, frame_bytes);
    prepare_frame(s, fw, frame);
  }
  int needed = 0;
  for (int i = 0; i < count; ++i) needed += ns[i];
  if (fw.filter_count + needed > s.filter_capacity) {
    fw.filter_count = 0;
    for (int i = 0; i < s.pair_capacity; ++i) fw.pairs[i].channel = -1;
  }
  ensure_autocorrelation(s, fw, s.requested);
}

// The shortest of a frame's attempts; on equal length the earlier.
void keep_shortest(Attempt& best, bool& have_best, const Attempt* batch, int count) {
  for (int a = 0; a < count; ++a) {
    if (have_best && batch[a].bits >= best.bits) continue;
    best = batch[a];
    have_best = true;
  }
}

// Writes the kept attempt of a frame to `out`.
void finish_frame(DstEncoderState& s, Attempt& best, const uint8_t* frame, uint8_t* out, uint32_t& bits,
                  DstCodedSymbols* symbols) {
  if (best.coded && best.buffer < 0) {
    // The kept attempt was only measured: its symbols again (their slots
    // may have gone to a later batch) and its bits.
    prepare_batch(s, *best.work, &best, 1);
    Attempt* one = &best;
    code_batch(s, &one, 1, true);
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
}

// Codes a frame at each sharing count of `ns` (in that order) and writes
// the shortest to `out`; on equal length the earlier stays.
void encode_attempts(DstEncoderState& s, const uint8_t* frame, const int* ns, int count, uint8_t* out,
                     uint32_t& bits, DstCodedSymbols* symbols) {
  FrameWork& fw = s.work[0];
  begin_frame(s, fw, frame, ns, count);
  int sizes[kMaxChannels];
  const int batches = plan_batches(s, ns, count, sizes);
  Attempt best{};
  best.coded = false;
  best.buffer = -1;
  bool have_best = false;
  int first = 0;
  for (int b = 0; b < batches; ++b) {
    Attempt batch[kBatchAttempts];
    Attempt* list[kBatchAttempts];
    for (int a = 0; a < sizes[b]; ++a) {
      batch[a].n = ns[first + a];
      list[a] = &batch[a];
    }
    first += sizes[b];
    // The writer takes the buffer that does not hold the best so far.
    fw.spare = have_best && best.buffer == 0 ? 1 : 0;
    prepare_batch(s, fw, batch, sizes[b]);
    code_batch(s, list, sizes[b], count == 1);
    keep_shortest(best, have_best, batch, sizes[b]);
  }
  finish_frame(s, best, frame, out, bits, symbols);
}

// The same for two frames whose attempts each make one batch: both
// frames' attempts are coded side by side, each frame writing into a
// buffer of its own.
void encode_attempt_pair(DstEncoderState& s, const uint8_t* const* frames, const int* ns, int count,
                         uint8_t* const* outs, uint32_t* bits, DstCodedSymbols* symbols) {
  Attempt batch[2][kBatchAttempts];
  Attempt* list[2 * kBatchAttempts];
  int k = 0;
  for (int i = 0; i < 2; ++i) {
    FrameWork& fw = s.work[i];
    begin_frame(s, fw, frames[i], ns, count);
    fw.spare = i;
    for (int a = 0; a < count; ++a) {
      batch[i][a].n = ns[a];
      list[k++] = &batch[i][a];
    }
    prepare_batch(s, fw, batch[i], count);
  }
  code_batch(s, list, k, count == 1);
  for (int i = 0; i < 2; ++i) {
    Attempt best{};
    bool have_best = false;
    keep_shortest(best, have_best, batch[i], count);
    finish_frame(s, best, frames[i], outs[i], bits[i], symbols ? &symbols[i] : nullptr);
  }
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
  s->pair_capacity = std::min(kBatchAttempts * channels, pairs_of_all_sharings(channels));
  // One or two channels give a frame one or two attempts: two frames fill
  // the coder's streams.
  s->works = channels <= 2 ? 2 : 1;

  // One zero-filled block for every array: first the shared ones, then
  // those of each work area.
  constexpr int kShared = 6, kPerWork = 6, kParts = kShared + 2 * kPerWork;
  size_t offsets[kParts];
  size_t sizes[kParts] = {
      (kDstKernelHistory + kDstSymbolBlock + 32) * sizeof(int16_t),
      (kDstKernelHistory + kDstSymbolBlock + 32) * sizeof(int16_t),
      (kDstSymbolBlock + 64) * sizeof(int16_t),
      kDstFactorEntries * sizeof(double),
      static_cast<size_t>(kBuffers) * s->code_capacity,
      s->header_capacity,
  };
  for (int w = 0; w < s->works; ++w) {
    size_t* part = sizes + kShared + w * kPerWork;
    part[0] = C * s->word_stride * sizeof(uint64_t);
    part[1] = C * (kMaxOrder + 1) * sizeof(int64_t);
    part[2] = static_cast<size_t>(s->filter_capacity) * sizeof(FilterEntry);
    part[3] = static_cast<size_t>(s->pair_capacity) * sizeof(PairSlot);
    part[4] = static_cast<size_t>(s->pair_capacity) * s->L;
    part[5] = C * bc;
  }
  size_t total = 0;
  for (int i = 0; i < kShared + s->works * kPerWork; ++i) {
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
  s->mask = reinterpret_cast<int16_t*>(base + offsets[0]) + kDstKernelHistory;
  s->six = reinterpret_cast<int16_t*>(base + offsets[1]) + kDstKernelHistory;
  s->pred = reinterpret_cast<int16_t*>(base + offsets[2]);
  s->factor = reinterpret_cast<double*>(base + offsets[3]);
  for (int i = 0; i < kBuffers; ++i)
    s->code[i] = base + offsets[4] + static_cast<size_t>(i) * s->code_capacity;
  s->header = base + offsets[5];
  for (int w = 0; w < s->works; ++w) {
    const size_t* at = offsets + kShared + w * kPerWork;
    FrameWork& fw = s->work[w];
    fw.words = reinterpret_cast<uint64_t*>(base + at[0]);
    fw.acorr = reinterpret_cast<int64_t*>(base + at[1]);
    fw.filters = new (base + at[2]) FilterEntry[s->filter_capacity]();
    fw.pairs = new (base + at[3]) PairSlot[s->pair_capacity]();
    for (int i = 0; i < s->pair_capacity; ++i) {
      fw.pairs[i].channel = -1;
      fw.pairs[i].sym = base + at[4] + static_cast<size_t>(i) * s->L;
    }
    fw.frame_copy = base + at[5];
  }

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
    for (FrameWork& fw : s->work)
      for (int i = 0; i < fw.filter_count; ++i) fw.filters[i].table_ready = false;
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
  encode_attempts(*s, frame, &n, 1, out, bits, nullptr);
  return 0;
}

int dst_encode_best(const uint8_t* frame, uint8_t* out, uint32_t& bits, DstCodedSymbols* symbols) {
  return dst_encode_best_frames(&frame, 1, &out, &bits, symbols);
}

int dst_frames_together() {
  const DstEncoderState* s = t_state;
  return s ? s->works : 1;
}

int dst_encode_best_frames(const uint8_t* const* frames, int count, uint8_t* const* outs, uint32_t* bits,
                           DstCodedSymbols* symbols) {
  DstEncoderState* s = t_state;
  for (int i = 0; i < count; ++i) bits[i] = 0;
  if (!s) return -1;
  for (int i = 0; i < count; ++i)
    if (!frames[i] || !outs[i]) return -1;
  int ns[kMaxChannels];
  for (int i = 0; i < s->channels; ++i) ns[i] = s->channels - i;
  int sizes[kMaxChannels];
  const bool pairs = s->works == 2 && plan_batches(*s, ns, s->channels, sizes) == 1;
  int last_of_area[2] = {-1, -1};  // the last frame coded in each work area
  for (int i = 0; i < count;) {
    DstCodedSymbols* kept = symbols ? symbols + i : nullptr;
    if (pairs && i + 1 < count) {
      encode_attempt_pair(*s, frames + i, ns, s->channels, outs + i, bits + i, kept);
      last_of_area[0] = i;
      last_of_area[1] = i + 1;
      i += 2;
    } else {
      encode_attempts(*s, frames[i], ns, s->channels, outs[i], bits[i], kept);
      last_of_area[0] = i;
      ++i;
    }
  }
  // A frame's symbols are gone once its work area took a later frame.
  if (symbols)
    for (int i = 0; i < count; ++i)
      if (i != last_of_area[0] && i != last_of_area[1]) symbols[i].valid = false;
  return 0;
}

}  // namespace varn
