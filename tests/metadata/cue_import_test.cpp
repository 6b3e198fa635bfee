// CUE import: byte decoding and the line parser.
#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "metadata/cue_import.h"
#include "platform/platform.h"
#include "support/test_support.h"

using namespace varn;
using testsupport::ScratchDir;

namespace {

CueSheet parse(const std::string& text) {
  CueSheet s;
  parse_cue_text(text, s);
  return s;
}

CueSheet import_bytes(const std::string& bytes, bool expect_ok = true) {
  ScratchDir dir;
  const std::string path = dir.file("album.cue");
  testsupport::write_text(path, bytes);
  CueSheet s;
  std::string error;
  EXPECT_EQ(import_cue_sheet(path, s, error), expect_ok) << error;
  return s;
}

}  // namespace

TEST(CueDecode, Utf8Rule) {
  EXPECT_TRUE(cue_text_is_utf8(""));
  EXPECT_TRUE(cue_text_is_utf8("plain \xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x8E\xB5"));
  EXPECT_FALSE(cue_text_is_utf8("\xC0\x80"));        // C0 lead
  EXPECT_FALSE(cue_text_is_utf8("\xC1\xBF"));        // C1 lead
  EXPECT_FALSE(cue_text_is_utf8("\xF5\x80\x80\x80"));
  EXPECT_FALSE(cue_text_is_utf8("a\x80"));           // stray continuation
  EXPECT_FALSE(cue_text_is_utf8("\xE4\xB8"));        // cut short by the end
  EXPECT_FALSE(cue_text_is_utf8("\xE4" "A\xAD"));    // continuation expected
}

TEST(CueDecode, GbkSheetIsConvertedToUtf8) {
  const std::string utf8 =
      "PERFORMER \"\xE7\x8E\x8B\xE8\x8F\xB2\"\r\n"                                  // 王菲
      "TITLE \"\xE5\x94\xB1\xE6\xB8\xB8\"\r\n"                                      // 唱游
      "FILE \"\xE5\x94\xB1\xE6\xB8\xB8.wav\" WAVE\r\n"
      "  TRACK 01 AUDIO\r\n"
      "    TITLE \"\xE7\xBA\xA2\xE8\xB1\x86\"\r\n"                                  // 红豆
      "    INDEX 01 00:00:00\r\n";
  std::string gbk;
  ASSERT_TRUE(platform_convert(utf8, "UTF-8", "CP936", gbk));
  ASSERT_FALSE(cue_text_is_utf8(gbk));
  CueSheet s = import_bytes(gbk);
  EXPECT_TRUE(s.converted);
  EXPECT_EQ(s.performer, "\xE7\x8E\x8B\xE8\x8F\xB2");
  EXPECT_EQ(s.title, "\xE5\x94\xB1\xE6\xB8\xB8");
  ASSERT_EQ(s.tracks.size(), 1u);
  EXPECT_EQ(s.tracks[0].title, "\xE7\xBA\xA2\xE8\xB1\x86");
  EXPECT_EQ(s.tracks[0].file_name, "\xE5\x94\xB1\xE6\xB8\xB8.wav");
  EXPECT_EQ(s.tracks[0].file_type, "WAVE");
}

TEST(CueDecode, GbkSheetWithAStrayByteKeepsItsOtherLines) {
  std::string gbk;
  ASSERT_TRUE(platform_convert("TITLE \"\xE5\x94\xB1\xE6\xB8\xB8\"\n", "UTF-8", "CP936", gbk));
  gbk += "PERFORMER \"\xFF\xFF\"\nTRACK 1 AUDIO\n";
  CueSheet s = import_bytes(gbk);
  EXPECT_TRUE(s.converted);
  EXPECT_EQ(s.title, "\xE5\x94\xB1\xE6\xB8\xB8");
  EXPECT_EQ(s.performer, "\xFF\xFF");
  EXPECT_EQ(s.tracks.size(), 1u);
}

TEST(CueDecode, ByteOrderMarkMeansUtf8WithoutChecking) {
  CueSheet s = import_bytes("\xEF\xBB\xBFTITLE \"\xB3\xAA\"\r\nTRACK 01 AUDIO\r\n  TITLE \"x\xC3\xA9\"\r\n");
  EXPECT_FALSE(s.converted);
  EXPECT_EQ(s.title, "\xB3\xAA");  // kept as the bytes were
  ASSERT_EQ(s.tracks.size(), 1u);
  EXPECT_EQ(s.tracks[0].title, "x\xC3\xA9");

  bool converted = true;
  EXPECT_EQ(decode_cue_bytes("a\r\nb\rc", converted), "a\nbc");
  EXPECT_FALSE(converted);
}

TEST(CueImport, MissingFileFailsWithItsMessage) {
  ScratchDir dir;
  CueSheet s;
  std::string error;
  EXPECT_FALSE(import_cue_sheet(dir.file("none.cue"), s, error));
  EXPECT_EQ(error, "Cannot open file: " + dir.file("none.cue"));
  // Only regular files of at most 1 MiB are read.
  testsupport::write_text(dir.file("big.cue"), std::string(1048577, ' '));
  testsupport::run_shell("mkfifo '" + dir.file("fifo.cue") + "'");
  const std::pair<std::string, std::string> refused[] = {
      {dir.path, "a directory, not a file"},
      {"/dev/zero", "not a regular file"},
      {dir.file("fifo.cue"), "not a regular file"},
      {dir.file("big.cue"), "1048577 bytes, more than the limit of 1048576 bytes"}};
  for (const auto& [path, why] : refused) {
    EXPECT_FALSE(import_cue_sheet(path, s, error));
    EXPECT_EQ(error, "Cannot use file: " + path + ": " + why);
  }
  testsupport::write_text(dir.file("max.cue"), "TITLE \"X\"" + std::string(1048576 - 9, ' '));
  EXPECT_TRUE(import_cue_sheet(dir.file("max.cue"), s, error));
  EXPECT_EQ(s.title, "X");
  // An empty file is a sheet without tracks.
  CueSheet empty = import_bytes("");
  EXPECT_TRUE(empty.tracks.empty());
  EXPECT_FALSE(empty.converted);
}

TEST(CueParse, KeywordsAreCaseInsensitive) {
  CueSheet s = parse("title \"Album\"\nperformer Band\nfile \"a.wav\" wave\ntrack 01 audio\n  title \"One\"\n"
                     "  Performer \"Singer\"\n  isrc USABC2400001\n  index 01 01:02:03\n");
  EXPECT_EQ(s.title, "Album");
  EXPECT_EQ(s.performer, "Band");
  ASSERT_EQ(s.tracks.size(), 1u);
  const CueTrack& t = s.tracks[0];
  EXPECT_EQ(t.number, 1);
  EXPECT_EQ(t.title, "One");
  EXPECT_EQ(t.performer, "Singer");
  EXPECT_EQ(t.isrc, "USABC2400001");
  EXPECT_TRUE(t.audio);
  EXPECT_EQ(t.file_name, "a.wav");
  EXPECT_EQ(t.file_type, "WAVE");
  EXPECT_EQ(t.index1[0], 1);
  EXPECT_EQ(t.index1[1], 2);
  EXPECT_EQ(t.index1[2], 3);
}

TEST(CueParse, ValueQuotingRules) {
  EXPECT_EQ(parse("TITLE Album Name").title, "Album Name");
  EXPECT_EQ(parse("TITLE \"A\" extra").title, "A");
  EXPECT_EQ(parse("TITLE \"Open ended").title, "Open ended");
  EXPECT_EQ(parse("TITLE \t  \"  spaced  \"  \t").title, "  spaced  ");
  EXPECT_EQ(parse("TITLE").title, "");
  EXPECT_EQ(parse("TITLE    ").title, "");
  EXPECT_EQ(parse("TITLE \"\"").title, "");
  EXPECT_EQ(parse("   TITLE x   \r").title, "x");
  EXPECT_EQ(parse("TITLE\t\"Tabbed\"").title, "Tabbed");
}

TEST(CueParse, TracksKeptInFileOrderAndBadNumbersDropped) {
  CueSheet s = parse("TRACK 01 AUDIO\nTRACK xx AUDIO\n  TITLE lost\nTRACK 03 MODE1/2352\nTRACK 2\nTRACK\n"
                     "TRACK -4 AUDIO\n");
  ASSERT_EQ(s.tracks.size(), 3u);
  EXPECT_EQ(s.tracks[0].number, 1);
  EXPECT_EQ(s.tracks[0].index1[0], 0);  // no INDEX: 0:0:0
  EXPECT_EQ(s.tracks[0].index1[1], 0);
  EXPECT_EQ(s.tracks[0].index1[2], 0);
  EXPECT_EQ(s.tracks[1].number, 3);
  EXPECT_FALSE(s.tracks[1].audio);
  EXPECT_EQ(s.tracks[2].number, 2);  // not reordered
  EXPECT_TRUE(s.tracks[2].audio);
  for (const CueTrack& t : s.tracks) EXPECT_NE(t.title, "lost");
}

TEST(CueParse, RemLinesAndCatalog) {
  CueSheet s = parse("REM GENRE \"Jazz Rock\"\nREM DATE 1999\nREM COMMENT \"ExactAudioCopy v1.0\"\n"
                     "CATALOG 0123456789012\nTRACK 01 AUDIO\n  REM CATALOG 999\n  REM DISCID ABCD\n");
  EXPECT_EQ(s.genre, "Jazz Rock");
  EXPECT_EQ(s.date, "1999");
  EXPECT_EQ(s.comment, "ExactAudioCopy v1.0");
  EXPECT_EQ(s.catalog, "999");  // the last one read, even inside a track
  EXPECT_EQ(parse("REM DATE 1999\nREM DATE").date, "");
  EXPECT_EQ(parse("rem date 2001").date, "2001");
  EXPECT_EQ(parse("REM").genre, "");
  const CueSheet w = parse("SONGWRITER \"Album Writer\"\nTRACK 01 AUDIO\n  songwriter Track Writer\n");
  EXPECT_EQ(w.songwriter, "Album Writer");
  EXPECT_EQ(w.tracks.at(0).songwriter, "Track Writer");
}

TEST(CueParse, FileLinesIndexesAndIgnoredLines) {
  CueSheet s = parse("; a comment\n// another\nFILE \"disc one.wav\" WAVE\nISRC USABC2400009\n"
                     "TRACK 01 AUDIO\n  FLAGS DCP\n  PREGAP 00:02:00\n  SONGWRITER x\n  INDEX 00 00:01:10\n"
                     "  INDEX 01 00:03\n  INDEX 02 09:09:09\nFILE two.bin BINARY\nTITLE Album after file\n"
                     "INDEX 01 05:05:05\nTRACK 02 AUDIO\n  INDEX 01 bad\n  INDEX\n");
  ASSERT_EQ(s.tracks.size(), 2u);
  const CueTrack& a = s.tracks[0];
  EXPECT_EQ(a.isrc, "");  // ISRC outside a track is ignored
  EXPECT_EQ(a.file_name, "disc one.wav");
  EXPECT_TRUE(a.has_index0);
  EXPECT_EQ(a.index0[0], 0);
  EXPECT_EQ(a.index0[1], 1);
  EXPECT_EQ(a.index0[2], 10);
  EXPECT_EQ(a.index1[0], 0);  // two fields read, the third is 0
  EXPECT_EQ(a.index1[1], 3);
  EXPECT_EQ(a.index1[2], 0);
  EXPECT_EQ(s.title, "Album after file");  // after FILE the block is closed
  const CueTrack& b = s.tracks[1];
  EXPECT_EQ(b.file_name, "two.bin");
  EXPECT_EQ(b.file_type, "BINARY");
  EXPECT_FALSE(b.has_index0);
  EXPECT_EQ(b.index1[0], 0);
  EXPECT_EQ(b.index1[1], 0);
}

TEST(CueParse, DamagedSheetsNeverCrash) {
  const std::string sheet =
      "\xEF\xBB\xBFREM GENRE \"x\"\nTITLE \"A\"\nFILE \"a.wav\" WAVE\nTRACK 01 AUDIO\n  TITLE \"T\"\n"
      "  INDEX 00 00:00:00\n  INDEX 01 00:02:00\nTRACK 02 AUDIO\n  ISRC X\n  INDEX 01 03:00:00\n";
  std::mt19937 gen(11);
  for (size_t cut = 0; cut <= sheet.size(); ++cut) {
    bool converted = false;
    CueSheet s;
    parse_cue_text(decode_cue_bytes(sheet.substr(0, cut), converted), s);
    EXPECT_LE(s.tracks.size(), 2u);
  }
  for (int round = 0; round < 500; ++round) {
    std::string m = sheet;
    for (int k = 0; k < 8; ++k) m[std::uniform_int_distribution<size_t>(0, m.size() - 1)(gen)] = static_cast<char>(gen());
    bool converted = false;
    CueSheet s;
    parse_cue_text(decode_cue_bytes(m, converted), s);
    for (const CueTrack& t : s.tracks) EXPECT_GE(t.number, 1);
  }
  CueSheet big;
  parse_cue_text("TRACK 99999999999999999999 AUDIO\nINDEX 01 99999999999:-5:+7\n", big);
  ASSERT_EQ(big.tracks.size(), 1u);
  EXPECT_EQ(big.tracks[0].number, INT32_MAX);
  EXPECT_EQ(big.tracks[0].index1[0], INT32_MAX);
  EXPECT_EQ(big.tracks[0].index1[1], -5);
  EXPECT_EQ(big.tracks[0].index1[2], 7);
}
