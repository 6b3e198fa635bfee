// Albums packed by the console program and read back by an independent
// SACD reader: every track plays for its whole TOC duration, its audio comes
// back bit for bit (DST decoded by the reader), and the reader shows the
// texts and album facts that were given (options or a CUE sheet).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "audio/dsdiff_reader.h"
#include "dsdgen/dsdgen.h"
#include "support/capture.h"
#include "support/sacd_reader.h"
#include "support/test_support.h"

namespace {

using testsupport::field;
using testsupport::ScratchDir;

struct Input {
  uint32_t channels = 2;
  uint32_t frames = 30;
  std::string signal = "music";
  std::string title;
  std::string artist;
  bool dff = false;
};

// A field the reader should show: of track `track` (from 0) of area
// `area` (0 the first area), or of the album (area kAlbum) or disc (kDisc).
constexpr int kAlbum = -1;
constexpr int kDisc = -2;
struct Shown {
  int area;
  int track;
  std::string name;
  std::string value;
};

struct Case {
  const char* name;
  std::vector<Input> inputs;
  std::vector<std::string> options;
  std::string album;        // as given
  std::vector<Shown> shown;  // further fields to check
  bool dsdiff = false;      // extract as DSDIFF instead of DSF
  std::string cue = "";     // a CUE sheet given with --cue
};

std::string make_input(const ScratchDir& dir, size_t i, const Input& in) {
  const std::string path = dir.file("in" + std::to_string(i) + (in.dff ? ".dff" : ".dsf")), tag = in.dff ? "--didx-" : "--";
  EXPECT_TRUE(testsupport::dsdgen({"--channels", std::to_string(in.channels), "--samples",
                                   std::to_string(uint64_t(in.frames) * (2822400 / 75)), "--signal", in.signal, "--seed",
                                   std::to_string(i + 1), tag + "title", in.title, tag + "artist", in.artist, path}))
      << path;
  return path;
}

// Stereo music and chirps of these lengths, titled "Piece n"; the same with
// other channels (and as DSDIFF); each with given titles and artists.
std::vector<Input> stereo(std::vector<uint32_t> frames, uint32_t channels = 2, bool dff = false) {
  std::vector<Input> v;
  for (size_t i = 0; i < frames.size(); ++i)
    v.push_back({channels, frames[i], i % 2 ? "chirp" : "music", "Piece " + std::to_string(i + 1), "", dff});
  return v;
}

std::vector<Input> titled(std::vector<Input> v, std::vector<std::string> titles,
                          std::vector<std::string> artists) {
  for (size_t i = 0; i < v.size(); ++i) {
    v[i].title = titles[i];
    v[i].artist = artists[i];
  }
  return v;
}

std::vector<Input> near_silence_between_music() {
  std::vector<Input> v = stereo({20, 30, 20});
  v[1].signal = "silence";
  return v;
}

std::vector<Input> forty_long_titles() {
  std::vector<Input> v;
  for (int i = 1; i <= 40; ++i)
    v.push_back({2, 4, "tone",
                 "A rather long title for the movement number " + std::to_string(i) + " of this album",
                 "An ensemble with a long name, number " + std::to_string(i)});
  return v;
}

// What a disc made without the album options shows; then one of a set.
const std::vector<Shown> kDefaults = {
    {kAlbum, 0, "Publisher", "VarnEngine"}, {kDisc, 0, "Publisher", "VarnEngine"},
    {kAlbum, 0, "Sequence Number", "1"},    {kAlbum, 0, "Set Size", "1"},
    {kAlbum, 0, "Album Genre", ""},         {kDisc, 0, "Disc Genre", ""},
    {kDisc, 0, "Creation date", "2023-11-14"}, {0, 0, "Composer", ""}};
const std::vector<Shown> kSetDisc = {
    {kAlbum, 0, "Publisher", "Kit Label"}, {kDisc, 0, "Publisher", "Kit Label"},
    {kAlbum, 0, "Sequence Number", "2"},   {kAlbum, 0, "Set Size", "3"},
    {kAlbum, 0, "Album Category", "General"}, {kAlbum, 0, "Album Genre", "Jazz"},
    {kDisc, 0, "Disc Genre", "Jazz"},      {kDisc, 0, "Creation date", "2019-05-04"},
    {kDisc, 0, "Title", "Disc 2 of 3"},    {0, 0, "Composer", "Kit Composer"},
    {0, 1, "Composer", "Kit Composer"}};
// An EAC-style sheet: catalog, genre and year from REM lines, composers
// from SONGWRITER.
const char kEacSheet[] =
    "REM GENRE Classical\r\nREM DATE 1987\r\nCATALOG 0724356648324\r\nPERFORMER \"Kit Orchestra\"\r\n"
    "TITLE \"Kit Symphonies\"\r\nFILE \"Range.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n    TITLE \"Allegro\"\r\n"
    "    SONGWRITER \"Kit Composer\"\r\n    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    TITLE \"Adagio\"\r\n"
    "    SONGWRITER \"Other Composer\"\r\n    INDEX 01 00:10:00\r\n";

const Case kCases[] = {
    {"StereoDefaultPause", titled(stereo({40, 30, 20}), {"One", "Two", "Three"}, {"Solo", "", ""}),
     {}, "Pauses", kDefaults},
    {"DiscOfASet", stereo({10, 10}),
     {"--disc", "2", "--disc-total", "3", "--genre", "Jazz", "--label", "Kit Label", "--composer",
      "Kit Composer", "--date", "2019-05-04", "--year", "2019"},
     "Set", kSetDisc},
    {"EacCueSheet", titled(stereo({10, 10}), {"", ""}, {"", ""}), {}, "",
     {{kAlbum, 0, "Title", "Kit Symphonies"}, {kAlbum, 0, "Album Genre", "Classical"},
      {kAlbum, 0, "Album Catalog Number", "0724356648324   "}, {kDisc, 0, "Creation date", "1987-11-14"},
      {0, 0, "Title", "Allegro"}, {0, 0, "Composer", "Kit Composer"},
      {0, 1, "Composer", "Other Composer"}},
     false, kEacSheet},
    {"StereoNoPause", stereo({30, 25}), {"--pause", "0"}, "No Pause", {}, true},
    {"Dst6ch", stereo({60}, 6, true), {}, "Six", {}},
    {"Dst5ch", stereo({30, 25}, 5), {}, "Five", {}},
    {"DstStereoNearSilence", near_silence_between_music(), {"--dst-stereo"}, "Quiet", {}},
    {"BothAreas", [] {
       std::vector<Input> v = stereo({20, 25});
       v.push_back(stereo({20}, 6)[0]);
       return v;
     }(),
     {"--pause", "20"},
     "Both", {}, true},
    {"FortyTracksLongTexts", forty_long_titles(),
     {"--pause", "5", "--isrc", "1:GB-AYE-00-00351", "--isrc", "40:USRC17607839"}, "Forty",
     {{0, 0, "ISRC", "Country: GB, Owner: AYE, Year: 00, Designation: 00351"},
      {0, 39, "ISRC", "Country: US, Owner: RC1, Year: 76, Designation: 07839"}}},
    {"Latin1Text",
     titled(stereo({10, 10}), {"Été", "Noël à l'Opéra"}, {"Ångström", "Zoë Müller"}),
     {"--artist", "Ørsted"}, "Ária — Café",
     {{kAlbum, 0, "Title", "Ária - Café"}, {kAlbum, 0, "Artist", "Ørsted"}}},
    {"JapaneseText", titled(stereo({10, 10}), {"さくら", "ふじさん"}, {"やまだ", ""}), {},
     "にほんのうた", {}},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ReaderInterop : public testing::TestWithParam<Case> {};

TEST_P(ReaderInterop, PlaysInFullBitExactWithTheGivenTexts) {
  const std::string reader = testsupport::sacd_reader();
  if (reader.empty()) GTEST_SKIP() << testsupport::sacd_reader_skip_reason();
  const Case& c = GetParam();
  ScratchDir dir;
  std::vector<std::string> paths;
  std::vector<size_t> area_inputs[2];
  for (size_t i = 0; i < c.inputs.size(); ++i) {
    paths.push_back(make_input(dir, i, c.inputs[i]));
    area_inputs[c.inputs[i].channels == 2 ? 0 : 1].push_back(i);
  }
  const std::string iso = dir.file("disc.iso");
  std::vector<std::string> args = {"-o", iso};
  if (!c.album.empty()) args.insert(args.end(), {"--album", c.album});
  if (!c.cue.empty()) {
    testsupport::write_text(dir.file("album.cue"), c.cue);
    args.insert(args.end(), {"--cue", dir.file("album.cue")});
  }
  args.insert(args.end(), c.options.begin(), c.options.end());
  args.insert(args.end(), paths.begin(), paths.end());
  const testsupport::RunResult packed =
      testsupport::run_varntessel(args, {"SOURCE_DATE_EPOCH=1700000000", "TZ=UTC"});
  ASSERT_EQ(packed.exit_code, 0) << packed.err;

  const testsupport::ReaderReport info = testsupport::read_sacd_info(reader, iso, dir.path);
  const size_t area_count = !area_inputs[0].empty() + !area_inputs[1].empty();
  ASSERT_EQ(info.areas.size(), area_count) << info.text;
  bool album_title_checked = false;
  for (const Shown& s : c.shown) {
    const testsupport::ReaderFields& fields =
        s.area == kAlbum  ? info.album
        : s.area == kDisc ? info.disc
        : size_t(s.track) < info.areas.at(s.area).tracks.size() ? info.areas[s.area].tracks[s.track]
                                                                : info.disc;
    EXPECT_EQ(field(fields, s.name), s.value) << s.area << "/" << s.track << " " << s.name;
    if (s.area == kAlbum && s.name == "Title") album_title_checked = true;
  }
  if (!album_title_checked) {
    EXPECT_EQ(field(info.album, "Title"), c.album) << info.text;
  }

  size_t area_index = 0;
  for (int mch = 0; mch < 2; ++mch) {
    const std::vector<size_t>& inputs = area_inputs[mch];
    if (inputs.empty()) continue;
    const testsupport::ReaderArea& area = info.areas[area_index++];
    ASSERT_EQ(area.tracks.size(), inputs.size()) << info.text;
    for (size_t k = 0; k < inputs.size(); ++k) {
      const Input& in = c.inputs[inputs[k]];
      SCOPED_TRACE("area " + std::to_string(mch) + " track " + std::to_string(k + 1));
      if (c.cue.empty()) {
        EXPECT_EQ(field(area.tracks[k], "Title"), in.title.empty() ? "Track " + std::to_string(k + 1) : in.title);
        EXPECT_EQ(field(area.tracks[k], "Performer"), in.artist);
      }
    }

    const std::string out = dir.file(mch ? "mch" : "2ch");
    std::filesystem::create_directories(out);
    const testsupport::ReaderExtraction x =
        testsupport::extract_sacd_area(reader, iso, out, mch == 1, !c.dsdiff);
    ASSERT_EQ(x.tracks.size(), inputs.size()) << x.text;
    for (size_t k = 0; k < inputs.size(); ++k) {
      SCOPED_TRACE("area " + std::to_string(mch) + " track " + std::to_string(k + 1));
      EXPECT_EQ(x.tracks[k].specified, c.inputs[inputs[k]].frames) << x.text;
      EXPECT_EQ(x.tracks[k].processed, x.tracks[k].specified) << x.text;
      EXPECT_EQ(testsupport::compare_dsd_audio(x.tracks[k].file, paths[inputs[k]]), "");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Albums, ReaderInterop, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& i) { return i.param.name; });

// A DSDIFF file whose channel ids give another order than an SACD area's:
// each stored channel comes back from the reader under the id it had.
TEST(ReaderInteropChannels, DsdiffChannelIdsReachTheirSpeakers) {
  const std::string reader = testsupport::sacd_reader();
  if (reader.empty()) GTEST_SKIP() << testsupport::sacd_reader_skip_reason();
  ScratchDir dir;
  dsdgen::SignalOptions s;
  s.channels = 6;
  s.samples = 10 * (2822400 / 75);
  const std::vector<uint8_t> payload = dsdgen::generate(s);
  const std::string ids = "MLFTMRGTLS  RS  C   LFE ";
  dsdgen::DffOptions o;
  o.write_chnl = false;
  o.prop_extra.push_back({"CHNL", {0, 6}});
  o.prop_extra[0].data.insert(o.prop_extra[0].data.end(), ids.begin(), ids.end());
  ASSERT_TRUE(dsdgen::write_dsdiff(dir.file("in.dff"), 6, 2822400, payload, o));
  const std::string iso = dir.file("disc.iso");
  ASSERT_EQ(testsupport::run_varntessel({"-o", iso, "--dst-compression", "8", "--album", "Ids", dir.file("in.dff")})
                .exit_code,
            0);
  std::filesystem::create_directories(dir.file("x"));
  const testsupport::ReaderExtraction x = testsupport::extract_sacd_area(reader, iso, dir.file("x"), true, false);
  ASSERT_EQ(x.tracks.size(), 1u) << x.text;
  const std::vector<uint8_t> rip = testsupport::read_file(x.tracks[0].file);
  const auto chnl = std::search(rip.begin(), rip.end(), ids.begin(), ids.begin() + 4) ;
  ASSERT_TRUE(chnl != rip.end());
  const std::string rip_ids(chnl, chnl + 24);
  varn::InputTrack t;
  testsupport::capture([&] { ASSERT_FALSE(varn::read_dsdiff(x.tracks[0].file, t)); });
  ASSERT_GE(t.audio.size(), payload.size()) << x.text;
  for (size_t k = 0; k < 6; ++k) {
    const size_t f = ids.find(rip_ids.substr(4 * k, 4));
    ASSERT_EQ(f % 4, 0u) << rip_ids;
    size_t wrong = 0;
    for (size_t at = 0; at < payload.size(); at += 6) wrong += t.audio[at + k] != payload[at + f / 4];
    EXPECT_EQ(wrong, 0u) << rip_ids.substr(4 * k, 4);
  }
}

}  // namespace
