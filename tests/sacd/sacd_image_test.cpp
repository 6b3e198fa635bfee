// A whole image planned and written, then
// read back: every structure is where the layout says and intact, and the
// track lists point at the tracks' audio.
#include <gtest/gtest.h>

#include <cstring>

#include "frontend/stages.h"
#include "sacd/area_toc.h"
#include "sacd/audio_area.h"
#include "sacd/image_files.h"
#include "sacd/image_plan.h"
#include "sacd/image_writer.h"
#include "sacd/layout.h"
#include "sacd/master_toc.h"
#include "sacd/text_encoding.h"
#include "sacd_test_util.h"
#include "support/test_support.h"

using namespace varn;
using sacdtest::dst_track;
using sacdtest::pattern_track;

namespace {

struct Image {
  PackRun run;
  std::vector<uint8_t> bytes;
  bool ok = false;
};

void build(Image& img, const std::string& path) {
  sacdtest::capture_output([&] { ASSERT_FALSE(stage_plan_layout(img.run)); });
  const DiscLayout& l = img.run.layout;
  select_charset(choose_charset(disc_charset_texts(l.album->title, l.album->artist, img.run.tracks, l.album->label)));
  const std::vector<IsoFileEntry> files = sacd_image_files(l, nullptr, "info");
  ImagePlan plan;
  sacdtest::capture_output([&] {
    img.ok = plan_sacd_image(l, files, sacd_placement(l, files), current_charset(), plan) &&
             write_planned_image(plan, l, path);
  });
  select_charset(0);
  img.bytes = testsupport::read_file(path);
}

PackRun job(std::vector<InputTrack> tracks) {
  PackRun run;
  run.tracks = std::move(tracks);
  for (size_t i = 0; i < run.tracks.size(); ++i) {
    run.track_paths.push_back(std::to_string(i + 1) + ".dsf");
    (run.tracks[i].channels == 2 ? run.stereo_list : run.multi_list).push_back(i);
  }
  return run;
}

std::string sig(const std::vector<uint8_t>& b, uint32_t lsn) {
  return std::string(b.begin() + size_t(lsn) * 2048, b.begin() + size_t(lsn) * 2048 + 8);
}

// Checks one area: its TOC block, and that every TRL1 entry points at the
// sectors that reassemble into the track's audio.
void check_area(const Image& img, bool mch) {
  const DiscLayout& l = img.run.layout;
  const std::vector<uint8_t>& b = img.bytes;
  const uint32_t toc = area_toc_lsn(l, mch);
  SCOPED_TRACE(mch ? "multichannel" : "2ch");
  const AreaTocBlock want = build_area_toc_block(
      l, mch, choose_charset(disc_charset_texts(l.album->title, l.album->artist, img.run.tracks, l.album->label)));
  // The reserved sectors are intact after everything else was written.
  ASSERT_TRUE(std::equal(want.bytes.begin(), want.bytes.begin() + size_t(area_toc_sectors(l, mch)) * 2048,
                         b.begin() + size_t(toc) * 2048));
  const uint8_t* trl1 = b.data() + size_t(toc + want.shape.trl1_at) * 2048;
  ASSERT_EQ(std::string(trl1, trl1 + 8), "SACDTRL1");
  const std::vector<size_t> area = area_track_positions(img.run.tracks, mch);
  for (size_t i = 0; i < area.size(); ++i) {
    const InputTrack& t = img.run.tracks[area[i]];
    const uint32_t lsn = testsupport::be32(trl1 + 8 + 4 * i);
    const uint32_t n = testsupport::be32(trl1 + 1028 + 4 * i);
    if (t.is_dst) continue;
    const sacdtest::Reassembly r = sacdtest::reassemble(b.data() + size_t(lsn) * 2048, n);
    EXPECT_EQ(r.stream, t.audio) << "track " << i;
  }
}

}  // namespace

TEST(SacdImage, BothAreasInBuilderOrder) {
  testsupport::ScratchDir dir;
  Image img;
  std::vector<InputTrack> tracks = {pattern_track(2, 5644800, 3), pattern_track(5, 3072000, 2),
                                    pattern_track(2, 5644800, 2), pattern_track(5, 3072000, 1)};
  tracks[0].title = "\xE3\x81\x82 Intro";
  tracks[2].pause_frames = 1;
  tracks[3].pause_frames = 2;
  img.run = job(std::move(tracks));
  img.run.job.album.title = "Album";
  img.run.job.album.isrcs = {{2, "JP-ABC-24-00003"}};
  build(img, dir.file("i.img"));
  ASSERT_TRUE(img.ok);
  const DiscLayout& l = img.run.layout;
  const std::vector<uint8_t>& b = img.bytes;
  EXPECT_GT(b.size(), size_t(sacd_end_lsn(l)) * 2048);  // the UDF metadata follows
  for (uint32_t lsn : {510u, 520u, 530u}) EXPECT_EQ(sig(b, lsn), "SACDMTOC");
  for (uint32_t lsn = 511; lsn < 519; ++lsn) EXPECT_EQ(sig(b, lsn), "SACDText");
  EXPECT_EQ(sig(b, 519), "SACD_Man");
  EXPECT_EQ(b[510 * 2048 + 138], 3);  // Shift-JIS for the kana title
  EXPECT_EQ(b[540 * 2048 + 90], 3);
  EXPECT_EQ(b[540 * 2048 + 20], 5);    // DSD128
  EXPECT_EQ(b[545 * 2048 + 20], 14);   // DSD64/48
  EXPECT_EQ(b[545 * 2048 + 32], 5);
  check_area(img, false);
  check_area(img, true);
  EXPECT_EQ(std::string(b.begin() + 544 * 2048 + 20, b.begin() + 544 * 2048 + 32), "JPABC2400003");
}

TEST(SacdImage, GrownBlocksKeepEverythingIntact) {
  testsupport::ScratchDir dir;
  Image img;
  std::vector<InputTrack> tracks;
  for (int i = 0; i < 8; ++i) {
    tracks.push_back(pattern_track(2, 2822400, 1));
    tracks.back().title = std::string(250, char('A' + i));
    tracks.back().artist = "Performer";
  }
  tracks.push_back(dst_track(6, 2822400, {3000, 200, 5000}));
  tracks.back().title = std::string(1600, 'M');
  img.run = job(std::move(tracks));
  build(img, dir.file("g.img"));
  ASSERT_TRUE(img.ok);
  const DiscLayout& l = img.run.layout;
  EXPECT_EQ(l.area1_toc_sectors, 7u);
  EXPECT_EQ(l.area2_toc_sectors, 7u);
  EXPECT_EQ(l.area2_toc_lsn, 547u);
  EXPECT_EQ(l.audio_start_lsn, 554u);
  EXPECT_EQ(testsupport::be16(&img.bytes[547 * 2048 + 10]), 7u);
  EXPECT_EQ(testsupport::be16(&img.bytes[510 * 2048 + 86]), 7u);
  check_area(img, false);
  check_area(img, true);
}
