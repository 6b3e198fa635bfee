// Area planning: frames and sectors by the audio writer's packing rules,
// the DST carry rule, pauses, fixed positions, Area TOC blocks that grow,
// and the jobs one Area TOC cannot describe.
#include <gtest/gtest.h>

#include "sacd/image_plan.h"
#include "sacd_test_util.h"

using namespace varn;
using sacdtest::dst_track;
using sacdtest::pattern_track;

TEST(PlainPlan, FramesSectorsAndPauses) {
  std::vector<InputTrack> tracks = {pattern_track(2, 2822400, 75), pattern_track(2, 2822400, 75),
                                    pattern_track(2, 2822400, 3)};
  tracks[0].pause_frames = 150;  // first track: never a pause
  tracks[1].pause_frames = 150;  // 150 x 9408 / 2016 = 700 sectors
  tracks[2].pause_frames = 0;
  const AreaPlan p = plan_area(tracks, {0, 1, 2});
  EXPECT_EQ(p.track_frames, (std::vector<uint32_t>{75, 75, 3}));
  EXPECT_EQ(p.track_sectors, (std::vector<uint32_t>{350, 350, 14}));
  EXPECT_EQ(p.track_start, (std::vector<uint32_t>{0, 1050, 1400}));
  EXPECT_EQ(p.total_sectors, 1414u);
  // Every rate and channel count, and a partial last frame padded to a
  // whole one: the reassembly of the audio sectors checks the plan.
}

TEST(DstPlan, CarryRule) {
  // 5000: 3 sectors, the last holds 914 bytes and 1125 of the next frame;
  // 3000 - 1125 fits one sector; 100 and 2041 one each; 4086 = 2041 + 2045
  // ends exactly after a middle sector. 500 lies wholly inside the sector
  // before; after a full last sector the next frame starts afresh.
  const struct {
    std::vector<uint32_t> lengths, sectors, heads;
  } cases[] = {{{5000, 3000, 100, 2041, 4086, 10}, {3, 1, 1, 1, 2, 1}, {1125, 0, 0, 0, 0, 0}},
               {{3000, 500, 100}, {2, 0, 1}, {500, 0, 0}},
               {{2041 + 2039, 50}, {2, 1}, {0, 0}}};
  for (const auto& c : cases) {
    const std::vector<DstFramePack> t = dst_packing_table(c.lengths);
    ASSERT_EQ(t.size(), c.lengths.size());
    for (size_t i = 0; i < t.size(); ++i) {
      EXPECT_EQ(t[i].sectors, c.sectors[i]) << c.lengths[0] << " frame " << i;
      EXPECT_EQ(t[i].head, c.heads[i]) << c.lengths[0] << " frame " << i;
    }
  }
  // Every track starts in a sector of its own, even where the first frame
  // would fit in the last sector of the track before; no pause before DST.
  std::vector<InputTrack> tracks = {dst_track(6, 2822400, {5000, 3000}), dst_track(6, 2822400, {2000, 100, 4086})};
  tracks[1].pause_frames = 150;
  const AreaPlan p = plan_area(tracks, {0, 1});
  EXPECT_EQ(p.track_sectors, (std::vector<uint32_t>{4, 4}));
  EXPECT_EQ(p.track_start, (std::vector<uint32_t>{0, 4}));
  EXPECT_EQ(p.total_sectors, 8u);
  const AreaPlan q = plan_area({dst_track(2, 2822400, {5000}), dst_track(2, 2822400, {1125, 50})}, {0, 1});
  EXPECT_EQ(q.track_sectors, (std::vector<uint32_t>{3, 2}));
  EXPECT_EQ(q.track_time, (std::vector<uint32_t>{0, 1}));
}

TEST(Layout, FixedPositionsAndGrownBlocks) {
  std::vector<InputTrack> tracks = {pattern_track(2, 2822400, 75), pattern_track(6, 2822400, 10),
                                    pattern_track(2, 2822400, 75)};
  tracks[2].pause_frames = 150;
  DiscLayout l = sacdtest::plan(tracks);
  EXPECT_EQ(area_start_lsn(l, true), 550u + 1400u);
  EXPECT_EQ(sacd_end_lsn(l), 550u + 1400u + 140u + 2u);  // two run-out sectors
  std::vector<InputTrack> mch = {dst_track(6, 2822400, {3000})};  // alone, it is Area 1
  EXPECT_EQ(area_toc_lsn(sacdtest::plan(mch), true), 540u);

  // 6 records of 310 bytes need a second text sector: a block of 7.
  std::vector<InputTrack> texts;
  for (int i = 0; i < 6; ++i) {
    texts.push_back(pattern_track(2, 2822400, 1));
    texts.back().title = std::string(300, char('a' + i));
  }
  texts.push_back(pattern_track(6, 2822400, 1));
  l = sacdtest::plan(texts);
  EXPECT_EQ(l.area1_toc_sectors, 7u);
  EXPECT_EQ(l.area2_toc_lsn, 547u);
  EXPECT_EQ(l.audio_start_lsn, 552u);
  // "Track 1".."Track 171" records need two text sectors; with one, the
  // ISRC list's second sector is reserved only when it holds an ISRC.
  std::vector<InputTrack> many(171, pattern_track(2, 2822400, 1));
  const std::vector<size_t> area = area_track_positions(many, false);
  const AreaTocShape s = area_toc_shape(many, area, {{169, "US-ABC-24-00001"}}, 0);
  EXPECT_EQ(s.text_sectors, 2u);
  EXPECT_EQ(s.reserved, 7u);
  EXPECT_EQ(area_toc_shape(many, {0, 1, 2}, {}, 0).reserved, 5u);
  // Texts no block can hold are refused when the layout is planned.
  many.resize(200);
  for (auto& t : many) t.title = std::string(400, 'x');
  DiscLayout refused;
  const Status why = plan_disc_layout(many, kNoAlbum, refused);
  ASSERT_TRUE(why);
  EXPECT_TRUE(testsupport::contains(why->text, "but an Area TOC holds at most 29")) << why->text;

  // Text changed after planning no longer fits the reservation: the image
  // plan refuses it.
  std::vector<InputTrack> two = {pattern_track(2, 2822400, 1), pattern_track(2, 2822400, 1)};
  l = sacdtest::plan(two);
  two[0].title = std::string(1600, 'z');
  const std::vector<IsoFileEntry> files = sacd_image_files(l, nullptr, "");
  ImagePlan image;
  EXPECT_FALSE(plan_sacd_image(l, files, sacd_placement(l, files), 0, image));
  ASSERT_FALSE(image.placement_notes.empty());
  EXPECT_TRUE(testsupport::contains(image.placement_notes.back().text, "reserved 5"));
}

TEST(Layout, AreasOneTocCannotDescribe) {
  const std::vector<std::string> paths = {"t1.dsf", "t2.dff", "t3.dsf"};
  InputTrack empty = pattern_track(2, 2822400, 1);
  empty.audio.clear();
  const struct {
    std::vector<InputTrack> tracks;
    AreaCoding coding;
    bool mch;
    std::vector<std::string> says;
  } cases[] = {
      {{pattern_track(2, 2822400, 2), dst_track(2, 2822400, {3000}), pattern_track(2, 2822400, 2)}, {}, false,
       {"DST: track 2 (t2.dff)", "plain DSD: track 1 (t1.dsf), track 3 (t3.dsf)", "--dst-stereo"}},
      {{dst_track(6, 2822400, {3000}), pattern_track(6, 2822400, 2)}, {false, true}, true, {"drop --no-encode"}},
      {{pattern_track(2, 2822400, 2), pattern_track(2, 5644800, 2)}, {}, false, {"mixes sample rates", "track 2 (t2.dff)"}},
      {{pattern_track(2, 2822400, 2), pattern_track(2, 3072000, 2)}, {}, false, {"mixes sample rates"}},
      {{dst_track(6, 2822400, {3000}), dst_track(5, 2822400, {3000})}, {}, true, {"mixes channel counts"}},
      {{pattern_track(2, 2822400 * 8, 1)}, {}, false, {"22579200 Hz"}},
      {{empty}, {}, false, {"no audio frames"}},
      {std::vector<InputTrack>(256, pattern_track(2, 2822400, 1)), {}, false, {"256 tracks", "at most 255"}},
  };
  for (const auto& c : cases) {
    std::vector<uint64_t> area(c.tracks.size());
    for (size_t i = 0; i < area.size(); ++i) area[i] = i;
    const Status refusal = area_refusal(c.tracks, area, paths, c.coding, c.mch);
    ASSERT_TRUE(refusal);
    const std::string why = refusal->text;
    for (const std::string& s : c.says) EXPECT_NE(why.find(s), std::string::npos) << s << " in: " << why;
  }
  EXPECT_FALSE(area_refusal({pattern_track(2, 2822400, 2)}, {0}, paths, {}, false));
}
