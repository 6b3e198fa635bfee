// What a coded music frame carries, recomputed from the frame's own bits by
// straightforward means: the filters are the rounded normal-equation
// solutions of the channels' autocorrelation (solved here by the
// Levinson-Durbin recursion in long double, whose prediction errors are the
// factorisation's pivots), the tables are the residual statistics of those
// filters, and the arithmetic-coded data costs no more than the entropy of
// its coding probabilities plus a few bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "dst_test_util.h"

namespace {

using dsdgen::SignalKind;

constexpr size_t kBc = 4704;
constexpr size_t kL = kBc * 8;

// Channel c's bits as +1 / -1, preceded by 128 positions of the fixed
// alternating history (0 at position -1).
std::vector<int> signs(const std::vector<uint8_t>& frame, int channels, int c) {
  std::vector<int> s(128 + kL);
  for (size_t j = 1; j <= 128; ++j) s[128 - j] = (j % 2 == 0) ? 1 : -1;
  for (size_t i = 0; i < kBc; ++i) {
    const unsigned b = frame[i * static_cast<size_t>(channels) + static_cast<size_t>(c)];
    for (int k = 0; k < 8; ++k) s[128 + i * 8 + static_cast<size_t>(k)] = ((b >> (7 - k)) & 1u) ? 1 : -1;
  }
  return s;
}

// Rounded filter of the summed autocorrelation of `chans`, with the order
// cut where the prediction error falls to a third of r[0].
std::vector<int> reference_filter(const std::vector<std::vector<int>>& s, const std::vector<int>& chans,
                                  int order) {
  std::vector<long double> r(static_cast<size_t>(order) + 1, 0.0L);
  for (int c : chans) {
    const int* x = s[static_cast<size_t>(c)].data() + 128;
    for (int k = 0; k <= order; ++k) {
      long long v = 0;
      for (size_t n = static_cast<size_t>(k); n < kL; ++n) v += x[n] * x[n - static_cast<size_t>(k)];
      r[static_cast<size_t>(k)] += static_cast<long double>(v);
    }
  }
  std::vector<long double> a, next;
  long double err = r[0];
  int eff = 0;
  while (eff < order && err > 0.334L * r[0]) {
    // Order eff + 1 from order eff.
    long double acc = r[static_cast<size_t>(eff) + 1];
    for (int k = 0; k < eff; ++k) acc -= a[static_cast<size_t>(k)] * r[static_cast<size_t>(eff - k)];
    const long double refl = acc / err;
    next.assign(static_cast<size_t>(eff) + 1, 0.0L);
    for (int k = 0; k < eff; ++k)
      next[static_cast<size_t>(k)] = a[static_cast<size_t>(k)] - refl * a[static_cast<size_t>(eff - 1 - k)];
    next[static_cast<size_t>(eff)] = refl;
    a.swap(next);
    err *= 1.0L - refl * refl;
    ++eff;
  }
  if (eff == 0) return {r[1] < 0 ? -255 : 255};
  long double m = 0;
  for (long double v : a) m = std::max(m, std::fabs(v));
  std::vector<int> q;
  for (long double v : a) q.push_back(static_cast<int>(std::floor(v / m * 255.0L + 0.5L)));
  return q;
}

struct Stats {
  std::vector<int> table;  // 64 entries
  double entropy_bits = 0;
};

// Prediction of every channel of one filter, its residual statistics and
// the resulting table; the entropy of coding the residuals with it.
Stats residual_table(const std::vector<std::vector<int>>& s, const std::vector<int>& chans,
                     const std::vector<int>& q) {
  const size_t P = q.size();
  std::vector<unsigned long long> ones(64, 0), zeros(64, 0);
  std::vector<std::vector<int>> index(chans.size()), residual(chans.size());
  for (size_t i = 0; i < chans.size(); ++i) {
    const int* x = s[static_cast<size_t>(chans[i])].data() + 128;
    for (size_t n = 0; n < kL; ++n) {
      long p = 0;
      for (size_t k = 0; k < P; ++k) p += q[k] * x[static_cast<long>(n) - 1 - static_cast<long>(k)];
      const int predicted = p >= 0 ? 1 : -1;
      const int res = x[n] != predicted;
      const int idx = static_cast<int>(std::min<long>(std::labs(p) >> 3, 63));
      index[i].push_back(idx);
      residual[i].push_back(res);
      if (n >= P) ++(res ? ones : zeros)[static_cast<size_t>(idx)];
    }
  }
  Stats st;
  for (size_t i = 0; i < 64; ++i) {
    const unsigned long long all = ones[i] + zeros[i];
    const unsigned long long e = all ? (513 * ones[i] + zeros[i]) / (2 * all) : 1;
    st.table.push_back(static_cast<int>(std::min<unsigned long long>(std::max<unsigned long long>(e, 1), 128)));
  }
  for (size_t i = 0; i < chans.size(); ++i)
    for (size_t n = 0; n < kL; ++n) {
      const double p = (n < P ? 128 : st.table[static_cast<size_t>(index[i][n])]) / 256.0;
      st.entropy_bits -= std::log2(residual[i][n] ? p : 1.0 - p);
    }
  return st;
}

// `overhead` bounds the coded length relative to the entropy: the 12-bit
// coder loses most where nearly every probability is the smallest one.
void check_frame(SignalKind kind, int channels, int order, int sharing, double overhead = 0.002) {
  SCOPED_TRACE("kind " + std::to_string(static_cast<int>(kind)) + " channels " + std::to_string(channels) +
               " order " + std::to_string(order) + " sharing " + std::to_string(sharing));
  const std::vector<uint8_t> audio = dsttest::signal(kind, channels, 2822400, 1, 5);
  ASSERT_TRUE(varn::Init(channels, 64, 44100, order));
  const std::vector<uint8_t> frame = dsttest::encode_one(audio.data(), audio.size(), sharing);
  varn::dst_encoder_close();
  ASSERT_FALSE(frame.empty());
  ASSERT_TRUE(frame[0] & 0x80) << "a music frame is coded";
  varn::DstFrameHeader h;
  std::string err;
  ASSERT_TRUE(varn::dst_parse_frame_header(frame.data(), frame.size(), channels, kBc, h, err)) << err;
  ASSERT_EQ(h.filter_order.size(), static_cast<size_t>(sharing));

  std::vector<std::vector<int>> s;
  for (int c = 0; c < channels; ++c) s.push_back(signs(audio, channels, c));
  double entropy = 0;
  for (int f = 0; f < sharing; ++f) {
    SCOPED_TRACE("filter " + std::to_string(f));
    std::vector<int> chans;
    for (int c = f; c < channels; c += sharing) chans.push_back(c);
    std::vector<int> want = reference_filter(s, chans, order);
    if (f == 0) want[0] |= 1;
    ASSERT_EQ(h.filter_order[static_cast<size_t>(f)], static_cast<int>(want.size())) << "effective order";
    const std::vector<int> got(h.coef[static_cast<size_t>(f)].begin(),
                               h.coef[static_cast<size_t>(f)].begin() + h.filter_order[static_cast<size_t>(f)]);
    // Rounding may land on the other side of a half only through the last
    // bits of the arithmetic: allow one coefficient one step off.
    int off = 0;
    int largest = 0;
    for (size_t k = 0; k < got.size(); ++k) {
      EXPECT_LE(std::abs(got[k] - want[k]), 1) << "coefficient " << k;
      off += got[k] != want[k];
      largest = std::max(largest, std::abs(got[k]));
    }
    EXPECT_LE(off, 1);
    EXPECT_EQ(largest, 255);

    const Stats st = residual_table(s, chans, got);
    ASSERT_EQ(h.table_length[static_cast<size_t>(f)], 64);
    const std::vector<int>& entries = h.table_entry[static_cast<size_t>(f)];
    EXPECT_EQ(std::vector<int>(entries.begin(), entries.begin() + 64), st.table);
    entropy += st.entropy_bits;
  }
  // The coded data follows the header; the frame ends on its last byte.
  // Music costs about 0.03-0.08% above the entropy, the idle pattern 0.5%.
  const double coded = static_cast<double>(frame.size() * 8 - h.header_bits);
  EXPECT_LE(coded, entropy * (1.0 + overhead) + 24) << "arithmetic coder overhead";
  EXPECT_GE(coded, entropy * 0.998 - 8);
}

TEST(DstDesign, FramesCarryTheirOwnFiltersAndTables) {
  check_frame(SignalKind::Music, 2, 128, 1);
  check_frame(SignalKind::Music, 2, 32, 2);
  check_frame(SignalKind::Music, 3, 64, 2);  // filter 0 holds channels 0 and 2
  check_frame(SignalKind::Silence, 2, 128, 1, 0.006);  // the idle pattern stops the order early
  check_frame(SignalKind::Tone, 2, 128, 2);
  check_frame(SignalKind::Noise, 2, 128, 1);
}

}  // namespace
