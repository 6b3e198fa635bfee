// The Master TOC, Master Text, Manufacturer and Area TOC sectors byte for
// byte against the format's field positions, and the rules for years,
// catalogs, set numbers, genres, dates and texts too long for a sector.
#include <gtest/gtest.h>

#include <cstring>

#include "sacd/genre.h"
#include "sacd/master_toc.h"
#include "sacd_test_util.h"

using namespace varn;
using sacdtest::dst_track;
using sacdtest::pattern_track;
using testsupport::be16;
using testsupport::be32;

namespace {

const CivilTime kClock{2024, 5, 17, 10, 0, 0};

DiscLayout both_areas() {
  DiscLayout l;
  l.stereo.total_sectors = 10;
  l.multi.total_sectors = 10;
  place_fixed_positions(l, 5, 5);
  return l;
}

std::string text_at(const uint8_t* s, size_t at, size_t n) { return std::string(s + at, s + at + n); }

}  // namespace

TEST(MasterToc, SectorByteExact) {
  DiscLayout l = both_areas();
  Album la;
  l.album = &la;
  la.year = "2021a";
  Sector want{};
  std::memcpy(want.data(), "SACDMTOC", 8);
  want[8] = 0x01, want[9] = 0x14;         // version 1.20
  want[17] = 1, want[19] = 1;             // set of 1, disc 1
  std::memcpy(want.data() + 24, "0000000000000000", 16);
  put_be32(want.data() + 64, 540);        // Area TOC 1, copy 1
  put_be32(want.data() + 72, 545);        // Area TOC 2, copy 1
  want[85] = 5, want[87] = 5;             // their sizes
  std::memcpy(want.data() + 88, "0000000000000000", 16);
  want[120] = 0x07, want[121] = 0xE5;     // 2021
  want[122] = 5, want[123] = 17;
  want[128] = 8;                          // text channels
  want[136] = 'e', want[137] = 'n', want[138] = 3;
  EXPECT_EQ(build_master_toc(l, 3, kClock), want);

  // The catalog is cut or padded to 16 characters.
  la.catalog = "ABCDEFGHIJKLMNOPQRST";
  EXPECT_EQ(text_at(build_master_toc(l, 0, kClock).data(), 24, 16), "ABCDEFGHIJKLMNOP");
  la.catalog = "12345";
  EXPECT_EQ(text_at(build_master_toc(l, 0, kClock).data(), 88, 16), "12345           ");
}

TEST(MasterToc, YearSetGenreAndDate) {
  struct Row {
    const char *number, *total, *genre, *date, *year;
    uint16_t set, sequence;
    uint8_t genre_code;
    uint16_t y;
    uint8_t m, d;
  };
  const Row rows[] = {
      {"2", "3", "Jazz", "2019-05-04", "2001", 3, 2, 14, 2019, 5, 4},
      {"4", "3", "rock", "", "", 1, 1, 23, 2024, 5, 17},              // disc beyond the set
      {"1", "", "R&B", "2019-02-29", "1999", 1, 1, 24, 1999, 5, 17},  // no such day
      {"", "", "Jazz Fusion", "2020-02-29", "", 1, 1, 0, 2020, 2, 29},
      {"x", "3", "Sound Track", "2019-5-4", " 1987", 1, 1, 26, 1987, 5, 17},
      {"", "", "", "", "x", 1, 1, 0, 2024, 5, 17},                    // invalid year: the clock's
      {"", "", "", "", "99999999999", 1, 1, 0, 2024, 5, 17},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.genre) + " " + r.date + " " + r.year);
    DiscLayout l = both_areas();
    Album la;
    l.album = &la;
    la.disc_number = r.number, la.disc_total = r.total, la.genre = r.genre, la.date = r.date, la.year = r.year;
    ReportLines notes;
    const Sector s = build_master_toc(l, 0, kClock, &notes);
    EXPECT_EQ(notes.size(), r.year[0] == 'x' || r.year[0] == '9' ? 1u : 0u);
    EXPECT_EQ(be16(&s[16]), r.set);
    EXPECT_EQ(be16(&s[18]), r.sequence);
    const std::vector<uint8_t> genre = {uint8_t(r.genre_code ? 1 : 0), 0, 0, r.genre_code};
    EXPECT_EQ(std::vector<uint8_t>(s.begin() + 40, s.begin() + 44), genre);
    EXPECT_EQ(std::vector<uint8_t>(s.begin() + 104, s.begin() + 108), genre);
    EXPECT_EQ(be16(&s[120]), r.y);
    EXPECT_EQ(s[122], r.m);
    EXPECT_EQ(s[123], r.d);
  }
}

TEST(MasterText, SectorByteExactAndFallbacks) {
  std::vector<InputTrack> tracks(1);
  tracks[0].artist = "Solo";
  DiscLayout l = both_areas();
  Album la;
  l.album = &la;
  l.tracks = &tracks;
  la.title = "Album", la.artist = "Artist", la.copyright = "(C) X", la.disc_number = "1", la.disc_total = "2";
  Sector want{};
  std::memcpy(want.data(), "SACDText", 8);
  const char data[] = "Album\0Artist\0VarnEngine\0(C) X\0Disc 1 of 2\0Artist\0(C) X";
  std::memcpy(want.data() + 48, data, sizeof data);
  // album title, artist, publisher, copyright; disc title, artist, publisher, copyright
  const uint32_t pos[][2] = {{16, 48}, {18, 54}, {20, 61}, {22, 72}, {32, 78}, {34, 90}, {36, 61}, {38, 97}};
  for (const auto& p : pos) put_be16(want.data() + p[0], p[1]);
  EXPECT_EQ(build_master_text(l, 0), want);

  std::vector<InputTrack> tagged(2);
  tagged[0].album = "Tag Album";
  DiscLayout f;
  Album fa;
  f.album = &fa;
  f.tracks = &tagged;
  fa.artist = "Job";
  tagged[0].artist = "First";
  fa.track_artists = {{0, "First"}};
  fa.label = "Kit Label";
  const MasterTexts t = master_texts(f);
  EXPECT_EQ(t.album_title, "Tag Album");
  EXPECT_EQ(t.disc_artist, "First");
  EXPECT_EQ(t.album_publisher, "Kit Label");
  const Sector s = build_master_text(f, 0);
  EXPECT_EQ(be16(&s[32]) + be16(&s[22]), 0u);  // no disc title, no copyright
}

TEST(MasterText, TooLongTextsAreCutInsideTheSector) {
  std::vector<InputTrack> tracks(1);
  DiscLayout l;
  Album la;
  l.album = &la;
  l.tracks = &tracks;
  for (int i = 0; i < 100; ++i) la.title += "\xE3\x81\x82";  // 100 kana: 200 Shift-JIS bytes
  la.artist = std::string(1900, 'A');
  EXPECT_FALSE(master_text_fits(l, 3));
  EXPECT_EQ(master_text_bytes(l, 3), 201u + 1901u + 11u + 1901u);
  Sector s = build_master_text(l, 3);
  EXPECT_EQ(be16(&s[18]), 249u);
  EXPECT_EQ(s[2046], 'A');  // the artist fills the sector up to its terminator
  EXPECT_EQ(s[2047], 0);
  EXPECT_EQ(be16(&s[20]) + be16(&s[34]), 0u);
}

TEST(Manufacturer, TextAndSector) {
  DiscLayout l;
  Album la;
  l.album = &la;
  la.title = "A", la.genre = "Jazz", la.year = "1999", la.barcode = "0123", la.disc_number = "2", la.disc_total = "3";
  const std::string want =
      "Manufacturer: VarnEngine\r\nEncoder: VarnEngine V6.76.9\r\nAlbum: A\r\nGenre: Jazz\r\n"
      "Year: 1999\r\nBarcode: 0123\r\nDisc: 2 of 3\r\n";
  Sector s = build_manufacturer(l);
  EXPECT_EQ(text_at(s.data(), 0, 8 + want.size()), "SACD_Man" + want);
  for (size_t i = 8 + want.size(); i < 2048; ++i) ASSERT_EQ(s[i], 0);
  la.label = std::string(3000, 'L');
  EXPECT_EQ(build_manufacturer(l)[2047], 'L');
}

TEST(AreaToc, BlocksByteExact) {
  std::vector<InputTrack> tracks = {pattern_track(2, 2822400, 75), pattern_track(2, 2822400, 75),
                                    pattern_track(2, 2822400, 3)};
  tracks[1].pause_frames = tracks[2].pause_frames = 150;
  const DiscLayout l = sacdtest::plan(tracks);
  ASSERT_EQ(l.stereo.total_sectors, 350u + 700 + 350 + 700 + 14);
  const AreaTocBlock b = build_area_toc_block(l, false, 0);
  ASSERT_EQ(b.bytes.size(), 6u * 2048);
  Sector toc{}, trl1{}, trl2{};
  std::memcpy(toc.data(), "TWOCHTOC", 8);
  toc[8] = 0x01, toc[9] = 0x14, toc[11] = 6;    // version, block size
  toc[20] = 4, toc[21] = 2, toc[32] = 2;        // DSD64 44.1k, plain, 2 channels
  toc[65] = 6, toc[66] = 3;                     // 153 frames and two pauses of 150
  toc[69] = 3;                                  // tracks
  put_be32(toc.data() + 72, 545);
  put_be32(toc.data() + 76, 545 + 2114 - 1);
  toc[80] = 1, toc[88] = 'e', toc[89] = 'n';
  toc[128] = 0x08, toc[130] = 0x10, toc[132] = 0x18;  // text, TRL1, TRL2 offsets
  std::memcpy(trl1.data(), "SACDTRL1", 8);
  std::memcpy(trl2.data(), "SACDTRL2", 8);
  const uint32_t start[] = {545, 545 + 1050, 545 + 2100}, length[] = {350, 350, 14};
  // Start times count the pauses, as the audio sectors' time codes do.
  const uint8_t times[3][3] = {{0, 0, 0}, {0, 3, 0}, {0, 6, 0}}, durations[3][3] = {{0, 1, 0}, {0, 1, 0}, {0, 0, 3}};
  for (int i = 0; i < 3; ++i) {
    put_be32(trl1.data() + 8 + 4 * i, start[i]);
    put_be32(trl1.data() + 1028 + 4 * i, length[i]);
    std::memcpy(trl2.data() + 8 + 4 * i, times[i], 3);
    std::memcpy(trl2.data() + 1028 + 4 * i, durations[i], 3);
  }
  EXPECT_TRUE(std::equal(toc.begin(), toc.end(), b.bytes.begin()));
  EXPECT_TRUE(std::equal(trl1.begin(), trl1.end(), b.bytes.begin() + 2 * 2048));
  EXPECT_TRUE(std::equal(trl2.begin(), trl2.end(), b.bytes.begin() + 3 * 2048));
  EXPECT_EQ(text_at(b.bytes.data(), 4 * 2048, 8), "SACD_IGL");
  for (size_t i = 4 * 2048 + 8; i < b.bytes.size(); ++i) ASSERT_EQ(b.bytes[i], 0);
  // A 5-channel DST area at 48 kHz: frequency code 11, DST format 0, 5.0 speakers.
  std::vector<InputTrack> five = {dst_track(5, 3072000, {3000, 3000})};
  const AreaTocBlock f = build_area_toc_block(sacdtest::plan(five), true, 0);
  EXPECT_EQ(text_at(f.bytes.data(), 0, 8), "MULCHTOC");
  EXPECT_EQ(std::vector<uint8_t>(f.bytes.begin() + 20, f.bytes.begin() + 34),
            (std::vector<uint8_t>{11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 3}));
}

TEST(AreaToc, TrackTextIsrcAndGenreLists) {
  std::vector<InputTrack> tracks = {pattern_track(2, 2822400, 1), pattern_track(2, 2822400, 1),
                                    pattern_track(6, 2822400, 1), pattern_track(2, 2822400, 1)};
  tracks[1].title = "Ab";
  tracks[1].artist = "C";
  tracks[3].composer = "Kx";
  const std::vector<uint8_t> text = build_track_text_block(tracks, area_track_positions(tracks, false), 0);
  std::vector<uint8_t> want(2048, 0);
  std::memcpy(want.data(), "SACDTTxt", 8);
  // The area's third track is the job's fourth: "Track 3", its composer as type 4.
  const std::vector<std::vector<uint8_t>> records = {
      {1, 0, 0, 0, 1, 0x20, 'T', 'r', 'a', 'c', 'k', ' ', '1', 0, 0, 0},
      {2, 0, 0, 0, 1, 0x20, 'A', 'b', 0, 2, 0x20, 'C', 0, 0, 0, 0},
      {2, 0, 0, 0, 1, 0x20, 'T', 'r', 'a', 'c', 'k', ' ', '3', 0, 4, 0x20, 'K', 'x', 0, 0, 0, 0}};
  for (size_t i = 0, at = 518; i < 3; at += records[i++].size()) {
    put_be16(want.data() + 8 + 2 * i, uint16_t(at));
    std::copy(records[i].begin(), records[i].end(), want.begin() + long(at));
  }
  EXPECT_EQ(text, want);
  tracks[0].title = "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88";  // テスト in Shift-JIS
  const std::vector<uint8_t> sj = build_track_text_block(tracks, {0}, 3);
  EXPECT_EQ(std::vector<uint8_t>(sj.begin() + 524, sj.begin() + 532), (std::vector<uint8_t>{0x83, 0x65, 0x83, 0x58, 0x83, 0x67, 0, 0}));

  const std::map<int32_t, std::string> isrcs = {{0, "US-ABC-24-00001"}, {2, "GBXYZ2400002"}, {3, "TOO-LONG-ISRC-CODE"}};
  const std::vector<uint8_t> list = build_isrc_list(isrcs, {0, 2, 3});
  ASSERT_EQ(list.size(), 4092u);
  EXPECT_EQ(text_at(list.data(), 0, 32), "SACD_IGLUSABC2400001GBXYZ2400002");
  for (size_t i = 32; i < list.size(); ++i) ASSERT_EQ(list[i], 0);
  // Every track's genre entry (category General) lies in the list's second
  // sector, which the block then reserves.
  const std::vector<uint8_t> genres = build_isrc_list({}, {0, 1}, 14);
  EXPECT_EQ(std::vector<uint8_t>(genres.begin() + 3068, genres.begin() + 3080),
            (std::vector<uint8_t>{1, 0, 0, 14, 1, 0, 0, 14, 0, 0, 0, 0}));
  EXPECT_EQ(area_toc_shape(tracks, {0, 1}, {}, 0, 14).reserved, 6u);
}

