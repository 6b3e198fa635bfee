// Driver steps that stand on their own: titles from file names, the sort
// with its re-keyed per-track maps, cover extraction.
#include <gtest/gtest.h>

#include "frontend/title_from_name.h"
#include "frontend/track_order.h"
#include "support/test_support.h"

using namespace varn;

TEST(TitleFromName, DigitsAndSeparatorsAreDropped) {
  EXPECT_EQ(title_from_file_name("/music/03 - Intro.dsf"), "Intro");
  EXPECT_EQ(title_from_file_name("03.dsf"), "03");
  EXPECT_EQ(title_from_file_name("03-.dsf"), "");
  EXPECT_EQ(title_from_file_name("Song.live.dsf"), "Song.live");
  EXPECT_EQ(title_from_file_name("12_Coda.dff"), "Coda");
  EXPECT_EQ(title_from_file_name("7th Heaven.dsf"), "7th Heaven");
  EXPECT_EQ(title_from_file_name("a/b/01.__-x.dsf"), "x");
  EXPECT_EQ(base_name("dir/sub/x.dsf"), "x.dsf");
  EXPECT_EQ(base_name("x.dsf"), "x.dsf");
}

namespace {
PackRun run_with_numbers(std::vector<uint32_t> numbers) {
  PackRun run;
  for (size_t i = 0; i < numbers.size(); ++i) {
    InputTrack t;
    t.track_number = numbers[i];
    t.title = "t" + std::to_string(i);
    run.tracks.push_back(t);
    run.track_paths.push_back("f" + std::to_string(i) + ".dsf");
  }
  return run;
}
}  // namespace

TEST(Sort, ByTrackNumberKeepingIsrcsWithTheirTracks) {
  PackRun run = run_with_numbers({3, 1, 2});
  run.job.album.isrcs = {{0, "USAAA0000003"}, {1, "USAAA0000001"}, {7, "USAAA0000099"}};
  testing::internal::CaptureStdout();
  sort_by_track_number(run);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "  [Sort] sorting 3  tracks\n");
  EXPECT_EQ(run.tracks[0].title, "t1");
  EXPECT_EQ(run.tracks[1].title, "t2");
  EXPECT_EQ(run.tracks[2].title, "t0");
  EXPECT_EQ(run.track_paths[2], "f0.dsf");
  std::map<int32_t, std::string> want{{0, "USAAA0000001"}, {2, "USAAA0000003"}, {7, "USAAA0000099"}};
  EXPECT_EQ(run.job.album.isrcs, want);
}

TEST(Sort, StaysInInputOrderWhenATrackHasNoNumber) {
  PackRun run = run_with_numbers({3, 0, 2});
  testing::internal::CaptureStdout();
  sort_by_track_number(run);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(run.tracks[0].title, "t0");
  PackRun equal = run_with_numbers({2, 1, 2});
  testing::internal::CaptureStdout();
  sort_by_track_number(equal);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(equal.tracks[1].title, "t0");  // stable among equal numbers
  EXPECT_EQ(equal.tracks[2].title, "t2");
}

// The picture goes to a private temporary file of its type, never beside
// the image (that name may be a file of the user's), and is gone when the
// run ends; a cover given by option wins.
TEST(Cover, ExtractedToAPrivateTemporaryFile) {
  testsupport::ScratchDir dir;
  std::string extracted;
  {
    PackRun run = run_with_numbers({0});
    run.tracks[0].cover = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 1, 2, 3};
    run.job.output_path = dir.file("disc.v1.iso");
    testsupport::write_text(dir.file("disc.v1_cover.png"), "mine");
    testing::internal::CaptureStdout();
    extract_cover(run);
    const std::string out = testing::internal::GetCapturedStdout();
    extracted = run.job.album.cover_path;
    EXPECT_NE(extracted.find("VarnPack_cover_"), std::string::npos);
    EXPECT_EQ(extracted.substr(extracted.size() - 4), ".png");
    EXPECT_EQ(testsupport::read_file(extracted), run.tracks[0].cover);
    EXPECT_EQ(out, "  [Cover] auto-extracted to " + extracted + " (11 bytes)\n");
    EXPECT_EQ(testsupport::read_text(dir.file("disc.v1_cover.png")), "mine");
  }
  EXPECT_FALSE(testsupport::file_exists(extracted));

  PackRun given = run_with_numbers({0});
  given.tracks[0].cover = {0xFF, 0xD8, 0xFF, 0xE0};
  given.job.album.cover_path = "mine.jpg";
  extract_cover(given);
  EXPECT_EQ(given.job.album.cover_path, "mine.jpg");
}
