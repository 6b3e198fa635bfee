// The frame decoder on the header forms other encoders use (coded
// coefficients and tables, segmentation, per-segment mapping) and on
// malformed frames.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "dst_frame_writer.h"
#include "dst_test_util.h"

namespace {

using dsdgen::SignalKind;
constexpr size_t kBc = 4704;

// Filters and tables our encoder chose for a frame, as a starting point.
struct Designed {
  std::vector<std::vector<int>> coefs, tables;
  std::vector<unsigned> map;
};

Designed design(const std::vector<uint8_t>& frame, int channels, int n, int order) {
  varn::Init(channels, 64, 44100, order);
  std::vector<uint8_t> f = dsttest::encode_one(frame.data(), frame.size(), n);
  varn::dst_encoder_close();
  varn::DstFrameHeader h;
  std::string err;
  EXPECT_TRUE(varn::dst_parse_frame_header(f.data(), f.size(), channels, kBc, h, err)) << err;
  EXPECT_TRUE(h.dst_coded);
  Designed d;
  for (size_t i = 0; i < h.filter_order.size(); ++i)
    d.coefs.emplace_back(h.coef[i].begin(), h.coef[i].begin() + h.filter_order[i]);
  for (size_t i = 0; i < h.table_length.size(); ++i)
    d.tables.emplace_back(h.table_entry[i].begin(), h.table_entry[i].begin() + h.table_length[i]);
  for (int c = 0; c < channels; ++c) d.map.push_back(h.filter_seg.table[static_cast<size_t>(c)][0]);
  return d;
}

void expect_decodes_to(const std::vector<uint8_t>& frame, int channels, const std::vector<uint8_t>& audio) {
  std::string err;
  const std::vector<uint8_t> back = dsttest::decode_one(frame, channels, kBc, &err);
  ASSERT_EQ(back.size(), audio.size()) << err;
  size_t first = 0;
  while (first < audio.size() && back[first] == audio[first]) ++first;
  EXPECT_EQ(first, audio.size()) << "first differing byte";
  varn::DstDecoder d;
  ASSERT_TRUE(varn::dst_decoder_init(d, channels, kBc));
  std::vector<uint8_t> scratch(audio.size());
  EXPECT_TRUE(varn::dst_check_frame(d, frame.data(), frame.size(), audio.data(), scratch.data())) << d.error;
}

TEST(DstDecoder, CodedCoefficientsAndTablesOfEveryMethod) {
  const int channels = 2;
  const std::vector<uint8_t> music = dsttest::signal(SignalKind::Music, channels, 2822400, 1, 8);
  const Designed d = design(music, channels, 2, 64);
  for (int method = 0; method < 3; ++method) {
    for (unsigned rice : {0u, 2u, 5u}) {
      dsttest::FrameSpec f = dsttest::simple_spec(channels, kBc, d.map, d.coefs, d.tables);
      f.coef_method.assign(f.coefs.size(), method);
      f.coef_rice.assign(f.coefs.size(), rice);
      f.table_method.assign(f.tables.size(), 2 - method);
      f.table_rice.assign(f.tables.size(), rice % 4);
      const std::vector<uint8_t> frame = dsttest::write_frame(f, music.data());
      varn::DstFrameHeader h;
      std::string err;
      ASSERT_TRUE(varn::dst_parse_frame_header(frame.data(), frame.size(), channels, kBc, h, err)) << err;
      EXPECT_TRUE(h.filter_coded[0]);
      EXPECT_TRUE(h.table_coded[0]);
      for (size_t i = 0; i < d.coefs.size(); ++i)
        EXPECT_TRUE(std::equal(d.coefs[i].begin(), d.coefs[i].end(), h.coef[i].begin()));
      for (size_t i = 0; i < d.tables.size(); ++i)
        EXPECT_TRUE(std::equal(d.tables[i].begin(), d.tables[i].end(), h.table_entry[i].begin()));
      expect_decodes_to(frame, channels, music);
    }
  }
}

TEST(DstDecoder, ShortFiltersAndTablesAndNoHalfProbability) {
  const int channels = 3;
  const std::vector<uint8_t> music = dsttest::signal(SignalKind::Tone, channels, 2822400, 1, 4);
  // Coded forms whose predictor is longer than the filter, a table of one
  // entry (probability 128) and channels without half probability.
  std::vector<std::vector<int>> coefs = {{-200, -150}, {255}, {-90, 40, 17, -3}};
  std::vector<std::vector<int>> tables = {{100, 50, 20}, {128}, {64, 32}};
  dsttest::FrameSpec f = dsttest::simple_spec(channels, kBc, {0, 1, 2}, coefs, tables);
  f.coef_method = {2, 0, 1};
  f.coef_rice = {3, 1, 4};
  f.table_method = {1, -1, 1};
  f.table_rice = {2, 0, 6};
  f.half_prob = {0, 1, 0};
  expect_decodes_to(dsttest::write_frame(f, music.data()), channels, music);
}

TEST(DstDecoder, SegmentedFiltersAndTables) {
  const int channels = 2;
  const std::vector<uint8_t> music = dsttest::signal(SignalKind::Music, channels, 2822400, 1, 2);
  const Designed d = design(music, channels, 2, 32);
  std::vector<std::vector<int>> coefs = d.coefs;
  coefs.push_back({-255, -100, 30});
  std::vector<std::vector<int>> tables = d.tables;
  tables.push_back({90, 60, 30, 10});
  tables.push_back({128});  // a one-entry table is always 128
  {
    // The same three filter segments in both channels, tables segmented
    // differently per channel and mapped on their own.
    dsttest::FrameSpec f = dsttest::simple_spec(channels, kBc, {0, 1}, coefs, tables);
    f.fseg.same_for_all = true;
    f.fseg.resolution = 16;
    f.fseg.units = {{100, 60}};
    f.fmap.same_for_all = false;
    f.fmap.table = {{0, 1, 2}, {2, 0, 1}};  // new numbers appear in order
    f.same_segmentation = false;
    f.pseg.same_for_all = false;
    f.pseg.resolution = 4;
    f.pseg.units = {{10, 300, 5}, {}};
    f.same_mapping = false;
    f.pmap.same_for_all = false;
    f.pmap.table = {{0, 1, 2, 3}, {2}};
    const std::vector<uint8_t> frame = dsttest::write_frame(f, music.data());
    varn::DstFrameHeader h;
    std::string err;
    ASSERT_TRUE(varn::dst_parse_frame_header(frame.data(), frame.size(), channels, kBc, h, err)) << err;
    EXPECT_EQ(h.filter_seg.count, 3u);
    EXPECT_EQ(h.table_seg.count, 4u);
    EXPECT_EQ(h.filter_seg.lengths[1], (std::vector<uint32_t>{100 * 16 * 8, 60 * 16 * 8, 0}));
    EXPECT_EQ(h.table_seg.lengths[0], (std::vector<uint32_t>{320, 9600, 160, 0}));
    EXPECT_EQ(h.table_seg.lengths[1].size(), 1u);
    expect_decodes_to(frame, channels, music);
  }
  {
    // Segments per channel with one mapping for all channels.
    std::vector<std::vector<int>> two = {coefs[0], coefs[2]};
    dsttest::FrameSpec f = dsttest::simple_spec(channels, kBc, {0, 0}, two, {tables[0], tables[2]});
    f.fseg.same_for_all = false;
    f.fseg.resolution = 32;
    f.fseg.units = {{40}, {90}};
    f.fmap.same_for_all = true;
    f.fmap.table = {{0, 1}};
    const std::vector<uint8_t> frame = dsttest::write_frame(f, music.data());
    expect_decodes_to(frame, channels, music);
  }
}

TEST(DstDecoder, MalformedFramesAreRefusedWithoutHarm) {
  const int channels = 2;
  const std::vector<uint8_t> music = dsttest::signal(SignalKind::Music, channels, 2822400, 1, 6);
  varn::Init(channels, 64, 44100, 32);
  const std::vector<uint8_t> good = dsttest::encode_one(music.data(), music.size(), 2);
  varn::dst_encoder_close();
  ASSERT_EQ(good[0] & 0x80, 0x80);
  varn::DstDecoder d;
  ASSERT_TRUE(varn::dst_decoder_init(d, channels, kBc));
  std::vector<uint8_t> out(kBc * channels);

  EXPECT_FALSE(varn::dst_decode_frame(d, good.data(), 0, out.data()));
  // The decode check accepts exactly what decodes to the audio.
  varn::DstDecoder checker;
  ASSERT_TRUE(varn::dst_decoder_init(checker, channels, kBc));
  std::vector<uint8_t> scratch(music.size());
  // Checked alone and among good frames: last of three, first of four.
  auto agree = [&](const std::vector<uint8_t>& f, const std::vector<uint8_t>& audio) {
    const bool decodes = varn::dst_decode_frame(d, f.data(), f.size(), out.data()) && out == audio;
    ASSERT_EQ(varn::dst_check_frame(checker, f.data(), f.size(), audio.data(), scratch.data()), decodes)
        << f.size() << " bytes";
    for (const auto& [count, place] : {std::pair{3, 2}, std::pair{4, 0}}) {
      varn::DstCheck group[4];
      for (int i = 0; i < count; ++i) group[i] = {good.data(), good.size(), music.data(), false};
      group[place] = {f.data(), f.size(), audio.data(), !decodes};
      varn::dst_check_frames(checker, group, count, scratch.data());
      for (int i = 0; i < count; ++i)
        ASSERT_EQ(group[i].ok, i == place ? decodes : true) << f.size() << " bytes, place " << place << " of " << count;
    }
  };
  agree(good, music);
  for (size_t bit : {size_t(0), size_t(1), size_t(7), music.size() * 8 / 2, music.size() * 8 - 2, music.size() * 8 - 1}) {
    std::vector<uint8_t> other = music;
    other[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
    agree(good, other);
  }
  // Every truncation: refused in the header, decoded (to something) past it.
  for (size_t len = 1; len < good.size(); len += (len < 1300 ? 3 : 397)) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(len));
    agree(cut, music);
  }
  for (size_t back = 1; back <= 3; ++back) {
    std::vector<uint8_t> cut(good.begin(), good.end() - static_cast<long>(back));
    agree(cut, music);
    std::vector<uint8_t> flipped = good;
    flipped[good.size() - back] ^= 0x01;
    agree(flipped, music);
  }
  std::vector<uint8_t> header_only(good.begin(), good.begin() + 40);
  EXPECT_FALSE(varn::dst_decode_frame(d, header_only.data(), header_only.size(), out.data()));

  // Plain frames: reserved bits and length are checked.
  std::vector<uint8_t> plain(1 + music.size());
  std::memcpy(plain.data() + 1, music.data(), music.size());
  EXPECT_TRUE(varn::dst_decode_frame(d, plain.data(), plain.size(), out.data()));
  EXPECT_EQ(out, music);
  plain[0] = 0x40;  // the bit after the coded flag is not checked
  EXPECT_TRUE(varn::dst_decode_frame(d, plain.data(), plain.size(), out.data()));
  plain[0] = 0x01;
  EXPECT_FALSE(varn::dst_decode_frame(d, plain.data(), plain.size(), out.data()));
  plain[0] = 0x00;
  EXPECT_FALSE(varn::dst_decode_frame(d, plain.data(), plain.size() - 1, out.data()));

  // A mapping naming a filter beyond the next new one: channel 1 of 2 has a
  // 1-bit field, so no such frame exists; with 3 channels the 2-bit field of
  // channel 2 may say 3 while only 0..2 are allowed.
  {
    varn::DstDecoder d3;
    ASSERT_TRUE(varn::dst_decoder_init(d3, 3, kBc));
    std::vector<uint8_t> bad(64, 0);
    // 111110 | ch1: 1 | ch2: 11 (3 > 2)
    bad[0] = 0xFB;
    bad[1] = 0x80;
    std::vector<uint8_t> o3(kBc * 3);
    EXPECT_FALSE(varn::dst_decode_frame(d3, bad.data(), bad.size(), o3.data()));
    EXPECT_NE(d3.error.find("mapping"), std::string::npos) << d3.error;
  }

  // Random and damaged frames never crash the decoder or the check.
  std::mt19937 rng(1234);
  for (int i = 0; i < 120; ++i) {
    std::vector<uint8_t> junk = dsttest::random_bytes(1 + rng() % 3000, static_cast<uint32_t>(rng()));
    junk[0] |= 0x80;
    agree(junk, music);
    std::vector<uint8_t> flipped = good;
    for (int k = 0; k < 4; ++k) flipped[rng() % (i < 60 ? 400 : good.size())] ^= static_cast<uint8_t>(1u << (rng() % 8));
    agree(flipped, music);
  }
}

}  // namespace
