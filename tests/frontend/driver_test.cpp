// The packing driver: titles from file names, the track sort, the CUE
// sheet merged with the options, the host's stop request and the DSD Disc
// mode through the console program.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "frontend/driver.h"
#include "frontend/host.h"
#include "frontend/stages.h"
#include "frontend/title_from_name.h"
#include "frontend/track_order.h"
#include "support/capture.h"
#include "support/test_support.h"

using namespace varn;
using testsupport::contains;
using testsupport::file_exists;
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
  // A track without a number keeps the input order; equal numbers stay stable.
  for (auto [numbers, order] : {std::pair{std::vector<uint32_t>{3, 0, 2}, "t0t1t2"}, {{2, 1, 2}, "t1t0t2"}}) {
    PackRun r = run_of(numbers);
    testsupport::capture([&] { sort_by_track_number(r); });
    EXPECT_EQ(r.tracks[0].title + r.tracks[1].title + r.tracks[2].title, order);
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
  EXPECT_EQ(run.job.album.title, "Given");
  EXPECT_EQ(run.job.album.genre, "Jazz");
  EXPECT_EQ(run.job.album.artist, "Sheet Band");
  EXPECT_EQ(run.job.album.date, "1987-05-04");
  EXPECT_EQ(run.job.album.year, "1987");
  EXPECT_EQ(run.job.album.catalog, "0724356648324");
  EXPECT_EQ(run.job.album.composer, "Album Writer");
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

namespace {
int32_t read_stop(uint64_t, char* buffer, int32_t) {
  static std::atomic<int> calls{0};
  if (calls++ > 0) return 0;
  std::memcpy(buffer, "stop\r\n", 6);
  return 6;
}
}  // namespace

// A stop from the host's control channel ends the run before the next
// input, with its own exit code and no image.
TEST(DriverRun, StopRequestEndsTheRun) {
  ScratchDir dir;
  ASSERT_TRUE(testsupport::dsdgen({"--seconds", "0.2", dir.file("a.dsf")}));
  take_host_stop_request();
  std::string fn = std::to_string(reinterpret_cast<uintptr_t>(&read_stop));
  std::vector<std::string> first = {"vt", "-inproc-ctl", "3", "-inproc-ctl-fn", fn, "--help"};
  std::vector<char*> argv;
  for (std::string& a : first) argv.push_back(a.data());
  testsupport::capture([&] { EXPECT_EQ(run_entry_point(int(argv.size()), argv.data()), 0); });
  for (int i = 0; i < 2000 && !host_stop_requested(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(host_stop_requested());
  std::vector<std::string> second = {"vt", "-o", dir.file("x.iso"), dir.file("a.dsf")};
  argv.clear();
  for (std::string& a : second) argv.push_back(a.data());
  int rc = 0;
  const testsupport::Streams s = testsupport::capture([&] { rc = run_entry_point(int(argv.size()), argv.data()); });
  EXPECT_EQ(rc, -61);
  EXPECT_TRUE(contains(s.err, "packing aborted after 0 complete track(s)")) << s.err;
  EXPECT_FALSE(host_stop_requested());
  EXPECT_FALSE(file_exists(dir.file("x.iso")));
}

TEST(DsdDiscMode, ConsoleProgram) {
  ScratchDir dir;
  std::vector<std::string> args = {"--dsd-disc", "--track-album=2:Live", "--title=Live"};
  for (const char* n : {"a.dsf", "b.dsf", "c.dsf"}) {
    ASSERT_TRUE(testsupport::dsdgen({"--seconds", "0.3", "--title", n, dir.file(n)}));
    args.push_back(n);
  }
  std::string line = "cd '" + dir.path + "' && '" + VARN_TEST_VARNTESSEL + "'";
  for (const std::string& a : args) line += " '" + a + "'";
  testsupport::RunResult r = testsupport::run_shell(line);  // no -o: dsd_disc.iso here
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_TRUE(contains(r.out, "Varn DSD Disc created: dsd_disc.iso\n")) << r.out;
  // A refused job exits with 1 and leaves no image.
  for (const std::string& bad : {std::string("--track-album=2:.."), std::string("missing.dsf")}) {
    std::remove(dir.file("dsd_disc.iso").c_str());
    r = testsupport::run_shell(line + " '" + bad + "'");
    EXPECT_EQ(r.exit_code, 1) << bad;
    EXPECT_FALSE(file_exists(dir.file("dsd_disc.iso"))) << bad;
  }
}
