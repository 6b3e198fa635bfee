// The CUE stages of the packing driver: import and album merge, per-track
// text and ISRC, export beside the image.
#include <gtest/gtest.h>

#include "frontend/stages.h"
#include "metadata/metadata_test_util.h"
#include "support/test_support.h"

using namespace varn;
using metatest::capture;
using metatest::contains;
using testsupport::read_text;
using testsupport::ScratchDir;
using testsupport::write_text;

namespace {

const char* kSheet =
    "PERFORMER \"Sheet Band\"\n"
    "TITLE \"Sheet Album\"\n"
    "FILE \"x.wav\" WAVE\n"
    "TRACK 01 AUDIO\n  TITLE \"Cue One\"\n  PERFORMER \"Cue Singer\"\n  ISRC us-abc-24-00001\n"
    "TRACK 02 AUDIO\n  TITLE \"Cue Two\"\n  ISRC US-AB1-24-0001\n"
    "TRACK 03 AUDIO\n  TITLE \"Cue Three\"\n";

struct CueRun {
  ScratchDir dir;
  PackRun run;
  metatest::Streams import_streams;
  StageResult result;
  explicit CueRun(size_t inputs, const std::string& sheet = kSheet) {
    write_text(dir.file("a.cue"), sheet);
    run.job.cue_path = dir.file("a.cue");
    for (size_t i = 0; i < inputs; ++i) run.job.inputs.push_back(std::to_string(i) + ".dsf");
    import_streams = capture([&] { result = stage_cue_import(run); });
  }
};

}  // namespace

TEST(CueStages, ImportMergesAlbumAndWarnsOnCountMismatch) {
  CueRun c(2);
  EXPECT_EQ(c.result, std::nullopt);
  EXPECT_TRUE(c.run.have_cue);
  EXPECT_EQ(c.run.job.album.title, "Sheet Album");
  EXPECT_EQ(c.run.job.album.artist, "Sheet Band");
  EXPECT_EQ(c.import_streams.out, "");
  EXPECT_EQ(c.import_streams.err,
            "Loaded 3 tracks from CUE: 'Sheet Album'\nWarning: CUE has 3 tracks but 2 input files\n");

  // The first two CUE tracks serve the two inputs.
  InputTrack a, b;
  a.title = "from name";
  stage_cue_track_text(c.run, a, 0, false);
  stage_cue_track_text(c.run, b, 1, false);
  EXPECT_EQ(a.title, "Cue One");
  EXPECT_EQ(a.artist, "Cue Singer");
  EXPECT_EQ(b.title, "Cue Two");
  EXPECT_EQ(b.artist, "");
}

TEST(CueStages, OptionsWinOverTheSheet) {
  ScratchDir dir;
  write_text(dir.file("a.cue"), kSheet);
  PackRun run;
  run.job.cue_path = dir.file("a.cue");
  run.job.album.title = "Given";
  run.job.inputs = {"1.dsf", "2.dsf", "3.dsf"};
  StageResult r;
  auto s = capture([&] { r = stage_cue_import(run); });
  EXPECT_EQ(r, std::nullopt);
  EXPECT_EQ(run.job.album.title, "Given");
  EXPECT_EQ(run.job.album.artist, "Sheet Band");
  EXPECT_EQ(s.err, "Loaded 3 tracks from CUE: 'Sheet Album'\n");
}

TEST(CueStages, EacSheetFillsCatalogGenreDateAndComposers) {
  const std::string sheet =
      "REM GENRE Classical\nREM DATE 1987-05-04\nCATALOG 0724356648324\nSONGWRITER \"Album Writer\"\n"
      "TRACK 01 AUDIO\n  SONGWRITER \"Track Writer\"\nTRACK 02 AUDIO\n";
  CueRun c(2, sheet);
  const PackJob& job = c.run.job;
  EXPECT_EQ(job.album.genre, "Classical");
  EXPECT_EQ(job.album.year, "1987");
  EXPECT_EQ(job.album.date, "1987-05-04");
  EXPECT_EQ(job.album.catalog, "0724356648324");
  EXPECT_EQ(job.album.composer, "Album Writer");
  InputTrack a, b;
  stage_cue_track_text(c.run, a, 0, false);
  stage_cue_track_text(c.run, b, 1, false);
  EXPECT_EQ(a.composer, "Track Writer");
  EXPECT_EQ(b.composer, "");  // the album's composer comes later, from the job

  // Options win; a year alone stays the year.
  ScratchDir dir;
  write_text(dir.file("b.cue"), "REM GENRE Classical\nREM DATE 1987\nCATALOG 0724356648324\n");
  PackRun run;
  run.job.cue_path = dir.file("b.cue");
  run.job.album.genre = "Jazz";
  run.job.album.catalog = "X1";
  capture([&] { stage_cue_import(run); });
  EXPECT_EQ(run.job.album.genre, "Jazz");
  EXPECT_EQ(run.job.album.catalog, "X1");
  EXPECT_EQ(run.job.album.year, "1987");
  EXPECT_EQ(run.job.album.date, "");
}

TEST(CueStages, ImportFailureEndsTheRun) {
  ScratchDir dir;
  PackRun run;
  run.job.cue_path = dir.file("none.cue");
  StageResult r;
  auto s = capture([&] { r = stage_cue_import(run); });
  EXPECT_EQ(r, std::optional<int>(1));
  EXPECT_FALSE(run.have_cue);
  EXPECT_EQ(s.err, "Failed to parse CUE file '" + dir.file("none.cue") + "': Cannot open file: " +
                       dir.file("none.cue") + "\n");

  PackRun none;
  EXPECT_EQ(stage_cue_import(none), std::nullopt);  // no --cue: nothing happens
  EXPECT_FALSE(none.have_cue);
}

TEST(CueStages, TrackTextKeepsTagTitlesAndArtists) {
  CueRun c(3);
  InputTrack tagged;
  tagged.title = "Tag Title";
  tagged.artist = "Tag Artist";
  stage_cue_track_text(c.run, tagged, 0, true);
  EXPECT_EQ(tagged.title, "Tag Title");
  EXPECT_EQ(tagged.artist, "Tag Artist");

  InputTrack beyond;
  beyond.title = "kept";
  stage_cue_track_text(c.run, beyond, 3, false);  // the sheet has no track 4
  EXPECT_EQ(beyond.title, "kept");

  PackRun no_cue;
  InputTrack t;
  t.title = "x";
  stage_cue_track_text(no_cue, t, 0, false);
  EXPECT_EQ(t.title, "x");
}

TEST(CueStages, TrackIsrcFromTheSheet) {
  CueRun c(3);
  InputTrack t;
  auto s = capture([&] {
    stage_cue_track_isrc(c.run, t, 0);
    stage_cue_track_isrc(c.run, t, 1);
    stage_cue_track_isrc(c.run, t, 2);
  });
  EXPECT_EQ(c.run.job.album.isrcs.size(), 1u);
  EXPECT_EQ(c.run.job.album.isrcs[0], "USABC2400001");
  EXPECT_EQ(s.out, "  [CUE] track 1 ISRC: USABC2400001\n");
  EXPECT_EQ(s.err,
            "  [ISRC] CUE track 2: 'US-AB1-24-0001' is not a valid ISRC (expected CC-OOO-YY-DDDDD, 12 chars), "
            "ignored\n");

  // An ISRC from the options is not replaced.
  CueRun d(3);
  d.run.job.album.isrcs[0] = "GBXYZ0100001";
  s = capture([&] { stage_cue_track_isrc(d.run, t, 0); });
  EXPECT_EQ(d.run.job.album.isrcs[0], "GBXYZ0100001");
  EXPECT_EQ(s.out, "");
}

TEST(CueStages, ExportBesideTheImage) {
  ScratchDir dir;
  PackRun run;
  run.job.album.title = "Album";
  run.job.album.artist = "Band";
  run.job.album.year = "2024";
  run.job.album.catalog = "CAT-1";
  run.job.album.barcode = "0036000291452";
  InputTrack t;
  t.title = "One";
  t.sample_count = 2822400;
  run.tracks = {t, t};
  run.layout.output_path = dir.file("Album.iso");
  run.job.album.isrcs = {{1, "USABC2400001"}};
  const auto export_now = [&] {
    OutputSet out;
    std::string report;
    if (stage_cue_export(run, out, report) && commit_outputs(out)) std::fputs(report.c_str(), stdout);
  };
  auto s = capture(export_now);
  EXPECT_EQ(s.out, "  [CUE] " + dir.file("Album.cue") + "\n");
  EXPECT_EQ(read_text(dir.file("Album.cue")),
            "REM DATE \"2024\"\r\nPERFORMER \"Band\"\r\nTITLE \"Album\"\r\nCATALOG 0036000291452\r\n"
            "FILE \"Album.iso\" WAVE\r\n"
            "  TRACK 01 AUDIO\r\n    TITLE \"One\"\r\n    INDEX 01 00:00:00\r\n"
            "  TRACK 02 AUDIO\r\n    TITLE \"One\"\r\n    ISRC USABC2400001\r\n    INDEX 01 00:03:00\r\n");

  // A sheet that cannot be written is reported, not announced.
  run.layout.output_path = dir.file("no/such/dir/Album.iso");
  s = capture(export_now);
  EXPECT_EQ(s.out, "");
  EXPECT_TRUE(contains(s.err, "Error: cannot create a file beside " + dir.file("no/such/dir/Album.cue")));
}
