// The frame encoder: header fields as the frame format lays them out, plain
// frames for what does not compress, the filter design rules, bounded
// output and state reuse. The golden test decodes every frame it pins.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
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

TEST(DstEncoder, HeaderFieldsAndMappingWidths) {
  const std::vector<uint8_t> music = dsttest::signal(SignalKind::Music, 6, 2822400, 1);
  EncoderScope enc(6, 16);
  ASSERT_TRUE(enc.ok);
  for (int n = 6; n >= 1; --n) {
    const std::vector<uint8_t> f = dsttest::encode_one(music.data(), music.size(), n);
    // Coded, same segmentation twice, end of segmentation, same mapping,
    // one mapping per channel; with one filter per channel the map fields
    // are 1, 2, 2, 3 and 3 bits wide.
    EXPECT_EQ(Fields{f}.get(6), 0x3Eu) << n;
    if (n == 6) {
      EXPECT_EQ((Fields{f, 6}.get(11)), 0b11011100101u);
    }
    varn::DstFrameHeader h;
    std::string err;
    ASSERT_TRUE(varn::dst_parse_frame_header(f.data(), f.size(), 6, kBc64, h, err)) << err;
    EXPECT_EQ(h.filter_order, std::vector<int>(size_t(n), 16));
    EXPECT_EQ(h.table_length, std::vector<int>(size_t(n), 64));
    EXPECT_EQ(h.half_prob, std::vector<uint8_t>(6, 1));
    for (int c = 0; c < 6; ++c) EXPECT_EQ(h.filter_seg.table[size_t(c)][0], unsigned(c % n));
    EXPECT_EQ(h.coef[0][0] & 1, 1) << "first coefficient of filter 0 is odd";
    for (int i = 0; i < n; ++i) {
      EXPECT_FALSE(h.filter_coded[size_t(i)] || h.table_coded[size_t(i)]) << "stored plainly";
      int largest = 0;
      for (int k = 0; k < 16; ++k) largest = std::max(largest, std::abs(h.coef[size_t(i)][size_t(k)]));
      EXPECT_EQ(largest, 255);
    }
    EXPECT_EQ((Fields{f, h.header_bits}.get(1)), 0u) << "arithmetic data begins with a 0 bit";
  }
  // One channel: no mapping field; the half-probability bit, then order - 1.
  const std::vector<uint8_t> mono = dsttest::signal(SignalKind::Music, 1, 2822400, 1);
  EncoderScope one(1, 8);
  const std::vector<uint8_t> f = dsttest::encode_one(mono.data(), mono.size(), 1);
  EXPECT_EQ(Fields{f}.get(14), 0x3Eu << 8 | 1u << 7 | 7u);
}

TEST(DstFilterDesign, PivotRuleAndQuantisation) {
  std::vector<double> factor(varn::kDstFactorEntries), y(128), a(128);
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

TEST(DstEncoder, RandomBitsArePlainTheIdlePatternSmallAndTinyFramesInBounds) {
  // 64 x 75 Hz gives 8 bytes per channel, shorter than a header could be.
  for (int channels : {1, 2, 6})
    for (const size_t bc : {kBc64, size_t(8)}) {
      EncoderScope enc(channels, 128, 64, bc == 8 ? 75 : 44100);
      ASSERT_TRUE(enc.ok);
      const size_t fb = bc * size_t(channels);
      const std::vector<uint8_t> noise = dsttest::random_bytes(fb, 99u + uint32_t(channels)), idle(fb, 0x69);
      for (const std::vector<uint8_t>* frame : {&noise, &idle}) {
        std::vector<uint8_t> out(2 * fb + 4096, 0xAB);
        uint32_t bits = 0;
        ASSERT_EQ(varn::dst_encode_best(frame->data(), out.data(), bits), 0);
        ASSERT_LE(bits / 8, 2 * fb);
        for (size_t i = 2 * fb; i < out.size(); ++i) ASSERT_EQ(out[i], 0xAB) << channels << " channels, byte " << i;
        out.resize(bits / 8);
        if (bc == 8) continue;
        if (frame == &noise) {
          EXPECT_TRUE(out.size() == fb + 1 && out[0] == 0 && std::memcmp(out.data() + 1, noise.data(), fb) == 0);
        } else {
          EXPECT_LT(out.size(), fb / 20) << channels << " channels";
          EXPECT_EQ(dsttest::decode_one(out, channels, bc), idle);
        }
      }
    }
  for (auto [ch, rm] : {std::pair{65, 64}, {0, 64}, {2, 32}, {2, 512}}) EXPECT_FALSE(varn::Init(ch, rm, 44100, 128));
  uint32_t bits = 7;
  uint8_t dummy[4] = {};
  EXPECT_NE(varn::dst_encode_frame(dummy, dummy, bits), 0) << "no state after close";
}

TEST(DstEncoder, SameFramesWhateverTheStateCodedBefore) {
  const int channels = 5;
  const std::vector<uint8_t> music = dsttest::signal(SignalKind::Music, channels, 2822400, 3, 3);
  const size_t fb = kBc64 * channels;
  // Reference: every (frame, N) from a fresh state.
  std::vector<std::vector<std::vector<uint8_t>>> want(3);
  for (int fr = 0; fr < 3; ++fr)
    for (int n = channels; n >= 1; --n) {
      EncoderScope enc(channels, 48);
      want[size_t(fr)].push_back(dsttest::encode_one(music.data() + fr * fb, fb, n));
    }
  // One state through all frames and sharings, frames revisited out of order.
  EncoderScope enc(channels, 48);
  for (int fr : {0, 1, 0, 2, 2, 1})
    for (int n : {5, 4, 3, 2, 1, 3})
      EXPECT_EQ(dsttest::encode_one(music.data() + fr * fb, fb, n), want[size_t(fr)][size_t(channels - n)])
          << "frame " << fr << " N " << n;
}

TEST(DstEncoder, FramesCodedTogetherAreTheFramesCodedAlone) {
  // One or two channels code two frames side by side: music, a plain frame
  // (noise) and the idle pattern, paired every way, the same frame twice,
  // and a last frame alone.
  const int sequence[] = {0, 1, 2, 0, 3, 3, 1, 2, 1};
  for (int channels : {1, 2}) {
    const size_t fb = kBc64 * size_t(channels);
    std::vector<uint8_t> in = dsttest::signal(SignalKind::Music, channels, 2822400, 2, 4);
    const std::vector<uint8_t> noise = dsttest::random_bytes(fb, 5);
    in.insert(in.end(), noise.begin(), noise.end());
    in.insert(in.end(), fb, 0x69);
    std::vector<std::vector<uint8_t>> alone(4), together(9, std::vector<uint8_t>(2 * fb + 64));
    for (size_t fr = 0; fr < 4; ++fr) {
      EncoderScope enc(channels, 128);
      alone[fr].resize(2 * fb + 64);
      uint32_t bits = 0;
      ASSERT_EQ(varn::dst_encode_best(in.data() + fr * fb, alone[fr].data(), bits), 0);
      alone[fr].resize(bits / 8);
    }
    EncoderScope enc(channels, 128);
    const uint8_t* frames[9];
    uint8_t* outs[9];
    uint32_t bits[9];
    for (size_t i = 0; i < 9; ++i) {
      frames[i] = in.data() + size_t(sequence[i]) * fb;
      outs[i] = together[i].data();
    }
    ASSERT_EQ(varn::dst_encode_best_frames(frames, 9, outs, bits), 0);
    for (size_t i = 0; i < 9; ++i) {
      together[i].resize(bits[i] / 8);
      EXPECT_EQ(together[i], alone[size_t(sequence[i])]) << channels << " channels, frame " << i;
    }
  }
}

}  // namespace
