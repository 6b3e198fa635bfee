// The packing driver: titles from file names, the track sort, and the CUE
// sheet merged with the options.
#include <gtest/gtest.h>

#include "frontend/stages.h"
#include "frontend/title_from_name.h"
#include "frontend/track_order.h"
#include "support/capture.h"
#include "support/test_support.h"

using namespace varn;
using testsupport::contains;
using testsupport::ScratchDir;

TEST(TitleFromName, DigitsAndSeparatorsAreDropped) {
  const std::pair<const char*, const char*> cases[] = {
      {"/music/03 - Intro.dsf", "Intro"}, {"03.dsf", "03"},         {"03-.dsf", ""},
      {"Song.live.dsf", "Song.live"},     {"12_Coda.dff", "Coda"},   {"7th Heaven.dsf", "7th Heaven"},
      {"a/b/01.__-x.dsf", "x"}};
  for (const auto& [name, title] : cases) EXPECT_EQ(title_from_file_name(name), title) << name;
}

TEST(Sort, ByTrackNumberKeepingIsrcsWithTheirTracks) {
  auto run_of = [](std::vector<uint32_t> numbers) {
    PackRun run;
    for (size_t i = 0; i < numbers.size(); ++i) {
      run.tracks.emplace_back();
      run.tracks.back().track_number = numbers[i];
      run.tracks.back().title = "t" + std::to_string(i);
      run.track_paths.push_back("f" + std::to_string(i) + ".dsf");
    }
    return run;
  };
  PackRun run = run_of({3, 1, 2});
  run.job.album.isrcs = {{0, "USAAA0000003"}, {1, "USAAA0000001"}, {7, "USAAA0000099"}};
  testsupport::capture([&] { sort_by_track_number(run); });
  EXPECT_EQ(run.tracks[0].title + run.tracks[1].title + run.tracks[2].title, "t1t2t0");
  EXPECT_EQ(run.track_paths[2], "f0.dsf");
  EXPECT_EQ(run.job.album.isrcs,
            (std::map<int32_t, std::string>{{0, "USAAA0000001"}, {2, "USAAA0000003"}, {7, "USAAA0000099"}}));
  // A track without a number, or a number carried twice (two discs of a
  // set), keeps the input order.
  for (auto [numbers, order] : {std::pair{std::vector<uint32_t>{3, 0, 2, 1}, "t0t1t2t3"}, {{1, 2, 1, 2}, "t0t1t2t3"}}) {
    PackRun r = run_of(numbers);
    const testsupport::Streams s = testsupport::capture([&] { sort_by_track_number(r); });
    EXPECT_EQ(r.tracks[0].title + r.tracks[1].title + r.tracks[2].title + r.tracks[3].title, order);
    EXPECT_EQ(contains(s.out, "track number 1 is carried by f0.dsf and f2.dsf"), numbers[0] == 1) << s.out;
  }
}

TEST(CueStages, SheetFillsWhatTheOptionsLeave) {
  ScratchDir dir;
  testsupport::write_text(dir.file("a.cue"),
                          "REM GENRE Classical\nREM DATE 1987-05-04\nCATALOG 0724356648324\nPERFORMER \"Sheet Band\"\n"
                          "TITLE \"Sheet Album\"\nSONGWRITER \"Album Writer\"\nFILE \"x.wav\" WAVE\n"
                          "TRACK 01 AUDIO\n  TITLE \"Cue One\"\n  PERFORMER \"Cue Singer\"\n  ISRC us-abc-24-00001\n"
                          "  SONGWRITER \"Track Writer\"\nTRACK 02 AUDIO\n  TITLE \"Cue Two\"\n  ISRC US-AB1-24-0001\n");
  PackRun run;
  run.job.cue_path = dir.file("a.cue");
  run.job.album.title = "Given";
  run.job.album.genre = "Jazz";
  run.job.inputs = {"1.dsf", "2.dsf", "3.dsf"};
  StageResult r;
  const testsupport::Streams s = testsupport::capture([&] { r = stage_cue_import(run); });
  EXPECT_EQ(r, std::nullopt);
  EXPECT_TRUE(contains(s.err, "Warning: CUE has 2 tracks but 3 input files"));
  const Album& al = run.job.album;
  EXPECT_EQ((std::vector<std::string>{al.title, al.genre, al.artist, al.date, al.year, al.catalog, al.composer}),
            (std::vector<std::string>{"Given", "Jazz", "Sheet Band", "1987-05-04", "1987", "0724356648324",
                                      "Album Writer"}));
  InputTrack a, b, tagged, beyond;
  tagged.title = "Tag Title";
  beyond.title = "kept";
  testsupport::capture([&] {
    stage_cue_track_text(run, a, 0, false);
    stage_cue_track_text(run, b, 1, false);
    stage_cue_track_text(run, tagged, 0, true);
    stage_cue_track_text(run, beyond, 2, false);
    for (size_t i = 0; i < 2; ++i) stage_cue_track_isrc(run, a, i);
  });
  EXPECT_EQ(a.title + "/" + a.artist + "/" + a.composer, "Cue One/Cue Singer/Track Writer");
  EXPECT_EQ(b.title + "/" + b.artist, "Cue Two/");
  EXPECT_EQ(tagged.title, "Tag Title");
  EXPECT_EQ(beyond.title, "kept");
  EXPECT_EQ(run.job.album.isrcs, (std::map<int32_t, std::string>{{0, "USABC2400001"}}));

  PackRun missing;
  missing.job.cue_path = dir.file("none.cue");
  testsupport::capture([&] { r = stage_cue_import(missing); });
  EXPECT_EQ(r, std::optional<int>(1));
}
