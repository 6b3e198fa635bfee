// Area planning: frames and sectors with the audio writer's packing rules,
// the DST carry rule, pauses, fixed positions, the printed plan and the
// jobs one Area TOC cannot describe.
#include <gtest/gtest.h>

#include "frontend/stages.h"
#include "sacd/area_toc.h"
#include "sacd/layout.h"
#include "sacd_test_util.h"

using namespace varn;
using sacdtest::dst_track;
using sacdtest::plain_track;

namespace {

PackRun make_run(std::vector<InputTrack> tracks) {
  PackRun run;
  run.tracks = std::move(tracks);
  for (size_t i = 0; i < run.tracks.size(); ++i) {
    run.track_paths.push_back("t" + std::to_string(i + 1) + (run.tracks[i].is_dst ? ".dff" : ".dsf"));
    (run.tracks[i].channels == 2 ? run.stereo_list : run.multi_list).push_back(i);
  }
  return run;
}

struct StageOutcome {
  StageResult result;
  sacdtest::Capture io;
};
StageOutcome plan(PackRun& run) {
  StageOutcome o;
  o.io = sacdtest::capture_output([&] { o.result = stage_plan_layout(run); });
  return o;
}

}  // namespace

TEST(PlainPlan, FramesSectorsAndPauses) {
  std::vector<InputTrack> tracks = {plain_track(2, 2822400, 75), plain_track(2, 2822400, 75),
                                    plain_track(2, 2822400, 3)};
  tracks[0].pause_frames = 150;  // first track: never a pause
  tracks[1].pause_frames = 150;  // 150 x 9408 / 2016 = 700 sectors
  tracks[2].pause_frames = 0;
  const AreaPlan p = plan_area(tracks, {0, 1, 2});
  EXPECT_EQ(p.track_frames, (std::vector<uint32_t>{75, 75, 3}));
  EXPECT_EQ(p.track_sectors, (std::vector<uint32_t>{350, 350, 14}));
  EXPECT_EQ(p.track_start, (std::vector<uint32_t>{0, 1050, 1400}));
  EXPECT_EQ(p.total_sectors, 1414u);
}

TEST(PlainPlan, RatesAndChannelCounts) {
  struct Case {
    uint32_t channels, rate, frames, sectors;
  } cases[] = {
      {2, 2822400, 75, 350},    // DSD64: 9408-byte frames
      {2, 5644800, 10, 94},     // DSD128: 188160 bytes
      {2, 11289600, 1, 19},     // DSD256: 37632 bytes
      {2, 3072000, 10, 51},     // DSD64 at 48 kHz: 102400 bytes
      {6, 2822400, 10, 140},    // 28224-byte frames
      {5, 2822400, 3, 35},      // 70560 bytes
      {5, 11289600, 3, 140},    // 282240 bytes
      {6, 6144000, 2, 61},      // DSD128/48: 122880 bytes
  };
  for (const Case& c : cases) {
    std::vector<InputTrack> tracks = {plain_track(c.channels, c.rate, c.frames)};
    const AreaPlan p = plan_area(tracks, {0});
    EXPECT_EQ(p.track_frames[0], c.frames) << c.channels << "ch " << c.rate;
    EXPECT_EQ(p.track_sectors[0], c.sectors) << c.channels << "ch " << c.rate;
  }
}

TEST(PlainPlan, PartialLastFrameIsPadded) {
  std::vector<InputTrack> tracks = {plain_track(2, 2822400, 3)};
  tracks[0].audio.resize(9408 * 2 + 100);
  EXPECT_EQ(plain_stream_bytes(tracks[0]), 9408u * 3);
  const AreaPlan p = plan_area(tracks, {0});
  EXPECT_EQ(p.track_frames[0], 3u);
  EXPECT_EQ(p.track_sectors[0], 14u);
}

TEST(DstPlan, CarryRule) {
  // 5000: 3 sectors, last holds 914 bytes, 1125 bytes of the next frame
  // follow; 3000 - 1125 = 1875 fits one sector; 100 and 2041 one each;
  // 4086 = 2041 + 2045 ends exactly after a middle sector.
  const std::vector<DstFramePack> t = dst_packing_table({5000, 3000, 100, 2041, 4086, 10});
  ASSERT_EQ(t.size(), 6u);
  EXPECT_EQ(t[0].sectors, 3u);
  EXPECT_EQ(t[0].head, 1125u);
  EXPECT_EQ(t[1].sectors, 1u);
  EXPECT_EQ(t[1].head, 0u);
  EXPECT_EQ(t[2].sectors, 1u);
  EXPECT_EQ(t[3].sectors, 1u);
  EXPECT_EQ(t[4].sectors, 2u);
  EXPECT_EQ(t[4].head, 0u);
  EXPECT_EQ(t[5].sectors, 1u);
}

TEST(DstPlan, FrameInsidePreviousSectorTakesNoSector) {
  const std::vector<DstFramePack> t = dst_packing_table({3000, 500, 100});
  EXPECT_EQ(t[0].sectors, 2u);
  EXPECT_EQ(t[0].head, 500u);
  EXPECT_EQ(t[1].sectors, 0u);
  EXPECT_EQ(t[1].head, 0u);
  EXPECT_EQ(t[2].sectors, 1u);
  // A last sector that is full leaves no room for the next frame.
  const std::vector<DstFramePack> full = dst_packing_table({2041 + 2039, 50});
  EXPECT_EQ(full[0].sectors, 2u);
  EXPECT_EQ(full[0].head, 0u);
  EXPECT_EQ(full[1].sectors, 1u);
}

TEST(DstPlan, EveryTrackStartsInASectorOfItsOwn) {
  std::vector<InputTrack> tracks = {dst_track(6, 2822400, {5000, 3000}),
                                    dst_track(6, 2822400, {2000, 100, 4086})};
  tracks[1].pause_frames = 150;  // no pause before DST tracks
  const AreaPlan p = plan_area(tracks, {0, 1});
  // Track 1: 3 + 1 sectors; frame 2 of the sequence starts in a fresh sector.
  EXPECT_EQ(p.track_sectors, (std::vector<uint32_t>{4, 4}));
  EXPECT_EQ(p.track_start, (std::vector<uint32_t>{0, 4}));
  EXPECT_EQ(p.track_frames, (std::vector<uint32_t>{2, 3}));
  EXPECT_EQ(p.total_sectors, 8u);

  // The last sector of a track takes no head of the next track's first
  // frame, even where that frame would fit in it whole.
  std::vector<InputTrack> t2 = {dst_track(2, 2822400, {5000}), dst_track(2, 2822400, {1125, 50})};
  const AreaPlan q = plan_area(t2, {0, 1});
  EXPECT_EQ(q.track_sectors, (std::vector<uint32_t>{3, 2}));
  EXPECT_EQ(q.track_time, (std::vector<uint32_t>{0, 1}));
  const std::vector<DstFramePack> t = dst_packing_table({5000, 1125, 50}, {true, false, true});
  EXPECT_EQ(t[0].head, 0u);
  EXPECT_EQ(dst_packing_table({5000, 1125, 50})[0].head, 1125u);
}

TEST(LayoutStage, BothAreasPlanAndPositions) {
  std::vector<InputTrack> tracks = {plain_track(2, 2822400, 75), plain_track(6, 2822400, 10),
                                    plain_track(2, 2822400, 75)};
  for (auto& t : tracks) t.pause_frames = 150;
  PackRun run = make_run(std::move(tracks));
  const StageOutcome o = plan(run);
  ASSERT_FALSE(o.result) << o.io.err;
  EXPECT_EQ(o.io.out,
            "\nISO Layout:\n  Master TOC  LSN 510\n  Area 1(2ch) LSN 540 (5 blocks)\n"
            "  Area 2(Mch) LSN 545 (5 blocks)\n  SACD Text   LSN 511\n  SACD_Man    LSN 519\n"
            "  Audio Start LSN 550\n  Stereo: 1400 LSNs  Multi: 140 LSNs\n");
  const DiscLayout& l = run.layout;
  EXPECT_EQ(l.tracks, &run.tracks);
  EXPECT_EQ(l.area1_toc_lsn, 540u);
  EXPECT_EQ(l.area1_toc_sectors, 5u);
  EXPECT_EQ(l.area2_toc_lsn, 545u);
  EXPECT_EQ(l.area2_toc_sectors, 5u);
  EXPECT_EQ(l.audio_start_lsn, 550u);
  EXPECT_EQ(area_start_lsn(l, true), 550u + 1400u);
  EXPECT_EQ(sacd_end_lsn(l), 550u + 1400u + 140u + 2u);
  EXPECT_EQ(run.stereo.track_start, (std::vector<uint32_t>{0, 1050}));
  EXPECT_EQ(l.stereo.total_sectors, 1400u);
}

TEST(LayoutStage, MultichannelOnlyTakesAreaOne) {
  PackRun run = make_run({dst_track(6, 2822400, {3000, 3000, 3000})});
  const StageOutcome o = plan(run);
  ASSERT_FALSE(o.result) << o.io.err;
  EXPECT_NE(o.io.out.find("  Area 1(Mch) LSN 540 (5 blocks)\n"), std::string::npos);
  EXPECT_EQ(o.io.out.find("2ch"), std::string::npos);
  EXPECT_NE(o.io.out.find("  Audio Start LSN 545\n  Stereo: 0 LSNs  Multi: 5 LSNs\n"), std::string::npos);
  EXPECT_EQ(run.layout.area1_toc_lsn, 540u);
  EXPECT_EQ(run.layout.area2_toc_lsn, 0u);
  EXPECT_EQ(run.layout.area2_toc_sectors, 0u);
  EXPECT_EQ(area_toc_lsn(run.layout, true), 540u);
  EXPECT_EQ(area_start_lsn(run.layout, true), 545u);
}

TEST(LayoutStage, NoAreaPositions) {
  DiscLayout l;
  place_fixed_positions(l, 5, 5);
  EXPECT_EQ(l.audio_start_lsn, 540u);
  EXPECT_EQ(l.area1_toc_lsn, 0u);
  EXPECT_EQ(l.area1_toc_sectors, 0u);
}

TEST(LayoutStage, LongTrackTextGrowsTheBlock) {
  std::vector<InputTrack> tracks;
  for (int i = 0; i < 6; ++i) {
    tracks.push_back(sacdtest::pattern_track(2, 2822400, 1));
    tracks.back().title = std::string(300, char('a' + i));
  }
  tracks.push_back(plain_track(6, 2822400, 1));
  PackRun run = make_run(std::move(tracks));
  const StageOutcome o = plan(run);
  ASSERT_FALSE(o.result) << o.io.err;
  // 6 records of 310 bytes need a second text sector: a block of 7
  // sectors, all reserved.
  EXPECT_NE(o.io.out.find("  Area 1(2ch) LSN 540 (7 blocks)\n  Area 2(Mch) LSN 547 (5 blocks)\n"),
            std::string::npos);
  EXPECT_EQ(run.layout.audio_start_lsn, 552u);
}

TEST(LayoutStage, TooMuchTrackTextIsRefused) {
  std::vector<InputTrack> tracks;
  for (int i = 0; i < 200; ++i) {
    tracks.push_back(sacdtest::pattern_track(2, 2822400, 1));
    tracks.back().title = std::string(400, 'x');
  }
  PackRun run = make_run(std::move(tracks));
  const StageOutcome o = plan(run);
  ASSERT_TRUE(o.result);
  EXPECT_EQ(*o.result, 1);
  EXPECT_NE(o.io.err.find("text sectors"), std::string::npos);
  EXPECT_TRUE(o.io.out.empty());
}

TEST(LayoutStage, IsrcBeyondTrack170ReservesTheLastSector) {
  std::vector<InputTrack> tracks;
  for (int i = 0; i < 171; ++i) tracks.push_back(sacdtest::pattern_track(2, 2822400, 1));
  const std::vector<size_t> area = area_track_positions(tracks, false);
  std::map<int32_t, std::string> isrcs = {{169, "US-ABC-24-00001"}};
  // "Track 1".."Track 171" records need two text sectors.
  AreaTocShape s = area_toc_shape(tracks, area, isrcs, 0);
  EXPECT_EQ(s.text_sectors, 2u);
  EXPECT_EQ(s.block_sectors, 7u);
  EXPECT_EQ(s.reserved, 7u);
  isrcs[170] = "US-ABC-24-00002";
  s = area_toc_shape(tracks, area, isrcs, 0);
  EXPECT_EQ(s.reserved, 7u);
  // With one text sector, the ISRC list's second sector is reserved only
  // when it holds an ISRC.
  std::vector<InputTrack> few(tracks.begin(), tracks.begin() + 3);
  EXPECT_EQ(area_toc_shape(few, {0, 1, 2}, {}, 0).reserved, 5u);

  PackRun run = make_run(std::move(tracks));
  run.job.album.isrcs = isrcs;
  const StageOutcome o = plan(run);
  ASSERT_FALSE(o.result) << o.io.err;
  EXPECT_EQ(run.layout.area1_toc_sectors, 7u);
  EXPECT_EQ(run.layout.audio_start_lsn, 547u);
}

TEST(LayoutRefusal, MoreThan255Tracks) {
  std::vector<InputTrack> tracks;
  for (int i = 0; i < 256; ++i) tracks.push_back(sacdtest::pattern_track(2, 2822400, 1));
  PackRun run = make_run(std::move(tracks));
  const StageOutcome o = plan(run);
  ASSERT_TRUE(o.result);
  EXPECT_EQ(*o.result, 1);
  EXPECT_NE(o.io.err.find("256 tracks"), std::string::npos) << o.io.err;
  EXPECT_NE(o.io.err.find("255"), std::string::npos);
  EXPECT_TRUE(o.io.out.empty());
}

TEST(LayoutRefusal, MixedCodingNamesTracksAndFix) {
  {
    PackRun run = make_run({plain_track(2, 2822400, 2), dst_track(2, 2822400, {3000}), plain_track(2, 2822400, 2)});
    const StageOutcome o = plan(run);
    ASSERT_TRUE(o.result);
    EXPECT_EQ(*o.result, 1);
    EXPECT_NE(o.io.err.find("2ch (stereo) area"), std::string::npos) << o.io.err;
    EXPECT_NE(o.io.err.find("DST: track 2 (t2.dff)"), std::string::npos) << o.io.err;
    EXPECT_NE(o.io.err.find("plain DSD: track 1 (t1.dsf), track 3 (t3.dsf)"), std::string::npos);
    EXPECT_NE(o.io.err.find("--dst-stereo"), std::string::npos);
  }
  {
    PackRun run = make_run({dst_track(6, 2822400, {3000}), plain_track(6, 2822400, 2)});
    run.job.no_encode = true;
    const StageOutcome o = plan(run);
    ASSERT_TRUE(o.result);
    EXPECT_NE(o.io.err.find("multichannel area"), std::string::npos) << o.io.err;
    EXPECT_NE(o.io.err.find("drop --no-encode"), std::string::npos) << o.io.err;
  }
}

TEST(LayoutRefusal, MixedRatesAndChannels) {
  {
    PackRun run = make_run({plain_track(2, 2822400, 2), plain_track(2, 5644800, 2)});
    const StageOutcome o = plan(run);
    ASSERT_TRUE(o.result);
    EXPECT_NE(o.io.err.find("mixes sample rates"), std::string::npos) << o.io.err;
    EXPECT_NE(o.io.err.find("track 2 (t2.dsf)"), std::string::npos);
  }
  {
    PackRun run = make_run({plain_track(2, 2822400, 2), plain_track(2, 3072000, 2)});
    const StageOutcome o = plan(run);
    ASSERT_TRUE(o.result);
    EXPECT_NE(o.io.err.find("mixes sample rates"), std::string::npos) << o.io.err;
  }
  {
    PackRun run = make_run({dst_track(6, 2822400, {3000}), dst_track(5, 2822400, {3000})});
    const StageOutcome o = plan(run);
    ASSERT_TRUE(o.result);
    EXPECT_NE(o.io.err.find("mixes channel counts"), std::string::npos) << o.io.err;
  }
}

TEST(LayoutRefusal, RateWithoutCodeAndEmptyTrack) {
  {
    PackRun run = make_run({plain_track(2, 2822400 * 8, 1)});
    const StageOutcome o = plan(run);
    ASSERT_TRUE(o.result);
    EXPECT_NE(o.io.err.find("22579200 Hz"), std::string::npos) << o.io.err;
  }
  {
    InputTrack t = plain_track(2, 2822400, 1);
    t.audio.clear();
    PackRun run = make_run({t});
    const StageOutcome o = plan(run);
    ASSERT_TRUE(o.result);
    EXPECT_NE(o.io.err.find("no audio frames"), std::string::npos) << o.io.err;
  }
}
