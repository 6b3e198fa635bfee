// The frame decoder on the header forms other encoders use (coded
// coefficients and tables, segmentation, per-segment mapping), written by
// the test's own frame writer, and on malformed frames: the decode check
// accepts exactly what decodes to the audio.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "dst_frame_writer.h"
#include "dst_test_util.h"

namespace {

using dsdgen::SignalKind;
constexpr size_t kBc = 4704;

// The filters and tables our encoder chose for a frame, as a starting point.
dsttest::FrameSpec designed(const std::vector<uint8_t>& audio, int channels, int n, int order) {
  varn::Init(channels, 64, 44100, order);
  const std::vector<uint8_t> f = dsttest::encode_one(audio.data(), audio.size(), n);
  varn::dst_encoder_close();
  return dsttest::spec_of(f, channels, kBc);
}

void expect_decodes_to(const std::vector<uint8_t>& frame, int channels, const std::vector<uint8_t>& audio) {
  std::string err;
  EXPECT_TRUE(dsttest::decode_one(frame, channels, kBc, &err) == audio) << err;
  varn::DstDecoder d;
  ASSERT_TRUE(varn::dst_decoder_init(d, channels, kBc));
  std::vector<uint8_t> scratch(audio.size());
  EXPECT_TRUE(varn::dst_check_frame(d, frame.data(), frame.size(), audio.data(), scratch.data())) << d.error;
}

// The coded forms of our own filters and tables are read by ffmpeg as by
// us (see the ffmpeg test); here the forms our encoder never writes.
TEST(DstDecoder, CodedFormsOfOddFiltersAndTables) {
  // Predictors longer than the filter, a one-entry table (probability 128)
  // and channels without half probability, in each coded method.
  const std::vector<uint8_t> tone = dsttest::signal(SignalKind::Tone, 3, 2822400, 1, 4);
  dsttest::FrameSpec f = dsttest::simple_spec(3, kBc, {0, 1, 2}, {{-200, -150}, {255}, {-90, 40, 17, -3}},
                                              {{100, 50, 20}, {128}, {64, 32}});
  f.coef_method = {2, 0, 1};
  f.coef_rice = {3, 0, 4};
  f.table_method = {1, -1, 1};
  f.table_rice = {2, 0, 6};
  f.half_prob = {0, 1, 0};
  expect_decodes_to(dsttest::write_frame(f, tone.data()), 3, tone);
}

TEST(DstDecoder, SegmentedFiltersAndTables) {
  const std::vector<uint8_t> music = dsttest::signal(SignalKind::Music, 2, 2822400, 1, 2);
  dsttest::FrameSpec f = designed(music, 2, 2, 32);
  f.coefs.push_back({-255, -100, 30});
  f.tables.push_back({90, 60, 30, 10});
  f.tables.push_back({128});
  f.coef_method.resize(3, -1);
  f.coef_rice.resize(3);
  f.table_method.resize(4, -1);
  f.table_rice.resize(4);
  // The same three filter segments in both channels; tables segmented per
  // channel and mapped on their own; new numbers appear in order.
  f.fseg = {true, 16, {{100, 60}}};
  f.fmap = {false, {{0, 1, 2}, {2, 0, 1}}};
  f.same_segmentation = false;
  f.pseg = {false, 4, {{10, 300, 5}, {}}};
  f.same_mapping = false;
  f.pmap = {false, {{0, 1, 2, 3}, {2}}};
  std::vector<uint8_t> frame = dsttest::write_frame(f, music.data());
  varn::DstFrameHeader h;
  std::string err;
  ASSERT_TRUE(varn::dst_parse_frame_header(frame.data(), frame.size(), 2, kBc, h, err)) << err;
  EXPECT_EQ(h.filter_seg.count, 3u);
  EXPECT_EQ(h.table_seg.count, 4u);
  EXPECT_EQ(h.filter_seg.lengths[1], (std::vector<uint32_t>{100 * 16 * 8, 60 * 16 * 8, 0}));
  EXPECT_EQ(h.table_seg.lengths[0], (std::vector<uint32_t>{320, 9600, 160, 0}));
  expect_decodes_to(frame, 2, music);
  // Segments per channel with one mapping for all channels.
  f.coefs = {f.coefs[0], f.coefs[2]};
  f.tables = {f.tables[0], f.tables[2]};
  f.coef_method.resize(2);
  f.coef_rice.resize(2);
  f.table_method.resize(2);
  f.table_rice.resize(2);
  f.fseg = {false, 32, {{40}, {90}}};
  f.fmap = {true, {{0, 1}}};
  f.same_segmentation = f.same_mapping = true;
  expect_decodes_to(dsttest::write_frame(f, music.data()), 2, music);
}

TEST(DstDecoder, MalformedFramesAreRefusedWithoutHarm) {
  const std::vector<uint8_t> music = dsttest::signal(SignalKind::Music, 2, 2822400, 1, 6);
  // What the coder leaves for the check must change no verdict: its
  // symbols (for its own input only) and its marks (for any). The symbols
  // point into the coder's state, which stays open to the end.
  varn::Init(2, 64, 44100, 32);
  varn::DstCodedSymbols symbols;
  std::vector<uint8_t> good(music.size() + 64);
  uint32_t bits = 0;
  ASSERT_EQ(varn::dst_encode_best(music.data(), good.data(), bits, &symbols), 0);
  good.resize(bits / 8);
  ASSERT_TRUE((good[0] & 0x80) && symbols.valid && symbols.marked);
  varn::DstCodedSymbols marks_only = symbols;
  marks_only.valid = false;
  varn::DstCodedSymbols moved = marks_only;
  moved.mark[1].low ^= 1;  // a claim the second part's end must refute
  varn::DstDecoder d, checker;
  ASSERT_TRUE(varn::dst_decoder_init(d, 2, kBc) && varn::dst_decoder_init(checker, 2, kBc));
  std::vector<uint8_t> out(kBc * 2), scratch(music.size());
  auto check = [&](const std::vector<uint8_t>& f, const std::vector<uint8_t>& audio, const varn::DstCodedSymbols* c) {
    return varn::dst_check_frame(checker, f.data(), f.size(), audio.data(), scratch.data(), c);
  };
  // The coder's own frame is checked in four parts from its marks; a mark
  // that does not hold sends the check back to the frame's start.
  for (const auto& [coded, parts] : {std::pair{&symbols, 4}, {&marks_only, 4}, {&moved, 1}}) {
    checker.check_parts = 0;
    EXPECT_TRUE(check(good, music, coded));
    EXPECT_EQ(checker.check_parts, parts);
  }
  auto agree = [&](const std::vector<uint8_t>& f, const std::vector<uint8_t>& audio) {
    const bool decodes = varn::dst_decode_frame(d, f.data(), f.size(), out.data()) && out == audio;
    const varn::DstCodedSymbols* with[] = {nullptr, &marks_only, &moved, &audio == &music ? &symbols : nullptr};
    for (const varn::DstCodedSymbols* c : with) ASSERT_EQ(check(f, audio, c), decodes) << f.size();
  };
  agree(good, music);
  for (size_t bit : {size_t(0), size_t(7), music.size() * 4, music.size() * 8 - 1}) {
    std::vector<uint8_t> other = music;
    other[bit / 8] ^= uint8_t(0x80 >> (bit % 8));
    agree(good, other);
  }
  for (size_t len = 1; len < good.size(); len += (len < 1300 ? 3 : 397))
    agree(std::vector<uint8_t>(good.begin(), good.begin() + long(len)), music);
  for (size_t back = 1; back <= 3; ++back) {
    std::vector<uint8_t> flipped = good;
    flipped[good.size() - back] ^= 0x01;
    agree(flipped, music);
  }
  // Coded again with one coefficient changed, the frame still decodes: the
  // check must not take symbols made with the other filter.
  dsttest::FrameSpec other_filter = dsttest::spec_of(good, 2, kBc);
  other_filter.coefs[0][3] += 1;
  agree(dsttest::write_frame(other_filter, music.data()), music);
  EXPECT_FALSE(varn::dst_decode_frame(d, good.data(), 0, out.data()));
  // Plain frames: the reserved bits and the length are checked.
  std::vector<uint8_t> plain(1 + music.size());
  std::memcpy(plain.data() + 1, music.data(), music.size());
  EXPECT_TRUE(varn::dst_decode_frame(d, plain.data(), plain.size(), out.data()) && out == music);
  plain[0] = 0x40;  // the bit after the coded flag is not checked
  EXPECT_TRUE(varn::dst_decode_frame(d, plain.data(), plain.size(), out.data()));
  plain[0] = 0x01;
  EXPECT_FALSE(varn::dst_decode_frame(d, plain.data(), plain.size(), out.data()));
  plain[0] = 0x00;
  EXPECT_FALSE(varn::dst_decode_frame(d, plain.data(), plain.size() - 1, out.data()));
  // With 3 channels the 2-bit map field of channel 2 may say 3 where only
  // 0..2 are allowed: 111110 | 1 | 11.
  varn::DstDecoder d3;
  ASSERT_TRUE(varn::dst_decoder_init(d3, 3, kBc));
  std::vector<uint8_t> bad(64, 0), o3(kBc * 3);
  bad[0] = 0xFB;
  bad[1] = 0x80;
  EXPECT_FALSE(varn::dst_decode_frame(d3, bad.data(), bad.size(), o3.data()));
  EXPECT_NE(d3.error.find("mapping"), std::string::npos) << d3.error;
  // Random and damaged frames never crash the decoder or the check.
  std::mt19937 rng(1234);
  for (int i = 0; i < 120; ++i) {
    std::vector<uint8_t> junk = dsttest::random_bytes(1 + rng() % 3000, uint32_t(rng()));
    junk[0] |= 0x80;
    agree(junk, music);
    std::vector<uint8_t> flipped = good;
    for (int k = 0; k < 4; ++k) flipped[rng() % (i < 60 ? 400 : good.size())] ^= uint8_t(1u << (rng() % 8));
    agree(flipped, music);
  }
  varn::dst_encoder_close();
}

}  // namespace
