// The Master TOC, Master Text and Manufacturer sectors byte for byte, the
// year and catalog rules, reproducible dates and texts too long for the
// Master Text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "sacd/genre.h"
#include "sacd/layout.h"
#include "sacd/master_toc.h"
#include "sacd/text_encoding.h"
#include "sacd_test_util.h"
#include "support/test_support.h"

using namespace varn;

namespace {

DiscLayout both_areas() {
  DiscLayout l;
  l.stereo.total_sectors = 10;
  l.multi.total_sectors = 10;
  place_fixed_positions(l, 5, 5);
  return l;
}

const CivilTime kClock{2024, 5, 17, 10, 0, 0};

}  // namespace

TEST(MasterToc, SectorByteExact) {
  DiscLayout l = both_areas();
  Album l_album;
  l.album = &l_album;
  l_album.year = "2021a";
  const Sector s = build_master_toc(l, 3, kClock);
  Sector want{};
  std::memcpy(want.data(), "SACDMTOC", 8);
  want[8] = 0x01, want[9] = 0x14;
  want[17] = 1, want[19] = 1;
  std::memcpy(want.data() + 24, "0000000000000000", 16);
  put_be32(want.data() + 64, 540);
  put_be32(want.data() + 72, 545);
  want[85] = 5, want[87] = 5;
  std::memcpy(want.data() + 88, "0000000000000000", 16);
  want[120] = 0x07, want[121] = 0xE5;  // 2021
  want[122] = 5, want[123] = 17;
  want[128] = 8;
  want[136] = 'e', want[137] = 'n', want[138] = 3;
  EXPECT_EQ(s, want);
}

TEST(MasterToc, CatalogAndAreas) {
  DiscLayout l;
  Album l_album;
  l.album = &l_album;
  l.multi.total_sectors = 3;
  place_fixed_positions(l, 5, 5);
  l_album.catalog = "ABCDEFGHIJKLMNOPQRST";
  Sector s = build_master_toc(l, 0, kClock);
  EXPECT_EQ(std::string(s.begin() + 24, s.begin() + 40), "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(std::string(s.begin() + 88, s.begin() + 104), "ABCDEFGHIJKLMNOP");
  // Only a multichannel area: it is Area 1.
  EXPECT_EQ(testsupport::be32(&s[64]), 540u);
  EXPECT_EQ(testsupport::be16(&s[84]), 5u);
  EXPECT_EQ(testsupport::be32(&s[72]), 0u);
  EXPECT_EQ(testsupport::be16(&s[86]), 0u);
  l_album.catalog = "12345";
  s = build_master_toc(l, 0, kClock);
  EXPECT_EQ(std::string(s.begin() + 24, s.begin() + 40), "12345           ");
  DiscLayout none;
  place_fixed_positions(none, 5, 5);
  s = build_master_toc(none, 0, kClock);
  EXPECT_EQ(testsupport::be32(&s[64]), 0u);
  EXPECT_EQ(testsupport::be16(&s[84]), 0u);
}

TEST(MasterToc, YearRules) {
  DiscLayout l = both_areas();
  Album l_album;
  l.album = &l_album;
  l_album.year = "x";
  Sector s;
  sacdtest::Capture c = sacdtest::capture_output([&] { s = build_master_toc(l, 0, kClock); });
  EXPECT_EQ(c.err, "Warning: invalid year 'x', using current\n");
  EXPECT_EQ(testsupport::be16(&s[120]), 2024u);
  l_album.year = "99999999999";
  c = sacdtest::capture_output([&] { s = build_master_toc(l, 0, kClock); });
  EXPECT_NE(c.err.find("invalid year"), std::string::npos);
  l_album.year = " 1987";
  c = sacdtest::capture_output([&] { s = build_master_toc(l, 0, kClock); });
  EXPECT_TRUE(c.err.empty());
  EXPECT_EQ(testsupport::be16(&s[120]), 1987u);
  l_album.year.clear();
  s = build_master_toc(l, 0, kClock);
  EXPECT_EQ(testsupport::be16(&s[120]), 2024u);
}

TEST(MasterToc, AlbumSetGenreAndDate) {
  struct Row {
    const char *number, *total, *genre, *date, *year;
    uint16_t set, sequence;
    uint8_t genre_code;
    uint16_t y;
    uint8_t m, d;
  };
  const Row rows[] = {
      {"2", "3", "Jazz", "2019-05-04", "2001", 3, 2, 14, 2019, 5, 4},
      {"4", "3", "rock", "", "", 1, 1, 23, 2024, 5, 17},           // disc beyond the set
      {"1", "", "R&B", "2019-02-29", "1999", 1, 1, 24, 1999, 5, 17},  // no such day
      {"", "", "Jazz Fusion", "2020-02-29", "", 1, 1, 0, 2020, 2, 29},
      {"x", "3", "Sound Track", "2019-5-4", "", 1, 1, 26, 2024, 5, 17},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.genre) + " " + r.date);
    DiscLayout l = both_areas();
    Album l_album;
    l.album = &l_album;
    l_album.disc_number = r.number, l_album.disc_total = r.total, l_album.genre = r.genre;
    l_album.date = r.date, l_album.year = r.year;
    const Sector s = build_master_toc(l, 0, kClock);
    EXPECT_EQ(testsupport::be16(&s[16]), r.set);
    EXPECT_EQ(testsupport::be16(&s[18]), r.sequence);
    const std::vector<uint8_t> genre = {uint8_t(r.genre_code ? 1 : 0), 0, 0, r.genre_code};
    EXPECT_EQ(std::vector<uint8_t>(s.begin() + 40, s.begin() + 44), genre);
    EXPECT_EQ(std::vector<uint8_t>(s.begin() + 104, s.begin() + 108), genre);
    EXPECT_EQ(testsupport::be16(&s[120]), r.y);
    EXPECT_EQ(s[122], r.m);
    EXPECT_EQ(s[123], r.d);
  }
  const std::pair<const char*, uint8_t> names[] = {
      {"Classical", 5}, {"Hip-Hop", 13}, {"Children's Music", 4}, {"POP", 20}, {"Rock Music", 23},
      {"Soundtrack", 26}, {"World", 28}, {"Blues", 29}, {"Metal", 0}, {"", 0}};
  for (const auto& [name, code] : names) EXPECT_EQ(sacd_genre_code(name), code) << name;
}

TEST(MasterToc, ThreeIdenticalCopiesWithSourceDateEpoch) {
  testsupport::ScratchDir dir;
  ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  DiscLayout l = both_areas();
  std::vector<std::vector<uint8_t>> runs;
  for (int run = 0; run < 2; ++run) {
    const std::string path = dir.file("m" + std::to_string(run));
    FILE* f = std::fopen(path.c_str(), "w+b");
    write_master_toc(f, l);
    std::fclose(f);
    runs.push_back(testsupport::read_file(path));
  }
  ::unsetenv("SOURCE_DATE_EPOCH");
  ASSERT_EQ(runs[0].size(), 531u * 2048);
  EXPECT_EQ(runs[0], runs[1]);
  const uint8_t* c1 = runs[0].data() + 510 * 2048;
  EXPECT_TRUE(std::equal(c1, c1 + 2048, runs[0].data() + 520 * 2048));
  EXPECT_TRUE(std::equal(c1, c1 + 2048, runs[0].data() + 530 * 2048));
  const CivilTime t = civil_time_local(1700000000);
  EXPECT_EQ(testsupport::be16(c1 + 120), uint32_t(t.year));
  EXPECT_EQ(c1[122], t.month);
  EXPECT_EQ(c1[123], t.day);
}

TEST(MasterText, SectorByteExact) {
  std::vector<InputTrack> tracks(1);
  tracks[0].artist = "Solo";
  DiscLayout l = both_areas();
  Album l_album;
  l.album = &l_album;
  l.tracks = &tracks;
  l_album.title = "Album";
  l_album.artist = "Artist";
  l_album.copyright = "(C) X";
  l_album.disc_number = "1";
  l_album.disc_total = "2";
  const Sector s = build_master_text(l, 0);
  Sector want{};
  std::memcpy(want.data(), "SACDText", 8);
  const char data[] = "Album\0Artist\0VarnEngine\0(C) X\0Disc 1 of 2\0Artist\0(C) X";
  std::memcpy(want.data() + 48, data, sizeof data);
  const uint32_t pos[][2] = {{16, 48}, {18, 54}, {20, 61}, {22, 72}, {32, 78}, {34, 90}, {36, 61}, {38, 97}};
  for (const auto& p : pos) put_be16(want.data() + p[0], p[1]);
  EXPECT_EQ(s, want);
  EXPECT_EQ(master_text_bytes(l, 0), sizeof data);
  EXPECT_TRUE(master_text_fits(l, 0));
}

TEST(MasterText, FallbacksAndAbsentTexts) {
  std::vector<InputTrack> tracks(2);
  tracks[0].album = "Tag Album";
  tracks[0].artist = "First";
  DiscLayout l;
  Album l_album;
  l.album = &l_album;
  l.tracks = &tracks;
  l_album.artist = "Job";
  l_album.disc_number = "1";
  l_album.track_artists = {{0, "First"}};
  const MasterTexts t = master_texts(l);
  EXPECT_EQ(t.album_title, "Tag Album");
  EXPECT_EQ(t.album_artist, "Job");
  EXPECT_EQ(t.disc_title, "Disc 1");
  EXPECT_EQ(t.disc_artist, "First");
  EXPECT_EQ(t.album_publisher, "VarnEngine");
  l_album.label = "Kit Label";
  EXPECT_EQ(master_texts(l).album_publisher, "Kit Label");
  l_album.label.clear();
  l_album.disc_number.clear();
  l_album.copyright.clear();
  const Sector s = build_master_text(l, 0);
  EXPECT_EQ(testsupport::be16(&s[32]), 0u);  // no disc title
  EXPECT_EQ(testsupport::be16(&s[22]), 0u);  // no copyright
  EXPECT_EQ(testsupport::be16(&s[38]), 0u);
  EXPECT_EQ(testsupport::be16(&s[36]), testsupport::be16(&s[20]));
}

TEST(MasterText, TooLongTextsAreCutInsideTheSector) {
  // 1200 kana of 2 Shift-JIS bytes each: the title alone exceeds the room.
  std::string kana;
  for (int i = 0; i < 1200; ++i) kana += "\xE3\x81\x82";  // あ
  std::vector<InputTrack> tracks(1);
  DiscLayout l;
  Album l_album;
  l.album = &l_album;
  l.tracks = &tracks;
  l_album.title = kana.substr(0, 300);  // 100 kana are converted whole (< 511 bytes)
  l_album.artist = std::string(1900, 'A');
  EXPECT_FALSE(master_text_fits(l, 3));
  EXPECT_EQ(master_text_bytes(l, 3), 201u + 1901u + 11u + 1901u);
  const Sector s = build_master_text(l, 3);
  EXPECT_EQ(testsupport::be16(&s[16]), 48u);
  EXPECT_EQ(testsupport::be16(&s[18]), 249u);
  // The artist fills the sector up to its terminator in the last byte.
  EXPECT_EQ(s[2046], 'A');
  EXPECT_EQ(s[2047], 0);
  EXPECT_EQ(testsupport::be16(&s[20]), 0u);
  EXPECT_EQ(testsupport::be16(&s[34]), 0u);

  // A double-byte title is cut between characters.
  l_album.title.clear();
  l_album.artist.clear();
  l_album.disc_number.clear();
  DiscLayout k;
  Album k_album;
  k.album = &k_album;
  k.tracks = &tracks;
  std::string hangul;
  for (int i = 0; i < 1100; ++i) hangul += "\xED\x95\x9C";  // 한
  k_album.title = hangul;
  const Sector h = build_master_text(k, 4);
  // At most 511 UTF-8 bytes are converted: 170 characters and a '?'.
  EXPECT_EQ(h[48 + 340], '?');
  EXPECT_EQ(h[48 + 341], 0);
  std::string letters(2100, 'b');
  letters[1998] = '\xC3';  // an 'é' across the cut in UTF-8
  letters[1999] = '\xA9';
  DiscLayout u;
  Album u_album;
  u.album = &u_album;
  u.tracks = &tracks;
  u_album.title = letters;
  const Sector v = build_master_text(u, 0);
  EXPECT_EQ(v[48 + 1997], 'b');
  EXPECT_EQ(v[48 + 1998], 0);  // 'é' would end past the room: left out
  EXPECT_EQ(testsupport::be16(&v[18]), 0u);
}

TEST(Manufacturer, TextAndSector) {
  DiscLayout l;
  Album l_album;
  l.album = &l_album;
  l_album.title = "A";
  l_album.genre = "Jazz";
  l_album.year = "1999";
  l_album.barcode = "0123";
  l_album.disc_number = "2";
  l_album.disc_total = "3";
  const std::string want =
      "Manufacturer: VarnEngine\r\nEncoder: VarnEngine V6.76.9\r\nAlbum: A\r\nGenre: Jazz\r\n"
      "Year: 1999\r\nBarcode: 0123\r\nDisc: 2 of 3\r\n";
  EXPECT_EQ(manufacturer_text(l), want);
  const Sector s = build_manufacturer(l);
  EXPECT_EQ(std::string(s.begin(), s.begin() + 8), "SACD_Man");
  EXPECT_EQ(std::string(s.begin() + 8, s.begin() + 8 + want.size()), want);
  for (size_t i = 8 + want.size(); i < 2048; ++i) ASSERT_EQ(s[i], 0);
  l_album.label = std::string(3000, 'L');
  const Sector cut = build_manufacturer(l);
  EXPECT_EQ(cut[2047], 'L');
}

TEST(MasterText, EightCopiesWritten) {
  testsupport::ScratchDir dir;
  std::vector<InputTrack> tracks(1);
  DiscLayout l = both_areas();
  Album l_album;
  l.album = &l_album;
  l.tracks = &tracks;
  l_album.title = "X";
  select_charset(0);
  const std::string path = dir.file("t.img");
  FILE* f = std::fopen(path.c_str(), "w+b");
  write_master_text(f, l, l.master_text_lsn, l.master_text_copies);
  write_manufacturer(f, l, l.manufacturer_lsn);
  std::fclose(f);
  const std::vector<uint8_t> img = testsupport::read_file(path);
  ASSERT_EQ(img.size(), 520u * 2048);
  for (int k = 1; k < 8; ++k)
    EXPECT_TRUE(std::equal(img.begin() + 511 * 2048, img.begin() + 512 * 2048, img.begin() + (511 + k) * 2048));
  EXPECT_EQ(std::string(img.begin() + 519 * 2048, img.begin() + 519 * 2048 + 8), "SACD_Man");
}
