// CUE export: the sheet byte for byte and a round trip through the
// importer.
#include <gtest/gtest.h>

#include "metadata/cue_export.h"
#include "metadata/cue_import.h"
#include "support/test_support.h"

using namespace varn;

namespace {

InputTrack track(const std::string& title, const std::string& artist, uint64_t samples, uint32_t rate = 2822400,
                 uint32_t pause = 150) {
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
  EXPECT_EQ(cue_sheet_text(tracks, {75, 11, 1}, album, "album.iso"),
            "REM GENRE \"Jazz\"\r\nREM DATE \"1999\"\r\nPERFORMER \"Band\"\r\nTITLE \"Album\"\r\n"
            "CATALOG 0036000291452\r\nFILE \"album.iso\" WAVE\r\n"
            "  TRACK 01 AUDIO\r\n    PERFORMER \"Band\"\r\n    TITLE \"Opening\"\r\n    INDEX 01 00:00:00\r\n"
            "  TRACK 02 AUDIO\r\n    TITLE \"Second\"\r\n    ISRC USABC2400002\r\n"
            "    INDEX 01 00:03:00\r\n"  // 75 frames of audio and 150 of pause
            "  TRACK 03 AUDIO\r\n    PERFORMER \"Guest\"\r\n"
            "    INDEX 01 00:05:11\r\n");  // 225 + 150 + 11 frames
  EXPECT_EQ(cue_sheet_text({}, {}, Album{}, ""), "FILE \"SACD.iso\" WAVE\r\n");
  album = Album{};
  album.catalog = "CAT-1";
  EXPECT_EQ(cue_sheet_text({}, {}, album, "a.iso"), "CATALOG CAT-1\r\nFILE \"a.iso\" WAVE\r\n");
  EXPECT_EQ(cue_path_for_image("/my.dir/Album.iso"), "/my.dir/Album.cue");
  EXPECT_EQ(cue_path_for_image("/my.dir/noext"), "/my.dir/noext.cue");
}

// Double quotes become single quotes; positions and ISRCs read back.
TEST(CueExport, RoundTripThroughTheImporter) {
  testsupport::ScratchDir dir;
  const std::string path = dir.file("r.cue");
  std::vector<InputTrack> tracks = {track("The \"Live\" Take", "Ann \"A.\" Lee", 100, 2822400, 75)};
  for (int i = 1; i < 12; ++i) tracks.push_back(track(std::to_string(i), "A", 37632ull * 4500 + i, 2822400, 75));
  Album album;
  album.title = "Best \"Of\"", album.artist = "\"Band\"", album.genre = "Rock \"n\" Roll";
  for (int i = 0; i < 12; i += 3) album.isrcs[i] = "GBABC99000" + std::string(1, char('1' + i / 9)) + char('0' + i % 9);
  std::vector<uint64_t> frames(12, 4501);
  frames[0] = 1;
  testsupport::write_text(path, cue_sheet_text(tracks, frames, album, "my \"disc\".iso"));
  Result<CueSheet> read = import_cue_sheet(path);
  ASSERT_TRUE(read.ok());
  const CueSheet& s = read.value;
  ASSERT_EQ(s.tracks.size(), 12u);
  EXPECT_EQ((std::vector<std::string>{s.title, s.performer, s.genre, s.tracks[0].title, s.tracks[0].performer,
                                      s.tracks[0].file_name}),
            (std::vector<std::string>{"Best 'Of'", "'Band'", "Rock 'n' Roll", "The 'Live' Take", "Ann 'A.' Lee",
                                      "my 'disc'.iso"}));
  uint64_t position = 0;
  for (int i = 0; i < 12; ++i) {
    const CueTrack& t = s.tracks[i];
    EXPECT_EQ(t.number, i + 1);
    EXPECT_EQ(t.isrc, i % 3 == 0 ? album.isrcs[i] : "");
    EXPECT_EQ(uint64_t(t.index1[0]) * 4500 + uint64_t(t.index1[1]) * 75 + uint64_t(t.index1[2]), position);
    position += frames[i] + 75;
  }
}
