// CUE sheets: import (byte decoding: UTF-8, byte order mark, code page 936;
// the line parser, with the sheets rippers write and damaged ones) and
// export (the sheet byte for byte, and a round trip through the importer).
#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "metadata/cue_export.h"
#include "metadata/cue_import.h"
#include "platform/platform.h"
#include "support/test_support.h"

using namespace varn;
using testsupport::ScratchDir;
using Texts = std::vector<std::string>;

namespace {

CueSheet parse(const std::string& text) {
  CueSheet s;
  parse_cue_text(text, s);
  return s;
}

CueSheet import_bytes(const std::string& bytes) {
  ScratchDir dir;
  testsupport::write_text(dir.file("album.cue"), bytes);
  Result<CueSheet> s = import_cue_sheet(dir.file("album.cue"));
  EXPECT_TRUE(s.ok()) << s.error->text;
  return s.value;
}

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

TEST(CueDecode, Utf8Rule) {
  EXPECT_TRUE(cue_text_is_utf8("plain \xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x8E\xB5"));
  for (const char* bad : {"\xC0\x80", "\xC1\xBF", "\xF5\x80\x80\x80", "a\x80", "\xE4\xB8", "\xE4" "A\xAD"})
    EXPECT_FALSE(cue_text_is_utf8(bad)) << bad;
}

TEST(CueDecode, GbkSheetIsConvertedAndBomMeansUtf8) {
  const std::string utf8 = "PERFORMER \"\xE7\x8E\x8B\xE8\x8F\xB2\"\r\nFILE \"\xE5\x94\xB1.wav\" WAVE\r\n"
                           "  TRACK 01 AUDIO\r\n    TITLE \"\xE7\xBA\xA2\xE8\xB1\x86\"\r\n";
  std::string gbk;
  ASSERT_TRUE(platform_convert(utf8, "UTF-8", "CP936", gbk));
  CueSheet s = import_bytes(gbk);
  EXPECT_TRUE(s.converted);
  ASSERT_EQ(s.tracks.size(), 1u);
  EXPECT_EQ((Texts{s.performer, s.tracks[0].title, s.tracks[0].file_name}),
            (Texts{"\xE7\x8E\x8B\xE8\x8F\xB2", "\xE7\xBA\xA2\xE8\xB1\x86", "\xE5\x94\xB1.wav"}));
  // A stray byte that is no GBK keeps the other lines.
  s = import_bytes(gbk + "TITLE \"\xFF\xFF\"\nTRACK 2 AUDIO\n");
  EXPECT_EQ(s.performer, "\xE7\x8E\x8B\xE8\x8F\xB2");
  EXPECT_EQ(s.tracks.size(), 2u);
  // After a byte order mark the bytes are kept as they are.
  s = import_bytes("\xEF\xBB\xBFTITLE \"\xB3\xAA\"\r\n");
  EXPECT_FALSE(s.converted);
  EXPECT_EQ(s.title, "\xB3\xAA");
  // 16-bit units after their byte-order mark, either byte order.
  for (bool little : {true, false}) {
    std::string wide = little ? "\xFF\xFE" : "\xFE\xFF";
    std::u16string text = u"TITLE \"\u7EA2\U0001F3B5\"\r\n  TRACK 01 AUDIO\r\n";
    for (char16_t c : text) {
      const char lo = char(c & 0xFF), hi = char(c >> 8);
      wide += little ? std::string{lo, hi} : std::string{hi, lo};
    }
    s = import_bytes(wide);
    EXPECT_EQ(s.title, "\xE7\xBA\xA2\xF0\x9F\x8E\xB5");
    EXPECT_EQ(s.tracks.size(), 1u);
  }
}

// A sheet of exactly the size limit is read (larger ones, FIFOs and devices
// are refused in the robustness suite).
TEST(CueImport, SheetAtTheSizeLimitIsRead) {
  const CueSheet s = import_bytes("TITLE \"X\"" + std::string(1048576 - 9, ' '));
  EXPECT_EQ(s.title, "X");
}

// An EAC-style sheet: keywords in any case, values quoted or not, REM
// lines, FILE blocks, INDEX 00 and 01, lines that are ignored.
TEST(CueParse, SheetAsRippersWriteIt) {
  CueSheet s = parse("REM GENRE \"Jazz Rock\"\nrem date 1999\nREM COMMENT \"ExactAudioCopy v1.0\"\n"
                     "CATALOG 0123456789012\nperformer Band\nSONGWRITER \"Writer\"\n; a comment\n"
                     "FILE \"disc one.wav\" WAVE\nISRC USABC2400009\n"
                     "track 01 audio\n  title \"  spaced  \"  \t\n  Performer \"Singer\"\n"
                     "  FLAGS DCP\n  songwriter Track Writer\n  INDEX 00 00:01:10\n  index 01 00:03\n"
                     "TRACK xx AUDIO\n  TITLE lost\nTRACK 03 MODE1/2352\nFILE two.bin BINARY\n"
                     "TITLE \"Open ended\nTRACK 2 AUDIO\n  isrc USABC2400001\n  INDEX 01 bad\n");
  // The title comes after FILE, where the track block is closed.
  EXPECT_EQ((Texts{s.genre, s.date, s.comment, s.catalog, s.performer, s.songwriter, s.title}),
            (Texts{"Jazz Rock", "1999", "ExactAudioCopy v1.0", "0123456789012", "Band", "Writer", "Open ended"}));
  ASSERT_EQ(s.tracks.size(), 3u);  // the bad number is dropped, the order kept
  const CueTrack& a = s.tracks[0];
  EXPECT_EQ(a.number, 1);
  // The ISRC outside a track is ignored.
  EXPECT_EQ((Texts{a.title, a.performer, a.songwriter, a.isrc, a.file_name, a.file_type}),
            (Texts{"  spaced  ", "Singer", "Track Writer", "", "disc one.wav", "WAVE"}));
  EXPECT_TRUE(a.audio && a.has_index0);
  EXPECT_EQ((std::vector<int32_t>{a.index0[0], a.index0[1], a.index0[2], a.index1[0], a.index1[1], a.index1[2]}),
            (std::vector<int32_t>{0, 1, 10, 0, 3, 0}));
  EXPECT_TRUE(s.tracks[1].number == 3 && !s.tracks[1].audio);
  EXPECT_EQ((Texts{s.tracks[2].file_name, s.tracks[2].isrc}), (Texts{"two.bin", "USABC2400001"}));
  EXPECT_TRUE(s.tracks[2].number == 2 && s.tracks[2].index1[1] == 0);
  EXPECT_EQ(parse("TITLE \"A\" extra").title, "A");
  EXPECT_EQ(parse("REM DATE 1999\nREM DATE").date, "");
}

TEST(CueParse, DamagedSheetsNeverCrash) {
  const std::string sheet =
      "\xEF\xBB\xBFREM GENRE \"x\"\nTITLE \"A\"\nFILE \"a.wav\" WAVE\nTRACK 01 AUDIO\n  TITLE \"T\"\n"
      "  INDEX 00 00:00:00\n  INDEX 01 00:02:00\nTRACK 02 AUDIO\n  ISRC X\n  INDEX 01 03:00:00\n";
  std::mt19937 gen(11);
  for (size_t cut = 0; cut <= sheet.size(); ++cut) {
    bool converted = false;
    EXPECT_LE(parse(decode_cue_bytes(sheet.substr(0, cut), converted)).tracks.size(), 2u);
  }
  for (int round = 0; round < 500; ++round) {
    std::string m = sheet;
    for (int k = 0; k < 8; ++k) m[gen() % m.size()] = static_cast<char>(gen());
    bool converted = false;
    for (const CueTrack& t : parse(decode_cue_bytes(m, converted)).tracks) EXPECT_GE(t.number, 1);
  }
  CueSheet big = parse("TRACK 99999999999999999999 AUDIO\nINDEX 01 99999999999:-5:+7\n");
  ASSERT_EQ(big.tracks.size(), 1u);
  EXPECT_EQ(big.tracks[0].number, INT32_MAX);
  EXPECT_EQ(big.tracks[0].index1[0], INT32_MAX);
}

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
  std::vector<InputTrack> tracks = {track("The \"Live\" Take", "Ann \"A.\" Lee", 100, 2822400, 75)};
  for (int i = 1; i < 12; ++i) tracks.push_back(track(std::to_string(i), "A", 37632ull * 4500 + i, 2822400, 75));
  Album album;
  album.title = "Best \"Of\"", album.artist = "\"Band\"", album.genre = "Rock \"n\" Roll";
  for (int i = 0; i < 12; i += 3) album.isrcs[i] = "GBABC99000" + std::string(1, char('1' + i / 9)) + char('0' + i % 9);
  std::vector<uint64_t> frames(12, 4501);
  frames[0] = 1;
  const CueSheet s = import_bytes(cue_sheet_text(tracks, frames, album, "my \"disc\".iso"));
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
