// CUE export: the sheet byte for byte, its positions, quoting, names, and a
// round trip through the importer.
#include <gtest/gtest.h>

#include "metadata/cue_export.h"
#include "metadata/cue_import.h"
#include "support/test_support.h"

using namespace varn;
using testsupport::ScratchDir;

namespace {

InputTrack track(const std::string& title, const std::string& artist, uint64_t samples,
                 uint32_t rate = 2822400, uint32_t pause = 150) {
  InputTrack t;
  t.channels = 2;
  t.title = title;
  t.artist = artist;
  t.sample_count = samples;
  t.sample_rate = rate;
  t.rate_multiple = rate / base_rate_of(rate);
  t.pause_frames = pause;
  return t;
}

}  // namespace

TEST(CueExport, SheetByteForByte) {
  std::vector<InputTrack> tracks = {track("Opening", "Band", 2822400), track("Second", "", 37632 * 10 + 1),
                                    track("", "Guest", 100)};
  Album album;
  album.title = "Album", album.artist = "Band", album.genre = "Jazz", album.year = "1999";
  album.catalog = "CAT-1", album.barcode = "0036000291452";  // the barcode is what CATALOG holds
  album.isrcs = {{1, "USABC2400002"}, {2, ""}};
  EXPECT_EQ(cue_sheet_text(tracks, album, "album.iso"),
            "REM GENRE \"Jazz\"\r\n"
            "REM DATE \"1999\"\r\n"
            "PERFORMER \"Band\"\r\n"
            "TITLE \"Album\"\r\n"
            "CATALOG 0036000291452\r\n"
            "FILE \"album.iso\" WAVE\r\n"
            "  TRACK 01 AUDIO\r\n"
            "    PERFORMER \"Band\"\r\n"
            "    TITLE \"Opening\"\r\n"
            "    INDEX 01 00:00:00\r\n"
            "  TRACK 02 AUDIO\r\n"
            "    TITLE \"Second\"\r\n"
            "    ISRC USABC2400002\r\n"
            "    INDEX 01 00:03:00\r\n"  // 75 frames of audio and 150 of pause
            "  TRACK 03 AUDIO\r\n"
            "    PERFORMER \"Guest\"\r\n"
            "    INDEX 01 00:05:11\r\n");  // 225 + 150 + 11 frames
}

TEST(CueExport, EmptyAlbumAndNoTracks) {
  EXPECT_EQ(cue_sheet_text({}, Album{}, ""), "FILE \"SACD.iso\" WAVE\r\n");
  Album album;
  album.catalog = "CAT-1";
  EXPECT_EQ(cue_sheet_text({}, album, "a.iso"), "CATALOG CAT-1\r\nFILE \"a.iso\" WAVE\r\n");
}

TEST(CueExport, DoubleQuotesBecomeSingleQuotesAndTheSheetReadsBack) {
  ScratchDir dir;
  const std::string path = dir.file("q.cue");
  std::vector<InputTrack> tracks = {track("The \"Live\" Take", "Ann \"A.\" Lee", 100)};
  Album album;
  album.title = "Best \"Of\"", album.artist = "\"Band\"", album.genre = "Rock \"n\" Roll";
  testsupport::write_text(path, cue_sheet_text(tracks, album, "my \"disc\".iso"));
  CueSheet s;
  std::string error;
  ASSERT_TRUE(import_cue_sheet(path, s, error));
  EXPECT_EQ(s.title, "Best 'Of'");
  EXPECT_EQ(s.performer, "'Band'");
  EXPECT_EQ(s.genre, "Rock 'n' Roll");
  ASSERT_EQ(s.tracks.size(), 1u);
  EXPECT_EQ(s.tracks[0].title, "The 'Live' Take");
  EXPECT_EQ(s.tracks[0].performer, "Ann 'A.' Lee");
  EXPECT_EQ(s.tracks[0].file_name, "my 'disc'.iso");
  EXPECT_FALSE(s.converted);
  // Everything else is kept as it is.
  EXPECT_EQ(cue_quoted_value("\xE4\xB8\xAD 'a' \\ b"), "\xE4\xB8\xAD 'a' \\ b");
}

TEST(CueExport, RoundTripOfPositionsAndIsrcs) {
  ScratchDir dir;
  const std::string path = dir.file("r.cue");
  std::vector<InputTrack> tracks;
  for (int i = 0; i < 12; ++i) tracks.push_back(track("T" + std::to_string(i), "A", 37632ull * 4500 + i, 2822400, 75));
  Album album;
  album.title = "Al", album.artist = "Ar";
  for (int i = 0; i < 12; i += 3) album.isrcs[i] = "GBABC99000" + std::to_string(10 + i);
  testsupport::write_text(path, cue_sheet_text(tracks, album, "r.iso"));
  CueSheet s;
  std::string error;
  ASSERT_TRUE(import_cue_sheet(path, s, error));
  ASSERT_EQ(s.tracks.size(), 12u);
  uint64_t position = 0;
  for (int i = 0; i < 12; ++i) {
    const CueTrack& t = s.tracks[i];
    EXPECT_EQ(t.number, i + 1);
    EXPECT_EQ(t.title, "T" + std::to_string(i));
    EXPECT_EQ(t.isrc, i % 3 == 0 ? "GBABC99000" + std::to_string(10 + i) : "");
    EXPECT_EQ(uint64_t(t.index1[0]) * 4500 + uint64_t(t.index1[1]) * 75 + uint64_t(t.index1[2]), position);
    position += 75 + 4500 + (i > 0 ? 1 : 0);  // i extra samples add one frame when i > 0
  }
}

TEST(CueExport, FrameCountsPerRateFamily) {
  EXPECT_EQ(cue_track_frames(track("", "", 2822400)), 75u);
  EXPECT_EQ(cue_track_frames(track("", "", 2822401)), 76u);
  EXPECT_EQ(cue_track_frames(track("", "", 5644800, 5644800)), 75u);   // DSD128
  EXPECT_EQ(cue_track_frames(track("", "", 3072000, 3072000)), 75u);   // 48 kHz family DSD64
  EXPECT_EQ(cue_track_frames(track("", "", 0)), 0u);
  EXPECT_EQ(cue_track_frames(track("", "", 1000, 0)), 0u);      // no frame size: no crash
  EXPECT_EQ(cue_track_frames(track("", "", 1000, 22050)), 0u);
}

TEST(CueExport, NamesBesideTheImage) {
  EXPECT_EQ(cue_path_for_image("/out/Album.iso"), "/out/Album.cue");
  EXPECT_EQ(cue_path_for_image("a.b.iso"), "a.b.cue");
  EXPECT_EQ(cue_path_for_image("noext"), "noext.cue");
  EXPECT_EQ(cue_path_for_image("/my.dir/noext"), "/my.dir/noext.cue");
  EXPECT_EQ(cue_image_file_name("/out/Album.iso"), "Album.iso");
  EXPECT_EQ(cue_image_file_name("Album.iso"), "Album.iso");
  EXPECT_EQ(cue_image_file_name("C:\\x\\Album.iso"), "C:\\x\\Album.iso");
}
