// The Master TOC, Master Text, Manufacturer and Area TOC sectors pinned
// whole, and the rules for years, catalogs, set numbers, genres, dates and
// texts too long for a sector.
#include <gtest/gtest.h>

#include "sacd/genre.h"
#include "sacd/master_toc.h"
#include "sacd_test_util.h"

using namespace varn;
using sacdtest::dst_track;
using sacdtest::pattern_track;
using testsupport::be16;
using testsupport::sha256_of;

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
  // Version 1.20, set of 1, disc 1, both Area TOCs (540 and 545, 5 sectors
  // each), both catalogs sixteen "0" digits, 2021-05-17, 8 text channels
  // of English.
  EXPECT_EQ(sha256_of(build_master_toc(l, 3, kClock)),
            "1da76b9b662d9c73cde9a42c2b6646717b97039461dc300ce1881b038fcfd314");

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
  // Album title, artist, publisher, copyright; the disc's title "Disc 1 of
  // 2", artist, publisher (the album's, shared) and copyright.
  EXPECT_EQ(sha256_of(build_master_text(l, 0)), "1ca6099bb6640855c980f6bf97a91e3818c6794fa8f8a9f9b5cd19a08002e14b");

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
  // "SACD_Man", then "Manufacturer: VarnEngine", the encoder, album, genre,
  // year, barcode and "Disc: 2 of 3" lines, zeros to the end.
  EXPECT_EQ(sha256_of(build_manufacturer(l)), "863118f213f54991aae45f83f1face51a8a6d40de62f9be014f623d5aaec24bf");
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
  // TWOCHTOC (DSD64 44.1 kHz, plain, 2 channels, 153 frames and two pauses
  // of 150, 3 tracks from 545 to 2658), text, then TRL1 (starts 545, 1595,
  // 2645; lengths 350, 350, 14), TRL2 (start times counting the pauses, as
  // the audio sectors' time codes do: 0:00, 0:03, 0:06), the ISRC list.
  EXPECT_EQ(sha256_of(b.bytes), "79b7b77a2e418209424f8e7e6feb86debb981c2c5c02cbb1f1a49ae79493300e");
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
  // "Track 1"; "Ab" and "C"; the area's third track is the job's fourth:
  // "Track 3" and its composer as type 4.
  EXPECT_EQ(sha256_of(build_track_text_block(tracks, area_track_positions(tracks, false), 0)),
            "74ba86a1ea2a5464fee6b9c7f780b3589c52c59e78ab8fbe3ce2e9f4ba1bcfa1");
  tracks[0].title = "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88";  // テスト in Shift-JIS
  const std::vector<uint8_t> sj = build_track_text_block(tracks, {0}, 3);
  EXPECT_EQ(std::vector<uint8_t>(sj.begin() + 524, sj.begin() + 532), (std::vector<uint8_t>{0x83, 0x65, 0x83, 0x58, 0x83, 0x67, 0, 0}));

  const std::map<int32_t, std::string> isrcs = {{0, "US-ABC-24-00001"}, {2, "GBXYZ2400002"}, {3, "TOO-LONG-ISRC-CODE"}};
  // "SACD_IGL", "USABC2400001GBXYZ2400002" (the last code, too long, left
  // out), zeros to the end of its two sectors.
  EXPECT_EQ(sha256_of(build_isrc_list(isrcs, {0, 2, 3})),
            "8fc60f98a86209b56298ad1596f67229d3842632c234be2c18287fbeb8d28258");
  // Every track's genre entry (category General) lies in the list's second
  // sector, which the block then reserves.
  EXPECT_EQ(sha256_of(build_isrc_list({}, {0, 1}, 14)),
            "95d084bab9d6c30c9bf8cf4cabea110690a6165a4ea0d15f1e9b2d5cec18b5dc");
  EXPECT_EQ(area_toc_shape(tracks, {0, 1}, {}, 0, 14).reserved, 6u);
}

