// The frame encoder: header fields read bit by bit, plain frames for what
// does not compress, the filter design rules, bounded output, state reuse,
// and every frame of every test signal decoded back bit for bit.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dst/dst_filter_design.h"
#include "dst_test_util.h"

namespace {

using dsdgen::SignalKind;
using dsttest::Fields;
constexpr size_t kBc64 = 4704;

struct EncoderScope {
  EncoderScope(int channels, int order, int rate_multiple = 64, int base = 44100) {
    ok = varn::Init(channels, rate_multiple, base, order);
  }
  ~EncoderScope() { varn::dst_encoder_close(); }
  bool ok = false;
};

// Walks the header of a coded frame as this encoder writes it (no
// segmentation, plain coefficients and tables), checking every fixed
// field; returns the filter orders, the mapping in `map`.
std::vector<int> check_header(const std::vector<uint8_t>& frame, int channels, int filters, std::vector<uint32_t>& map) {
  Fields r{frame};
  EXPECT_EQ(r.get(6), 0x3Eu) << "coded, same segmentation x2, end of segmentation, same mapping, per-channel map";
  map.assign(size_t(channels), 0);
  unsigned distinct = 1;
  for (int c = 1; c < channels; ++c) {
    map[size_t(c)] = r.get(distinct >= 4 ? 3 : (distinct >= 2 ? 2 : 1));
    if (map[size_t(c)] == distinct) ++distinct;
  }
  for (int c = 0; c < channels; ++c) EXPECT_EQ(r.get(1), 1u) << "half probability of channel " << c;
  std::vector<int> orders;
  int largest = 0;
  for (int f = 0; f < filters; ++f) {
    orders.push_back(int(r.get(7)) + 1);
    EXPECT_EQ(r.get(1), 0u) << "coefficients stored plainly";
    for (int k = 0; k < orders.back(); ++k) {
      int v = int(r.get(9));
      v = v >= 256 ? v - 512 : v;
      if (f == 0 && k == 0) {
        EXPECT_EQ(v & 1, 1) << "first coefficient of filter 0 is odd";
      }
      largest = std::max(largest, std::abs(v));
    }
  }
  EXPECT_EQ(largest, 255);
  for (int t = 0; t < filters; ++t) {
    EXPECT_EQ(r.get(6), 63u) << "table length 64";
    EXPECT_EQ(r.get(1), 0u) << "entries stored plainly";
    for (int i = 0; i < 64; ++i) EXPECT_LE(r.get(7), 127u);
  }
  EXPECT_EQ(r.get(1), 0u) << "arithmetic data begins with a 0 bit";
  return orders;
}

TEST(DstEncoder, HeaderFieldsAndMappingWidths) {
  const std::vector<uint8_t> music = dsttest::signal(SignalKind::Music, 6, 2822400, 1);
  EncoderScope enc(6, 16);
  ASSERT_TRUE(enc.ok);
  for (int n = 6; n >= 1; --n) {
    const std::vector<uint8_t> f = dsttest::encode_one(music.data(), music.size(), n);
    ASSERT_EQ(f[0] & 0x80, 0x80) << n;
    // One filter per channel: fields of 1, 2, 2, 3, 3 bits from bit 6.
    if (n == 6) {
      EXPECT_EQ((Fields{f, 6}.get(11)), 0b11011100101u);
    }
    std::vector<uint32_t> map;
    for (int o : check_header(f, 6, n, map)) EXPECT_EQ(o, 16);
    for (int c = 0; c < 6; ++c) EXPECT_EQ(map[size_t(c)], uint32_t(c % n));
  }
  // One channel: no mapping field; the half-probability bit, then order - 1.
  const std::vector<uint8_t> mono = dsttest::signal(SignalKind::Music, 1, 2822400, 1);
  EncoderScope one(1, 8);
  const std::vector<uint8_t> f = dsttest::encode_one(mono.data(), mono.size(), 1);
  Fields r{f};
  EXPECT_EQ(r.get(6), 0x3Eu);
  EXPECT_EQ(r.get(1), 1u);
  EXPECT_EQ(r.get(7), 7u);
}

TEST(DstEncoder, RandomBitsArePlainAndTheIdlePatternSmall) {
  for (int channels : {1, 2, 6}) {
    EncoderScope enc(channels, 128);
    ASSERT_TRUE(enc.ok);
    const size_t fb = kBc64 * size_t(channels);
    const std::vector<uint8_t> noise = dsttest::random_bytes(fb, 99u + uint32_t(channels)), idle(fb, 0x69);
    for (int n = channels; n >= 1; --n) {
      std::vector<uint8_t> f = dsttest::encode_one(noise.data(), fb, n);
      ASSERT_EQ(f.size(), fb + 1);
      EXPECT_EQ(f[0], 0x00);
      EXPECT_EQ(0, std::memcmp(f.data() + 1, noise.data(), fb));
      f = dsttest::encode_one(idle.data(), fb, n);
      EXPECT_LT(f.size(), fb / 20) << channels << " channels, " << n << " filters";
      EXPECT_EQ(dsttest::decode_one(f, channels, kBc64), idle);
    }
  }
}

TEST(DstFilterDesign, PivotRuleAndQuantisation) {
  std::vector<double> factor(128 * 128), y(128), a(128);
  varn::DstDesignScratch s{factor.data(), y.data(), a.data()};
  int16_t coef[128];
  struct Case {
    std::vector<double> r;
    int order;
    std::vector<int16_t> want;
  } cases[] = {
      {{0, -5, 1, 0, 0}, 4, {-255}},    // first pivot fails: order 1, the sign of r[1]
      {{0, 3, 1, 0, 0}, 4, {255}},
      {{1, .9, .8, .7, .6}, 4, {255}},  // second pivot 1 - 0.81 < 0.334: order 1
      {{1, .2, 0}, 2, {255, -51}},      // a = (0.20833, -0.041667) scaled to 255
      {{1, 0, 0, 0}, 3, {0, 0, 0}},     // the all-zero solution
  };
  for (const Case& c : cases) {
    ASSERT_EQ(varn::dst_design_filter(c.r.data(), c.order, s, coef), int(c.want.size()));
    EXPECT_EQ(std::vector<int16_t>(coef, coef + c.want.size()), c.want);
  }
}

TEST(DstEncoder, TinyFramesStayInsideTheirOutputBufferAndInitRefuses) {
  // 64 x 75 Hz: 8 bytes per channel, shorter than a header could be.
  for (int channels : {1, 2, 6}) {
    EncoderScope enc(channels, 128, 64, 75);
    ASSERT_TRUE(enc.ok);
    const size_t fb = 8 * size_t(channels);
    for (const std::vector<uint8_t>& frame : {std::vector<uint8_t>(fb, 0x69), dsttest::random_bytes(fb, 3)}) {
      std::vector<uint8_t> out(2 * fb + 4096, 0xAB);
      uint32_t bits = 0;
      ASSERT_EQ(varn::dst_encode_best(frame.data(), out.data(), bits), 0);
      ASSERT_LE(bits / 8, 2 * fb);
      for (size_t i = 2 * fb; i < out.size(); ++i) ASSERT_EQ(out[i], 0xAB) << channels << " channels, byte " << i;
    }
  }
  for (auto [ch, rm] : {std::pair{65, 64}, {0, 64}, {2, 32}, {2, 512}}) EXPECT_FALSE(varn::Init(ch, rm, 44100, 128));
  uint32_t bits = 7;
  uint8_t dummy[4] = {};
  EXPECT_NE(varn::dst_encode_frame(dummy, dummy, bits), 0) << "no state after close";
}

TEST(DstEncoder, SameFramesWithSimdOnOrOffAndAnyStateHistory) {
  const int channels = 5;
  const std::vector<uint8_t> music = dsttest::signal(SignalKind::Music, channels, 2822400, 3, 3);
  const size_t fb = kBc64 * channels;
  // Reference: every (frame, N) from a fresh state, SIMD off.
  varn::set_simd_enabled(false);
  std::vector<std::vector<std::vector<uint8_t>>> want(3);
  for (int fr = 0; fr < 3; ++fr)
    for (int n = channels; n >= 1; --n) {
      EncoderScope enc(channels, 48);
      want[size_t(fr)].push_back(dsttest::encode_one(music.data() + fr * fb, fb, n));
    }
  varn::set_simd_enabled(true);
  // One state through all frames and sharings, frames revisited out of order.
  EncoderScope enc(channels, 48);
  for (int fr : {0, 1, 0, 2, 2, 1})
    for (int n : {5, 4, 3, 2, 1, 3})
      EXPECT_EQ(dsttest::encode_one(music.data() + fr * fb, fb, n), want[size_t(fr)][size_t(channels - n)])
          << "frame " << fr << " N " << n;
}

TEST(DstEncoder, EveryFrameOfEveryTestSignalDecodesBitExact) {
  struct Case {
    SignalKind kind;
    int channels;
    uint32_t rate;
  };
  std::vector<Case> cases;
  for (SignalKind k : {SignalKind::Tone, SignalKind::Chirp, SignalKind::Noise, SignalKind::Music, SignalKind::Silence})
    for (int ch : {2, 5, 6}) cases.push_back({k, ch, 2822400});
  for (SignalKind k : {SignalKind::Music, SignalKind::Silence})
    for (auto [ch, rate] : {std::pair{2, 5644800u}, {6, 5644800u}, {2, 11289600u}, {5, 11289600u}})
      cases.push_back({k, ch, rate});
  cases.push_back({SignalKind::Tone, 2, 3072000});  // 64 x 48000: 5120 bytes per channel
  cases.push_back({SignalKind::Music, 1, 2822400});
  for (const Case& c : cases) {
    SCOPED_TRACE("kind " + std::to_string(int(c.kind)) + " ch " + std::to_string(c.channels) + " rate " +
                 std::to_string(c.rate));
    const size_t bc = dsttest::bytes_per_channel(c.rate), fb = bc * size_t(c.channels);
    const uint32_t base = c.rate % 44100 == 0 ? 44100 : 48000;
    const size_t frames = c.rate > 5644800 ? 1 : 2;
    const std::vector<uint8_t> audio = dsttest::signal(c.kind, c.channels, c.rate, frames, 17);
    EncoderScope enc(c.channels, 40, int(c.rate / base), int(base));
    ASSERT_TRUE(enc.ok);
    size_t coded = 0;
    for (size_t fr = 0; fr < frames; ++fr)
      for (int n = c.channels; n >= 1; --n) {
        const std::vector<uint8_t> f = dsttest::encode_one(audio.data() + fr * fb, fb, n);
        ASSERT_LE(f.size(), fb + 1);
        coded += f[0] >> 7;
        ASSERT_EQ(dsttest::decode_one(f, c.channels, bc),
                  std::vector<uint8_t>(audio.begin() + long(fr * fb), audio.begin() + long((fr + 1) * fb)))
            << "frame " << fr << " N " << n;
      }
    EXPECT_GT(coded, 0u);
  }
}

}  // namespace
