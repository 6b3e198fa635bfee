// Area TOC blocks: the TOC sector, track text, track lists and ISRC list
// byte for byte, their placement in an image, and blocks that grow.
#include <gtest/gtest.h>

#include <cstring>

#include "sacd/area_toc.h"
#include "sacd/layout.h"
#include "sacd/text_encoding.h"
#include "sacd_test_util.h"
#include "support/test_support.h"

using namespace varn;
using sacdtest::dst_track;
using sacdtest::pattern_track;

namespace {

void plan(DiscLayout& l, std::vector<InputTrack>& tracks) {
  l.tracks = &tracks;
  std::vector<uint64_t> two, mch;
  for (size_t i = 0; i < tracks.size(); ++i) (tracks[i].channels == 2 ? two : mch).push_back(i);
  l.stereo = plan_area(tracks, two);
  l.multi = plan_area(tracks, mch);
  uint32_t reserve[2] = {5, 5};
  for (int m = 0; m < 2; ++m)
    reserve[m] = area_toc_shape(tracks, area_track_positions(tracks, m == 1), l.album->isrcs, 0).reserved;
  place_fixed_positions(l, reserve[0], reserve[1]);
}

void put32(Sector& s, size_t at, uint32_t v) { put_be32(s.data() + at, v); }

}  // namespace

TEST(AreaToc, StereoSectorByteExact) {
  std::vector<InputTrack> tracks = {pattern_track(2, 2822400, 75), pattern_track(2, 2822400, 75),
                                    pattern_track(2, 2822400, 3)};
  DiscLayout l;
  plan(l, tracks);
  ASSERT_EQ(l.stereo.total_sectors, 350u + 700 + 350 + 700 + 14);
  const AreaTocBlock b = build_area_toc_block(l, false, 0);
  ASSERT_EQ(b.bytes.size(), 6u * 2048);
  Sector want{};
  std::memcpy(want.data(), "TWOCHTOC", 8);
  want[8] = 0x01, want[9] = 0x14, want[10] = 0, want[11] = 6;
  want[20] = 4, want[21] = 2, want[32] = 2, want[33] = 0;
  want[64] = 0, want[65] = 6, want[66] = 3;  // 153 frames and two pauses of 150
  want[69] = 3;
  put32(want, 72, 545);
  put32(want, 76, 545 + 2114 - 1);
  want[80] = 1, want[88] = 'e', want[89] = 'n', want[90] = 0;
  want[128] = 0x08, want[130] = 0x10, want[132] = 0x18;
  EXPECT_TRUE(std::equal(want.begin(), want.end(), b.bytes.begin()));

  // Track lists.
  Sector trl1{};
  std::memcpy(trl1.data(), "SACDTRL1", 8);
  put32(trl1, 8, 545), put32(trl1, 12, 545 + 1050), put32(trl1, 16, 545 + 2100);
  put32(trl1, 1028, 350), put32(trl1, 1032, 350), put32(trl1, 1036, 14);
  EXPECT_TRUE(std::equal(trl1.begin(), trl1.end(), b.bytes.begin() + 2 * 2048));
  Sector trl2{};
  std::memcpy(trl2.data(), "SACDTRL2", 8);
  // Start times count the pauses, as the audio sectors' time codes do.
  const uint8_t starts[3][3] = {{0, 0, 0}, {0, 3, 0}, {0, 6, 0}};
  const uint8_t durations[3][3] = {{0, 1, 0}, {0, 1, 0}, {0, 0, 3}};
  for (int i = 0; i < 3; ++i) {
    std::memcpy(trl2.data() + 8 + 4 * i, starts[i], 3);
    std::memcpy(trl2.data() + 1028 + 4 * i, durations[i], 3);
  }
  EXPECT_TRUE(std::equal(trl2.begin(), trl2.end(), b.bytes.begin() + 3 * 2048));
  // Empty ISRC list.
  EXPECT_EQ(std::string(b.bytes.begin() + 4 * 2048, b.bytes.begin() + 4 * 2048 + 8), "SACD_IGL");
  for (size_t i = 4 * 2048 + 8; i < b.bytes.size(); ++i) ASSERT_EQ(b.bytes[i], 0);
}

TEST(AreaToc, TrackTextRecords) {
  std::vector<InputTrack> tracks = {pattern_track(2, 2822400, 1), pattern_track(2, 2822400, 1),
                                    pattern_track(6, 2822400, 1), pattern_track(2, 2822400, 1)};
  tracks[1].title = "Ab";
  tracks[1].artist = "C";
  tracks[3].composer = "Kx";
  const std::vector<uint8_t> text = build_track_text_block(tracks, area_track_positions(tracks, false), 0);
  ASSERT_EQ(text.size(), 2048u);
  std::vector<uint8_t> want(2048, 0);
  std::memcpy(want.data(), "SACDTTxt", 8);
  const std::vector<uint8_t> r1 = {1, 0, 0, 0, 1, 0x20, 'T', 'r', 'a', 'c', 'k', ' ', '1', 0, 0, 0};
  const std::vector<uint8_t> r2 = {2, 0, 0, 0, 1, 0x20, 'A', 'b', 0, 2, 0x20, 'C', 0, 0, 0, 0};
  // The third track of the area is the fourth of the job: "Track 3", with
  // its composer as item type 4.
  const std::vector<uint8_t> r3 = {2, 0, 0, 0, 1, 0x20, 'T', 'r', 'a', 'c', 'k', ' ', '3', 0,
                                   4, 0x20, 'K', 'x', 0, 0, 0, 0};
  put_be16(want.data() + 8, 518);
  put_be16(want.data() + 10, 534);
  put_be16(want.data() + 12, 550);
  std::copy(r1.begin(), r1.end(), want.begin() + 518);
  std::copy(r2.begin(), r2.end(), want.begin() + 534);
  std::copy(r3.begin(), r3.end(), want.begin() + 550);
  EXPECT_EQ(text, want);
}

TEST(AreaToc, TrackTextInDiscCharset) {
  std::vector<InputTrack> tracks = {pattern_track(2, 2822400, 1)};
  tracks[0].title = "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88";  // テスト
  const std::vector<uint8_t> text = build_track_text_block(tracks, {0}, 3);
  const std::vector<uint8_t> rec(text.begin() + 518, text.begin() + 518 + 16);
  EXPECT_EQ(rec, (std::vector<uint8_t>{1, 0, 0, 0, 1, 0x20, 0x83, 0x65, 0x83, 0x58, 0x83, 0x67, 0, 0, 0, 0}));
}

TEST(AreaToc, GenreEntriesTakeTheListsSecondSector) {
  // Every track's genre entry (category General, genre byte 3) lies in the
  // second sector of the list, which the block then reserves.
  const std::vector<uint8_t> list = build_isrc_list({}, {0, 1}, 14);
  EXPECT_EQ(std::vector<uint8_t>(list.begin() + 3068, list.begin() + 3080),
            (std::vector<uint8_t>{1, 0, 0, 14, 1, 0, 0, 14, 0, 0, 0, 0}));
  std::vector<InputTrack> tracks = {pattern_track(2, 2822400, 1), pattern_track(2, 2822400, 1)};
  EXPECT_EQ(area_toc_shape(tracks, {0, 1}, {}, 0, 14).reserved, 6u);
  EXPECT_EQ(area_toc_shape(tracks, {0, 1}, {}, 0, 0).reserved, 5u);
}

TEST(AreaToc, IsrcList) {
  const std::map<int32_t, std::string> isrcs = {
      {0, "US-ABC-24-00001"}, {2, "GBXYZ2400002"}, {3, "TOO-LONG-ISRC-CODE"}};
  // Area of job tracks 0, 2, 3 (track 1 is in the other area).
  const std::vector<uint8_t> list = build_isrc_list(isrcs, {0, 2, 3});
  ASSERT_EQ(list.size(), 4092u);
  EXPECT_EQ(std::string(list.begin(), list.begin() + 8), "SACD_IGL");
  EXPECT_EQ(std::string(list.begin() + 8, list.begin() + 20), "USABC2400001");
  EXPECT_EQ(std::string(list.begin() + 20, list.begin() + 32), "GBXYZ2400002");
  for (size_t i = 32; i < list.size(); ++i) ASSERT_EQ(list[i], 0);
}

TEST(AreaToc, RateCodesAndSpeakers) {
  EXPECT_EQ(sample_frequency_code(64, 44100, false), 4);
  EXPECT_EQ(sample_frequency_code(128, 44100, false), 5);
  EXPECT_EQ(sample_frequency_code(256, 44100, false), 6);
  EXPECT_EQ(sample_frequency_code(64, 48000, false), 14);
  EXPECT_EQ(sample_frequency_code(256, 48000, false), 16);
  EXPECT_EQ(sample_frequency_code(64, 44100, true), 8);
  EXPECT_EQ(sample_frequency_code(64, 48000, true), 11);
  EXPECT_EQ(sample_frequency_code(128, 48000, true), 12);
  EXPECT_EQ(loudspeaker_config(2), 0);
  EXPECT_EQ(loudspeaker_config(5), 3);
  EXPECT_EQ(loudspeaker_config(6), 4);

  std::vector<InputTrack> five = {dst_track(5, 3072000, {3000, 3000})};
  DiscLayout l;
  plan(l, five);
  const AreaTocBlock b = build_area_toc_block(l, true, 0);
  EXPECT_EQ(std::string(b.bytes.begin(), b.bytes.begin() + 8), "MULCHTOC");
  EXPECT_EQ(b.bytes[20], 11);
  EXPECT_EQ(b.bytes[21], 0);
  EXPECT_EQ(b.bytes[32], 5);
  EXPECT_EQ(b.bytes[33], 3);

  std::vector<InputTrack> six = {pattern_track(6, 11289600, 1)};
  DiscLayout l6;
  plan(l6, six);
  const AreaTocBlock b6 = build_area_toc_block(l6, true, 0);
  EXPECT_EQ(b6.bytes[20], 6);
  EXPECT_EQ(b6.bytes[21], 2);
  EXPECT_EQ(b6.bytes[32], 6);
  EXPECT_EQ(b6.bytes[33], 4);
}

TEST(AreaToc, BothAreasWrittenInPlace) {
  testsupport::ScratchDir dir;
  std::vector<InputTrack> tracks = {pattern_track(2, 2822400, 3), dst_track(6, 2822400, {3000, 100})};
  DiscLayout l;
  Album l_album;
  l.album = &l_album;
  l_album.isrcs = {{1, "DE-A12-99-12345"}};
  plan(l, tracks);
  ASSERT_EQ(l.area2_toc_lsn, 545u);
  select_charset(0);
  const std::string path = dir.file("t.img");
  FILE* f = std::fopen(path.c_str(), "w+b");
  ASSERT_TRUE(write_area_toc(f, l, false));
  ASSERT_TRUE(write_area_toc(f, l, true));
  std::fclose(f);
  const std::vector<uint8_t> img = testsupport::read_file(path);
  // Each block writes its five reserved sectors; the sixth (zeros) is left
  // to the next structure.
  ASSERT_EQ(img.size(), 550u * 2048);
  auto sig = [&](uint32_t lsn) { return std::string(img.begin() + lsn * 2048, img.begin() + lsn * 2048 + 8); };
  EXPECT_EQ(sig(540), "TWOCHTOC");
  EXPECT_EQ(sig(541), "SACDTTxt");
  EXPECT_EQ(sig(542), "SACDTRL1");
  EXPECT_EQ(sig(543), "SACDTRL2");
  EXPECT_EQ(sig(544), "SACD_IGL");
  EXPECT_EQ(sig(545), "MULCHTOC");
  EXPECT_EQ(sig(549), "SACD_IGL");
  EXPECT_EQ(std::string(img.begin() + 549 * 2048 + 8, img.begin() + 549 * 2048 + 20), "DEA129912345");
  // The 2ch area's last LSN is the multichannel area's first minus one.
  EXPECT_EQ(testsupport::be32(&img[540 * 2048 + 76]) + 1, testsupport::be32(&img[545 * 2048 + 72]));
  EXPECT_EQ(testsupport::be32(&img[545 * 2048 + 72]), 550u + 14u);
}

TEST(AreaToc, GrownTextBlockPlacement) {
  testsupport::ScratchDir dir;
  std::vector<InputTrack> tracks;
  for (int i = 0; i < 6; ++i) {
    tracks.push_back(pattern_track(2, 2822400, 1));
    tracks.back().title = std::string(300, char('a' + i));
  }
  DiscLayout l;
  plan(l, tracks);
  // Lists first, text last; the Master TOC, the size field and the
  // reservation agree on 7 sectors.
  ASSERT_EQ(l.area1_toc_sectors, 7u);
  ASSERT_EQ(l.audio_start_lsn, 547u);
  select_charset(0);
  const std::string path = dir.file("g.img");
  FILE* f = std::fopen(path.c_str(), "w+b");
  ASSERT_TRUE(write_area_toc(f, l, false));
  std::fclose(f);
  const std::vector<uint8_t> img = testsupport::read_file(path);
  ASSERT_EQ(img.size(), 547u * 2048);
  const uint8_t* toc = img.data() + 540 * 2048;
  EXPECT_EQ(testsupport::be16(toc + 10), 7u);
  EXPECT_EQ(testsupport::be16(toc + 128), 0x2800u);
  EXPECT_EQ(testsupport::be16(toc + 130), 0x0800u);
  EXPECT_EQ(testsupport::be16(toc + 132), 0x1000u);
  auto sig = [&](uint32_t lsn) { return std::string(img.begin() + lsn * 2048, img.begin() + lsn * 2048 + 8); };
  EXPECT_EQ(sig(541), "SACDTRL1");
  EXPECT_EQ(sig(542), "SACDTRL2");
  EXPECT_EQ(sig(543), "SACD_IGL");
  EXPECT_EQ(sig(545), "SACDTTxt");
  EXPECT_EQ(std::string(img.begin() + 546 * 2048, img.begin() + 546 * 2048 + 4), "eeee");
  // The last record is intact and lies in the second text sector.
  const uint8_t* text = img.data() + 545 * 2048;
  const uint32_t last = testsupport::be16(text + 8 + 2 * 5);
  EXPECT_GT(last, 2048u);
  EXPECT_EQ(text[last + 6], 'f');
  EXPECT_EQ(text[last + 6 + 299], 'f');
}

TEST(AreaToc, ChangedTextAfterPlanningIsRefused) {
  testsupport::ScratchDir dir;
  std::vector<InputTrack> tracks = {pattern_track(2, 2822400, 1), pattern_track(2, 2822400, 1)};
  DiscLayout l;
  plan(l, tracks);
  tracks[0].title = std::string(1600, 'z');
  select_charset(0);
  const std::string path = dir.file("c.img");
  FILE* f = std::fopen(path.c_str(), "w+b");
  bool ok = true;
  const sacdtest::Capture c = sacdtest::capture_output([&] { ok = write_area_toc(f, l, false); });
  std::fclose(f);
  EXPECT_FALSE(ok);
  EXPECT_NE(c.err.find("reserved 5"), std::string::npos) << c.err;
  EXPECT_TRUE(testsupport::read_file(path).empty());
}
