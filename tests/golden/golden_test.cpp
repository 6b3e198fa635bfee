// Golden outputs: albums covering every feature are packed by the console
// program with SOURCE_DATE_EPOCH set, and the SHA-256 of every file it
// writes (image, manifest, CUE sheet, extracted cover, dump files) and of
// its console streams is compared with the pinned table below. Any change
// of an output byte or a console text shows here.
//
// VARN_GOLDEN_PRINT=1 prints the table as found, to paste below after a
// deliberate change of the outputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "manifest/sha256.h"
#include "support/test_support.h"

namespace {

using testsupport::ScratchDir;

struct Case {
  const char* name;
  // dsdgen command lines (shell words), each writing into in/ (its last
  // word the file), and the varntessel command line, run from the case dir.
  std::vector<std::string> inputs;
  std::string args;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {};  // extra inputs
};

std::string shell_word(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Lines that depend on the machine rather than on the album.
std::string machine_free(const std::string& text) {
  std::istringstream in(text);
  std::string line, out;
  while (std::getline(in, line)) {
    if (line.find("encode SIMD:") != std::string::npos) continue;
    if (line.find("(cores available") != std::string::npos) continue;
    // The first track's picture goes to a temporary file of a random name.
    const size_t scratch = line.find("VarnPack_cover_");
    if (scratch != std::string::npos && line.size() >= scratch + 21) line.replace(scratch + 15, 6, "XXXXXX");
    out += line + "\n";
  }
  return out;
}

std::vector<uint8_t> jpeg_picture(uint16_t w, uint16_t h, size_t total) {
  std::vector<uint8_t> b = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0,
                            0xFF, 0xC0, 0, 11, 8, uint8_t(h >> 8), uint8_t(h), uint8_t(w >> 8), uint8_t(w), 1, 1,
                            0x11, 0};
  while (b.size() + 2 < total) b.push_back(uint8_t(b.size() * 37 + 11) | 1);
  b.push_back(0xFF);
  b.push_back(0xD9);
  return b;
}

std::vector<uint8_t> png_picture(uint32_t w, uint32_t h, size_t total) {
  std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (uint32_t v : {w, h})
    for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
  while (b.size() < total) b.push_back(uint8_t(b.size() * 131 + 7));
  return b;
}

std::vector<Case> cases() {
  const std::string cue =
      "REM GENRE Jazz\nREM DATE 1999\nPERFORMER \"Cue Band\"\nTITLE \"Cue Album\"\nCATALOG 1234567890128\n"
      "FILE \"t1.dsf\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Cue One\"\n    PERFORMER \"Cue Singer\"\n"
      "    ISRC USABC9900001\n    INDEX 01 00:00:00\n"
      "FILE \"t2.dsf\" WAVE\n  TRACK 02 AUDIO\n    TITLE \"Cue Two\"\n    ISRC USABC9900002\n"
      "    INDEX 01 00:00:00\n";
  std::vector<Case> c = {
      {"stereo_plain_full_meta",
       {"--seconds 0.2 --title First --artist Alpha --album Tagged --track 1 in/t1.dsf",
        "--seconds 0.15 --signal chirp --title Second --track 2 in/t2.dsf"},
       "-o out/disc.iso --album 'Full Album' --artist Ensemble --genre Classical --catalog CAT-001 --year 1987"
       " --copyright '(C) 1987 Vireo' --disc 1 --disc-total 2 --label Vireo --composer Ravenhold"
       " --conductor Maestro --orchestra Philharmonia --barcode 4006381333931 --date 1987-05-04"
       " --isrc 1:GBAYE8700001 --isrc 2:GBAYE8700002 --track-artist 2:Soloist --cover in/small.jpg"
       " in/t1.dsf in/t2.dsf",
       {{"in/small.jpg", jpeg_picture(200, 200, 3000)}}},
      {"mch6_dst",
       {"--channels 6 --seconds 0.2 --title 'Six A' in/a.dsf",
        "--channels 6 --seconds 0.1 --signal noise --title 'Six B' in/b.dsf"},
       "-o out/mch.iso --album Surround --dst-threads 2 in/a.dsf in/b.dsf"},
      {"mch5_plain",
       {"--channels 5 --seconds 0.2 --title Five in/a.dsf"},
       "-o out/five.iso --no-encode --album 'Five Plain' in/a.dsf"},
      {"both_areas_dst_japanese",
       {"--seconds 0.2 --title ステレオ --artist 演奏者 in/s1.dsf", "--seconds 0.1 --signal tone in/s2.dsf",
        "--channels 5 --seconds 0.15 --title 五チャンネル in/m1.dsf", "--channels 5 --seconds 0.1 --title 六 in/m2.dsf"},
       "-o out/both.iso --album 日本のアルバム --artist 東京楽団 --dst-stereo --dst-threads 2 --pause 75"
       " --track-title 2:二曲目 in/s1.dsf in/s2.dsf in/m1.dsf in/m2.dsf"},
      {"dump_both_areas",
       {"--seconds 0.2 --title 'Dump stereo' in/s1.dsf", "--channels 6 --seconds 0.1 --title 'Dump six' in/m1.dsf"},
       "-o out/dump/ --album Dump --artist Inspector --isrc 1:USXYZ0000001 --no-encode in/s1.dsf in/m1.dsf"},
      {"dsd128_dst_fast_latin",
       {"--rate 5644800 --seconds 0.1 --title 'Café Müller' --artist Ñandú in/a.dsf",
        "--rate 5644800 --seconds 0.1 --signal chirp --title Straße in/b.dsf"},
       "-o out/dsd128.iso --album 'Señorita à la carte' --dst-stereo --dst-fast --dst-compression 32"
       " --dst-threads 2 --pause 0 in/a.dsf in/b.dsf"},
      {"dsd256_plain_msb_blocks",
       {"--rate 11289600 --seconds 0.07 --msb-first --title Quad in/a.dsf",
        "--rate 11289600 --samples 700001 --block-size 0 --title 'Odd length' in/b.dsf"},
       "-o out/dsd256.iso --album 'Quad Rate' in/a.dsf in/b.dsf"},
      {"rate48k_dff_plain",
       {"--rate 3072000 --seconds 0.2 --didx-title 'Forty eight' --didx-artist Band in/a.dff",
        "--rate 3072000 --samples 300007 --comt-genre Jazz in/b.dff"},
       "-o out/k48.iso --album 'Forty Eight' in/a.dff in/b.dff"},
      {"dst_dsdiff_input",
       {"--dst --seconds 0.2 --didx-title 'Coded two' in/a.dff",
        "--dst --channels 6 --seconds 0.1 --didx-title 'Coded six' in/b.dff",
        "--dst --channels 5 --rate 5644800 --seconds 0.1 in/c.dff"},
       "-o out/coded.iso --album 'Passed Through' in/a.dff in/b.dff"},
      {"long_track_text", {}, "-o out/long.iso --album 'Many Long Titles' --pause 30"},
      {"cover_large_png",
       {"--seconds 0.1 --title 'Big Cover' in/a.dsf"},
       "-o out/big.iso --album 'Large Cover' --cover in/big.png in/a.dsf",
       {{"in/big.png", png_picture(1600, 1200, 700000)}}},
      {"cover_from_tag_and_cue",
       {"--seconds 0.1 --cover in/tagcover.png --title 'Tag title' in/t1.dsf",
        "--seconds 0.1 --signal chirp in/t2.dsf"},
       "-o out/cue.iso --cue in/album.cue in/t1.dsf in/t2.dsf",
       {{"in/tagcover.png", png_picture(400, 400, 5000)}, {"in/album.cue", {cue.begin(), cue.end()}}}},
      {"dsd_disc",
       {"--seconds 0.1 --title 'Disc One' --album Rock in/r1.dsf", "--seconds 0.1 --title 'Disc Two' in/r2.dsf",
        "--channels 6 --seconds 0.05 --title 'Surround Song' in/r3.dsf"},
       "-o out/dsd.iso --dsd-disc '--title=Live Set' '--track-album=2:Jazz Café' in/r1.dsf in/r2.dsf in/r3.dsf"},
      {"dsd_disc_no_playlist",
       {"--seconds 0.1 --title Only in/o.dsf"},
       "-o out/np.iso --dsd-disc --no-playlist in/o.dsf"},
  };
  for (int i = 1; i <= 24; ++i) {
    const std::string f = " in/t" + std::to_string(100 + i) + ".dsf", n = std::to_string(i);
    c[9].inputs.push_back("--seconds 0.03 --signal tone --freq " + std::to_string(200 * i) +
                          " --title 'A rather long title for the movement number " + n +
                          " of this long album, with more words to fill the text lists'"
                          " --artist 'An ensemble with a long name, number " + n + "'" + f);
    c[9].args += f;
  }
  return c;
}

// The calendar day in UTC, the zone every case runs in.
struct Day {
  int year, month, day;
};

Day utc_today() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

// The inspection dump dates its Master TOC with the day it was made, not
// with SOURCE_DATE_EPOCH. That day (either of two, should the run span
// midnight) is checked in master_toc.bin and toc_detail.txt and then
// replaced by zeros, so the digests hold on any day.
void undate_dump(const std::string& name, std::vector<uint8_t>& bytes, const Day (&days)[2]) {
  if (name != "master_toc.bin" && name != "toc_detail.txt") return;
  const std::string text(bytes.begin(), bytes.end());
  for (const Day& d : days) {
    if (name == "master_toc.bin") {
      const uint8_t stamp[4] = {uint8_t(d.year >> 8), uint8_t(d.year), uint8_t(d.month), uint8_t(d.day)};
      if (bytes.size() < 124 || !std::equal(stamp, stamp + 4, bytes.begin() + 120)) continue;
      std::fill(bytes.begin() + 120, bytes.begin() + 124, uint8_t(0));
      return;
    }
    char line[32];
    std::snprintf(line, sizeof line, " %04d-%02d-%02d\n", d.year, d.month, d.day);
    const size_t key = text.find("disc_date ");
    const size_t at = key == std::string::npos ? key : text.find(line, key);
    if (at == std::string::npos || text.find('\n', key) != at + 11) continue;
    std::copy_n("0000-00-00", 10, bytes.begin() + at + 1);
    return;
  }
  ADD_FAILURE() << name << " does not carry the day it was made";
}

// Case, file -> digest; the console streams appear as "stdout", "stderr"
// and the exit code as "exit".
using Digests = std::map<std::string, std::string>;

Digests run_case(const Case& k) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.file("in"));
  std::filesystem::create_directories(dir.file("out"));
  for (const auto& f : k.files) testsupport::write_file(dir.file(f.first), f.second);
  const std::string in_dir = "cd " + shell_word(dir.path) + " && ";
  for (const std::string& g : k.inputs) {
    const testsupport::RunResult r = testsupport::run_shell(in_dir + shell_word(VARN_TEST_DSDGEN) + " " + g);
    EXPECT_EQ(r.exit_code, 0) << g << "\n" << r.err;
  }
  const std::string cmd = in_dir + "TZ=UTC SOURCE_DATE_EPOCH=1700000000 " + shell_word(VARN_TEST_VARNTESSEL) + " " +
                          k.args + " </dev/null";
  const Day before = utc_today();
  const testsupport::RunResult r = testsupport::run_shell(cmd);
  const Day days[2] = {before, utc_today()};
  Digests d;
  d["exit"] = std::to_string(r.exit_code);
  const std::string out = machine_free(r.out), err = machine_free(r.err);
  d["stdout"] = varn::sha256_hex_of(out.data(), out.size());
  d["stderr"] = varn::sha256_hex_of(err.data(), err.size());
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.file("out"))) {
    if (!e.is_regular_file()) continue;
    std::vector<uint8_t> bytes = testsupport::read_file(e.path().string());
    if (e.path().parent_path().filename() == "dump") undate_dump(e.path().filename().string(), bytes, days);
    d[std::filesystem::relative(e.path(), dir.file("out")).string()] =
        varn::sha256_hex_of(bytes.data(), bytes.size());
  }
  if (std::getenv("VARN_KEEP_TEST_FILES")) std::printf("%s: %s\n", k.name, dir.path.c_str());
  return d;
}

// The pinned digests: case, file, SHA-256 (or exit code).
const char* const kGolden[][3] = {
#include "golden/golden_digests.inc"
};

TEST(Golden, EveryOutputOfEveryFeatureAlbum) {
  std::map<std::string, Digests> pinned;
  for (const auto& row : kGolden) pinned[row[0]][row[1]] = row[2];
  const bool print = std::getenv("VARN_GOLDEN_PRINT") != nullptr;
  for (const Case& k : cases()) {
    const Digests found = run_case(k);
    if (print) {
      for (const auto& [file, digest] : found)
        std::printf("{\"%s\", \"%s\", \"%s\"},\n", k.name, file.c_str(), digest.c_str());
      continue;
    }
    EXPECT_EQ(found, pinned[k.name]) << k.name;
  }
}

}  // namespace
