// The frame encoder: frame layout field by field, plain frames, filter
// design rules, determinism across SIMD levels and state reuse, and the
// round trip through the decoder on every test signal.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "dst/dst_autocorr.h"
#include "dst/dst_filter_design.h"
#include "dst/dst_kernel.h"
#include "dst_test_util.h"

namespace {

using dsdgen::SignalKind;
using dsttest::Fields;

constexpr size_t kBc64 = 4704;

struct EncoderScope {
  EncoderScope(int channels, int rate_multiple, int base, int order) {
    ok = varn::Init(channels, rate_multiple, base, order);
  }
  ~EncoderScope() { varn::dst_encoder_close(); }
  bool ok = false;
};

// Walks the header of a coded frame written with the fixed choices of this
// encoder (no segmentation, plain coefficients and tables) and checks every
// fixed field. Returns the filter orders; `map` receives the mapping.
std::vector<int> check_header(const std::vector<uint8_t>& frame, int channels, int filters,
                              std::vector<uint32_t>& map, std::vector<std::vector<int>>* coefs = nullptr) {
  Fields r{frame};
  EXPECT_EQ(r.get(6), 0x3Eu) << "coded, same segmentation x2, end of segmentation, same mapping, per-channel map";
  map.assign(static_cast<size_t>(channels), 0);
  unsigned distinct = 1;
  for (int c = 1; c < channels; ++c) {
    const int width = distinct >= 4 ? 3 : (distinct >= 2 ? 2 : 1);
    map[static_cast<size_t>(c)] = r.get(width);
    if (map[static_cast<size_t>(c)] == distinct) ++distinct;
  }
  for (int c = 0; c < channels; ++c) EXPECT_EQ(r.get(1), 1u) << "half probability of channel " << c;
  std::vector<int> orders;
  for (int f = 0; f < filters; ++f) {
    const int order = static_cast<int>(r.get(7)) + 1;
    orders.push_back(order);
    EXPECT_EQ(r.get(1), 0u) << "coefficients stored plainly";
    std::vector<int> c;
    for (int k = 0; k < order; ++k) {
      int v = static_cast<int>(r.get(9));
      if (v >= 256) v -= 512;
      c.push_back(v);
    }
    if (coefs) coefs->push_back(c);
  }
  for (int t = 0; t < filters; ++t) {
    EXPECT_EQ(r.get(6), 63u) << "table length 64";
    EXPECT_EQ(r.get(1), 0u) << "entries stored plainly";
    for (int i = 0; i < 64; ++i) EXPECT_LE(r.get(7), 127u);
  }
  EXPECT_LT(r.pos, frame.size() * 8);
  EXPECT_EQ(r.get(1), 0u) << "arithmetic data begins with a 0 bit";
  return orders;
}

TEST(DstEncoder, IdlePatternCompressesFarBelowPlain) {
  for (int channels : {1, 2, 6}) {
    EncoderScope enc(channels, 64, 44100, 128);
    ASSERT_TRUE(enc.ok);
    const size_t fb = kBc64 * static_cast<size_t>(channels);
    std::vector<uint8_t> idle(fb, 0x69);
    for (int n = channels; n >= 1; --n) {
      std::vector<uint8_t> f = dsttest::encode_one(idle.data(), fb, n);
      ASSERT_FALSE(f.empty());
      EXPECT_EQ(f[0] & 0x80, 0x80);
      EXPECT_LT(f.size(), fb / 20) << channels << " channels, " << n << " filters";
      EXPECT_EQ(dsttest::decode_one(f, channels, kBc64), idle);
    }
  }
}

TEST(DstEncoder, RandomBitsGiveExactlyThePlainFrame) {
  for (int channels : {1, 2, 5}) {
    EncoderScope enc(channels, 64, 44100, 32);
    ASSERT_TRUE(enc.ok);
    const size_t fb = kBc64 * static_cast<size_t>(channels);
    const std::vector<uint8_t> noise = dsttest::random_bytes(fb, 99u + static_cast<uint32_t>(channels));
    for (int n = channels; n >= 1; --n) {
      std::vector<uint8_t> f = dsttest::encode_one(noise.data(), fb, n);
      ASSERT_EQ(f.size(), fb + 1);
      EXPECT_EQ(f[0], 0x00);
      EXPECT_EQ(0, std::memcmp(f.data() + 1, noise.data(), fb));
      EXPECT_EQ(dsttest::decode_one(f, channels, kBc64), noise);
    }
  }
}

TEST(DstEncoder, HeaderFieldsAndMappingWidths) {
  const int channels = 6;
  const std::vector<uint8_t> music = dsttest::signal(SignalKind::Music, channels, 2822400, 1);
  EncoderScope enc(channels, 64, 44100, 16);
  ASSERT_TRUE(enc.ok);
  const size_t fb = music.size();
  {
    // One filter per channel: widths 1, 2, 2, 3, 3 bits. The map fields
    // start at bit 6 and hold 1, 2, 3, 4, 5: 1 10 11 100 101.
    std::vector<uint8_t> f = dsttest::encode_one(music.data(), fb, 6);
    ASSERT_EQ(f[0] & 0x80, 0x80);
    Fields r{f, 6};
    EXPECT_EQ(r.get(11), 0b11011100101u);
    std::vector<uint32_t> map;
    std::vector<std::vector<int>> coefs;
    const std::vector<int> orders = check_header(f, channels, 6, map, &coefs);
    EXPECT_EQ(map, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));
    for (int o : orders) EXPECT_EQ(o, 16);
    EXPECT_EQ(coefs[0][0] & 1, 1) << "first coefficient of filter 0 is odd";
    int largest = 0;
    for (const auto& c : coefs)
      for (int v : c) largest = std::max(largest, std::abs(v));
    EXPECT_EQ(largest, 255);
  }
  for (int n = 5; n >= 1; --n) {
    std::vector<uint8_t> f = dsttest::encode_one(music.data(), fb, n);
    ASSERT_EQ(f[0] & 0x80, 0x80) << n;
    std::vector<uint32_t> map;
    check_header(f, channels, n, map);
    for (int c = 0; c < channels; ++c) EXPECT_EQ(map[static_cast<size_t>(c)], static_cast<uint32_t>(c % n));
  }
}

TEST(DstEncoder, SingleChannelHasNoMappingField) {
  const std::vector<uint8_t> music = dsttest::signal(SignalKind::Music, 1, 2822400, 1);
  EncoderScope enc(1, 64, 44100, 8);
  ASSERT_TRUE(enc.ok);
  std::vector<uint8_t> f = dsttest::encode_one(music.data(), music.size(), 1);
  ASSERT_EQ(f[0] & 0x80, 0x80);
  // Six header bits, then the half-probability bit, then order - 1 = 7.
  Fields r{f};
  EXPECT_EQ(r.get(6), 0x3Eu);
  EXPECT_EQ(r.get(1), 1u);
  EXPECT_EQ(r.get(7), 7u);
  EXPECT_EQ(r.get(1), 0u);
  std::vector<uint32_t> map;
  check_header(f, 1, 1, map);
  EXPECT_EQ(dsttest::decode_one(f, 1, kBc64), music);
}

TEST(DstEncoder, SharingCountIsClampedAndOrderAndLengthOverrides) {
  const int channels = 3;
  const std::vector<uint8_t> music = dsttest::signal(SignalKind::Music, channels, 2822400, 1, 5);
  EncoderScope enc(channels, 64, 44100, 24);
  ASSERT_TRUE(enc.ok);
  const size_t fb = music.size();
  std::vector<uint32_t> map;
  std::vector<uint8_t> f = dsttest::encode_one(music.data(), fb, 0);  // N below 1: one filter
  check_header(f, channels, 1, map);
  EXPECT_EQ(map, (std::vector<uint32_t>{0, 0, 0}));
  f = dsttest::encode_one(music.data(), fb, 99);  // N above C: one per channel
  check_header(f, channels, 3, map);
  EXPECT_EQ(map, (std::vector<uint32_t>{0, 1, 2}));

  // An order override replaces every filter's order; -1 keeps it.
  varn::dst_set_sharing(2, 5, -1);
  std::vector<uint8_t> out(2 * fb);
  uint32_t bits = 0;
  ASSERT_EQ(varn::dst_encode_frame(music.data(), out.data(), bits), 0);
  out.resize(bits / 8);
  std::vector<int> orders = check_header(out, channels, 2, map);
  for (int o : orders) EXPECT_LE(o, 5);
  EXPECT_EQ(dsttest::decode_one(out, channels, kBc64), music);
  f = dsttest::encode_one(music.data(), fb, 2);
  orders = check_header(f, channels, 2, map);
  for (int o : orders) EXPECT_LE(o, 5) << "the override stays";

  // Tables of one entry code every bit at probability 128, which never
  // beats the plain frame.
  varn::dst_set_sharing(1, -1, 1);
  out.assign(2 * fb, 0);
  ASSERT_EQ(varn::dst_encode_frame(music.data(), out.data(), bits), 0);
  EXPECT_EQ(bits, (fb + 1) * 8);
  out.resize(bits / 8);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(dsttest::decode_one(out, channels, kBc64), music);
}

TEST(DstEncoder, OrderOneAndEarlyStoppedOrders) {
  const std::vector<uint8_t> music = dsttest::signal(SignalKind::Music, 2, 2822400, 1);
  {
    EncoderScope enc(2, 64, 44100, 1);
    std::vector<uint8_t> f = dsttest::encode_one(music.data(), music.size(), 2);
    std::vector<uint32_t> map;
    EXPECT_EQ(check_header(f, 2, 2, map), (std::vector<int>{1, 1}));
    EXPECT_EQ(dsttest::decode_one(f, 2, kBc64), music);
  }
  {
    // Order above 128 is clamped; the modulator's idle output is predicted
    // so well that the factorisation stops early.
    EncoderScope enc(2, 64, 44100, 500);
    const std::vector<uint8_t> idle = dsttest::signal(SignalKind::Silence, 2, 2822400, 1);
    std::vector<uint8_t> f = dsttest::encode_one(idle.data(), idle.size(), 1);
    std::vector<uint32_t> map;
    const std::vector<int> orders = check_header(f, 2, 1, map);
    EXPECT_GE(orders[0], 1);
    EXPECT_LT(orders[0], 128);
    EXPECT_EQ(dsttest::decode_one(f, 2, kBc64), idle);
    f = dsttest::encode_one(music.data(), music.size(), 1);
    EXPECT_EQ(check_header(f, 2, 1, map), (std::vector<int>{128}));
  }
}

TEST(DstFilterDesign, PivotRuleAndQuantisation) {
  std::vector<double> factor(128 * 128), y(128), a(128);
  varn::DstDesignScratch s{factor.data(), y.data(), a.data()};
  int16_t coef[128];
  {
    // A first pivot that fails (r[0] = 0): order 1, +-255 by the sign of r[1].
    const double r[] = {0.0, -5.0, 1.0, 0.0, 0.0};
    EXPECT_EQ(varn::dst_design_filter(r, 4, s, coef), 1);
    EXPECT_EQ(coef[0], -255);
    const double r2[] = {0.0, 3.0, 1.0, 0.0, 0.0};
    EXPECT_EQ(varn::dst_design_filter(r2, 4, s, coef), 1);
    EXPECT_EQ(coef[0], 255);
  }
  {
    // Second pivot 1 - 0.81 = 0.19 is below 0.334: the order stops at 1.
    const double r[] = {1.0, 0.9, 0.8, 0.7, 0.6};
    EXPECT_EQ(varn::dst_design_filter(r, 4, s, coef), 1);
    EXPECT_EQ(coef[0], 255);
  }
  {
    // Weak correlation keeps the full order; the largest magnitude is 255
    // and the rest are rounded to nearest: a = (0.2, -0.1) scaled by 255 / 0.2...
    const double r[] = {1.0, 0.2, 0.0};
    EXPECT_EQ(varn::dst_design_filter(r, 2, s, coef), 2);
    // Solving [1 .2; .2 1] a = [.2 0]: a = (0.20833, -0.041667).
    EXPECT_EQ(coef[0], 255);
    EXPECT_EQ(coef[1], -51);
  }
  {
    // All-zero solution: no normal coefficient, every q is 0.
    const double r[] = {1.0, 0.0, 0.0, 0.0};
    EXPECT_EQ(varn::dst_design_filter(r, 3, s, coef), 3);
    EXPECT_EQ(coef[0], 0);
    EXPECT_EQ(coef[1], 0);
    EXPECT_EQ(coef[2], 0);
  }
}

// The filter design in the plain row-by-row order: the real coefficients
// every variant must reproduce bit for bit.
std::vector<double> row_by_row_design(const std::vector<double>& r, int P) {
  std::vector<double> L(static_cast<size_t>(P) * P), y(static_cast<size_t>(P)), a(static_cast<size_t>(P));
  auto at = [&](int i, int j) -> double& { return L[static_cast<size_t>(i) * P + j]; };
  int eff = P;
  for (int i = 0; i < P && eff == P; ++i) {
    for (int j = 0; j < i; ++j) {
      double v = r[static_cast<size_t>(i - j)];
      for (int t = 0; t < j; ++t) v -= at(i, t) * at(j, t);
      at(i, j) = v / at(j, j);
    }
    double d = r[0];
    for (int t = 0; t < i; ++t) d -= at(i, t) * at(i, t);
    if (!(d > 0.334 * r[0])) eff = i;
    else at(i, i) = std::sqrt(d);
  }
  if (eff == 0) return {r[1] < 0 ? -1.0 : 1.0};
  for (int i = 0; i < eff; ++i) {
    double v = r[static_cast<size_t>(i + 1)];
    for (int t = 0; t < i; ++t) v -= at(i, t) * y[static_cast<size_t>(t)];
    y[static_cast<size_t>(i)] = v / at(i, i);
  }
  for (int i = eff - 1; i >= 0; --i) {
    double v = y[static_cast<size_t>(i)];
    for (int t = i + 1; t < eff; ++t) v -= at(t, i) * a[static_cast<size_t>(t)];
    a[static_cast<size_t>(i)] = v / at(i, i);
  }
  a.resize(static_cast<size_t>(eff));
  return a;
}

TEST(DstFilterDesign, EveryVariantSolvesBitForBitAsTheRowByRowOrder) {
  std::vector<double> factor(128 * 128), y(128), a(128);
  varn::DstDesignScratch s{factor.data(), y.data(), a.data()};
  int16_t coef[128];
  using varn::DstKernel;
  for (SignalKind kind : {SignalKind::Music, SignalKind::Tone, SignalKind::Noise, SignalKind::Silence}) {
    const std::vector<uint8_t> audio = dsttest::signal(kind, 2, 2822400, 1, 11);
    std::vector<uint64_t> words(4 + kBc64 / 8 + 1, 0);
    for (size_t i = 0; i < kBc64 / 8; ++i)
      for (int b = 0; b < 8; ++b)
        for (int j = 0; j < 8; ++j)
          words[4 + i] |= static_cast<uint64_t>((audio[(i * 8 + static_cast<size_t>(b)) * 2] >> (7 - j)) & 1)
                          << (b * 8 + j);
    std::vector<int64_t> acorr(129);
    varn::dst_autocorrelation(words.data() + 4, kBc64 * 8, 128, acorr.data());
    // The pivot limit decides the order: scaled r[0] moves it.
    for (double scale0 : {1.0, 1.5, 3.0}) {
      std::vector<double> r(acorr.begin(), acorr.end());
      r[0] *= scale0;
      for (int order : {1, 7, 8, 9, 31, 33, 64, 100, 128}) {
        const std::vector<double> want = row_by_row_design(r, order);
        for (DstKernel k : {DstKernel::Scalar, DstKernel::Sse41, DstKernel::Avx2, DstKernel::Avx512}) {
          if (!varn::dst_kernel_available(k)) continue;
          varn::dst_limit_kernel(k);
          ASSERT_EQ(varn::dst_design_filter(r.data(), order, s, coef), static_cast<int>(want.size()));
          for (size_t i = 0; i < want.size(); ++i)
            ASSERT_EQ(std::memcmp(&a[i], &want[i], sizeof(double)), 0)
                << "kind " << static_cast<int>(kind) << " order " << order << " kernel " << static_cast<int>(k)
                << " coefficient " << i;
        }
      }
    }
  }
  varn::dst_limit_kernel(DstKernel::Avx512);
}

TEST(DstEncoder, TinyFramesStayInsideTheirOutputBuffer) {
  // 64 x 75 Hz: 8 bytes per channel, a frame far shorter than its header
  // could be. Nothing may be written past 2 x the frame size.
  for (int channels : {1, 2, 6}) {
    EncoderScope enc(channels, 64, 75, 128);
    ASSERT_TRUE(enc.ok);
    const size_t fb = 8 * static_cast<size_t>(channels);
    for (const std::vector<uint8_t>& frame : {std::vector<uint8_t>(fb, 0x69), dsttest::random_bytes(fb, 3)}) {
      std::vector<uint8_t> out(2 * fb + 4096, 0xAB);
      uint32_t bits = 0;
      ASSERT_EQ(varn::dst_encode_best(frame.data(), out.data(), bits), 0);
      ASSERT_LE(bits / 8, 2 * fb);
      for (size_t i = 2 * fb; i < out.size(); ++i) ASSERT_EQ(out[i], 0xAB) << channels << " channels, byte " << i;
    }
  }
}

TEST(DstEncoder, InitRefusesWithoutMessage) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(varn::Init(65, 64, 44100, 128));
  EXPECT_FALSE(varn::Init(0, 64, 44100, 128));
  EXPECT_FALSE(varn::Init(2, 32, 44100, 128));
  EXPECT_FALSE(varn::Init(2, 512, 44100, 128));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(varn::Init(64, 64, 44100, 128));
  varn::dst_encoder_close();
  uint32_t bits = 7;
  uint8_t dummy[4] = {};
  EXPECT_NE(varn::dst_encode_frame(dummy, dummy, bits), 0) << "no state after close";
}

TEST(DstEncoder, SameFramesWithSimdOnOrOffAndAnyStateHistory) {
  const int channels = 5;
  const std::vector<uint8_t> music = dsttest::signal(SignalKind::Music, channels, 2822400, 3, 3);
  const size_t fb = kBc64 * channels;
  // Reference: every (frame, N) encoded by a fresh state, SIMD off.
  varn::set_simd_enabled(false);
  std::vector<std::vector<std::vector<uint8_t>>> want(3);
  for (int fr = 0; fr < 3; ++fr) {
    for (int n = channels; n >= 1; --n) {
      EncoderScope enc(channels, 64, 44100, 48);
      want[static_cast<size_t>(fr)].push_back(dsttest::encode_one(music.data() + fr * fb, fb, n));
    }
  }
  varn::set_simd_enabled(true);
  EXPECT_STRNE(varn::simd_name(), "scalar (--no-simd)");
  // One state through all frames and sharing counts, frames revisited out
  // of order: the kept results must never leak from one frame to another.
  EncoderScope enc(channels, 64, 44100, 48);
  for (int fr : {0, 1, 0, 2, 2, 1}) {
    for (int n = channels; n >= 1; --n)
      EXPECT_EQ(dsttest::encode_one(music.data() + fr * fb, fb, n),
                want[static_cast<size_t>(fr)][static_cast<size_t>(channels - n)])
          << "frame " << fr << " N " << n;
  }
  for (int n : {1, 3, 5, 2}) {
    EXPECT_EQ(dsttest::encode_one(music.data() + fb, fb, n), want[1][static_cast<size_t>(channels - n)]);
  }
  varn::set_simd_enabled(false);
  EXPECT_STREQ(varn::simd_name(), "scalar (--no-simd)");
  varn::set_simd_enabled(true);
}

TEST(DstSimd, LevelAndName) {
  const int level = varn::simd_level();
  EXPECT_TRUE(level == 0 || level == 10 || level == 20 || level == 30 || level == 40 || level == 50);
  varn::set_simd_enabled(true);
  const std::string name = varn::simd_name();
  if (level >= 40) EXPECT_EQ(name, "AVX2");
  else if (level >= 20) EXPECT_EQ(name, "SSE2");
  else EXPECT_EQ(name, "scalar");
}

struct RoundTripCase {
  SignalKind kind;
  int channels;
  uint32_t rate;
};

TEST(DstEncoder, EveryFrameOfEveryTestSignalDecodesBitExact) {
  std::vector<RoundTripCase> cases;
  for (SignalKind k : {SignalKind::Tone, SignalKind::Chirp, SignalKind::Noise, SignalKind::Music, SignalKind::Silence})
    for (int ch : {2, 5, 6}) cases.push_back({k, ch, 2822400});
  for (SignalKind k : {SignalKind::Music, SignalKind::Silence}) {
    cases.push_back({k, 2, 5644800});
    cases.push_back({k, 6, 5644800});
    cases.push_back({k, 2, 11289600});
    cases.push_back({k, 5, 11289600});
  }
  cases.push_back({SignalKind::Tone, 2, 3072000});  // 64 x 48000: 5120 bytes per channel
  cases.push_back({SignalKind::Music, 1, 2822400});
  for (const RoundTripCase& c : cases) {
    const size_t bc = dsttest::bytes_per_channel(c.rate);
    const uint32_t base = c.rate % 44100 == 0 ? 44100 : 48000;
    const size_t frames = c.rate > 5644800 ? 1 : 2;
    const std::vector<uint8_t> audio = dsttest::signal(c.kind, c.channels, c.rate, frames, 17);
    const size_t fb = bc * static_cast<size_t>(c.channels);
    ASSERT_EQ(audio.size(), fb * frames);
    EncoderScope enc(c.channels, static_cast<int>(c.rate / base), static_cast<int>(base), 40);
    ASSERT_TRUE(enc.ok);
    size_t coded = 0;
    for (size_t fr = 0; fr < frames; ++fr) {
      const uint8_t* in = audio.data() + fr * fb;
      for (int n = c.channels; n >= 1; --n) {
        std::vector<uint8_t> f = dsttest::encode_one(in, fb, n);
        ASSERT_FALSE(f.empty());
        ASSERT_LE(f.size(), fb + 1);
        coded += (f[0] & 0x80) ? 1 : 0;
        std::string err;
        const std::vector<uint8_t> back = dsttest::decode_one(f, c.channels, bc, &err);
        ASSERT_EQ(back.size(), fb) << err;
        ASSERT_EQ(0, std::memcmp(back.data(), in, fb))
            << "kind " << static_cast<int>(c.kind) << " ch " << c.channels << " rate " << c.rate << " frame "
            << fr << " N " << n;
      }
    }
    EXPECT_GT(coded, 0u) << "kind " << static_cast<int>(c.kind) << " ch " << c.channels << " rate " << c.rate;
  }
}

}  // namespace
