// Metadata checks: ISRC normalisation and shape, barcodes with their check
// digits (UPC-A, EAN-13) and the verdict reported for each; the pre-flight,
// each check with its severity, the encodability test, and the refusal to
// pack on errors.
#include <gtest/gtest.h>

#include "frontend/stages.h"
#include "metadata/codes.h"
#include "metadata/preflight.h"
#include "support/capture.h"

using namespace varn;
using testsupport::capture;
using testsupport::contains;
using Lines = std::vector<std::string>;

namespace {

struct Disc {
  Album album;
  std::vector<InputTrack> tracks;
};

Disc album_with_titles(const std::vector<std::string>& titles) {
  Disc d;
  d.album.title = "Album";
  for (const std::string& title : titles) {
    d.tracks.emplace_back();
    d.tracks.back().title = title;
  }
  return d;
}

// "severity subject: message" up to the first '(', '"' or ':' after the facts.
Lines issues(const Disc& d) {
  Lines out;
  for (const MetaIssue& i : preflight_album(d.album, d.tracks)) {
    std::string m = i.message.substr(0, i.message.find_first_of("(\":"));
    while (!m.empty() && m.back() == ' ') m.pop_back();
    out.push_back(std::to_string(i.severity) + " " + i.subject + ": " + m);
  }
  return out;
}

}  // namespace

TEST(Isrc, NormalisationAndShape) {
  EXPECT_EQ(normalize_isrc("us-abc-24-00001"), "USABC2400001");
  EXPECT_EQ(normalize_isrc(" (US).AB/C_24-000\xC3\xA9" "01"), "USABC2400001");
  EXPECT_TRUE(isrc_shape_ok("USABC2400001"));
  EXPECT_TRUE(isrc_shape_ok("GBx1y9912345"));  // registrant may be lower case
  for (const char* bad : {"USAB1240001", "U1ABC2400001", "usABC2400001", "USABC24000A1", "USABC24000012"})
    EXPECT_FALSE(isrc_shape_ok(bad)) << bad;
}

TEST(Barcode, CheckDigitsAndReports) {
  const struct {
    const char *in, *out, *report;
  } cases[] = {
      {"036000291452", "036000291452", "(UPC-A) check digit OK"},
      {"0360-0029 145", "0036000291452", "check digit added"},
      {"036000291453", "036000291453", "check digit mismatch -- given 3, expected 2"},
      {"4-006381.333931", "4006381333931", "(EAN-13) check digit OK"},
      {"ABC 123", "ABC123", "not validated"},
      {"12345", "12345", "not validated"},
  };
  for (const auto& c : cases) {
    std::string out;
    const auto s = capture([&] { out = normalize_barcode(c.in); });
    EXPECT_EQ(out, c.out);
    EXPECT_TRUE(contains(s.err, c.report)) << c.in << ": " << s.err;
  }
}

TEST(Encodability, FirstUnrepresentableCharacter) {
  const std::pair<const char*, const char*> cases[] = {
      {"Plain caf\xC3\xA9 \xE4\xB8\xAD\xE6\x96\x87 ~ \xC2\xA0", ""}, {"bell\x07", "U+0007"},
      {"note \xF0\x9F\x8E\xB5 and \x01", "U+1F3B5"}, {"del\x7F", "U+007F"}, {"c1 \xC2\x85", "U+0085"},
      {"\xEF\xBF\xBD", "U+FFFD"}, {"cut \xE4\xB8", "U+FFFD"}, {"latin1 \xE9t\xE9", "U+FFFD"},
  };
  for (const auto& [text, want] : cases) {
    std::string cp;
    EXPECT_EQ(find_unencodable(text, cp), *want != 0) << text;
    EXPECT_EQ(cp, want) << text;
  }
}

TEST(Preflight, AlbumAndTrackChecks) {
  Disc a = album_with_titles({"One", "Two"});
  a.album.year = "1999";
  a.album.date = "2020-02-29";
  a.album.disc_number = "2";
  a.album.disc_total = "2";
  a.album.isrcs[0] = "USABC2400001";
  EXPECT_TRUE(issues(a).empty());

  a = album_with_titles({std::string(200, 'x'), std::string(201, 'y'), "ring\x07", ""});
  a.album.isrcs = {{0, "us-abc-24-00001"}, {1, "USABC2400001"}, {2, "US-AB1-24-0001"}};
  a.tracks[2].artist = "DJ \xF0\x9F\x94\xA5";
  a.album.title = "Best \xF0\x9F\x8E\xB5";
  a.album.year = "87";
  a.album.date = "2019-02-29";
  EXPECT_EQ(issues(a), (Lines{"2 track 2: duplicate ISRC", "2 track 3: invalid ISRC format",
                              "1 track 2: title is too long",
                              "2 track 3: title contains characters the encoder cannot represent",
                              "2 track 3: artist contains characters the encoder cannot represent",
                              "1 track 4: title is empty",
                              "2 album: album title contains characters the encoder cannot represent",
                              "1 album: year is not 4 digits", "1 disc: date is not a valid YYYY-MM-DD date"}));
  EXPECT_EQ(issues(Disc()), (Lines{"2 album: album has no tracks", "1 album: album title is empty"}));
  // With no album title or artist the disc carries the first track's tags,
  // so those are what is checked.
  a = album_with_titles({"One"});
  a.album.title.clear();
  a.tracks[0].album = "Tag \xF0\x9F\x8E\xB5";
  a.tracks[0].artist = "Singer\x07";
  EXPECT_EQ(issues(a), (Lines{"2 track 1: artist contains characters the encoder cannot represent",
                              "2 album: album title contains characters the encoder cannot represent",
                              "2 album: album artist contains characters the encoder cannot represent"}));
}

TEST(Preflight, DiscNumberRules) {
  const struct {
    const char *number, *total;
    Lines want;
  } cases[] = {
      {"2", "1", {"2 disc: disc number 2 is greater than the total discs 1"}},
      {"0", "0", {"1 disc: total discs is not a positive integer", "1 disc: disc number is not a positive integer"}},
      {"+1", "x", {"1 disc: total discs is not a positive integer", "1 disc: disc number is not a positive integer"}},
      {"4294967298", "3", {"1 disc: disc number is not a positive integer"}},  // not wrapped to 2
      {"", "3", {}},
      {"3", "", {}},
  };
  for (const auto& c : cases) {
    Disc a = album_with_titles({"x"});
    a.album.disc_number = c.number;
    a.album.disc_total = c.total;
    EXPECT_EQ(issues(a), c.want) << c.number << "/" << c.total;
  }
}

// Errors stop the run unless allowed; warnings alone do not.
TEST(PreflightStage, RefusesOnErrors) {
  PackRun run;
  run.job.album.title = "Album";
  run.job.album.year = "87";
  run.tracks.resize(2);
  run.tracks[0].title = "One";
  run.tracks[1].title = "Two";
  run.job.album.isrcs = {{0, "USABC2400001"}, {1, "USABC2400001"}};
  StageResult r;
  auto s = capture([&] { r = stage_preflight(run); });
  EXPECT_EQ(r, std::optional<int>(1));
  EXPECT_TRUE(contains(s.err, "[meta] track 2: duplicate ISRC"));
  EXPECT_TRUE(contains(s.out, "[meta] pre-flight: 1 error(s), 1 warning(s)\n"));
  run.job.allow_meta_errors = true;
  s = capture([&] { r = stage_preflight(run); });
  EXPECT_EQ(r, std::nullopt);
  run = PackRun();
  run.tracks.resize(1);
  run.tracks[0].sample_rate = 5644800;
  s = capture([&] { r = stage_preflight(run); });
  EXPECT_EQ(r, std::nullopt);
  EXPECT_TRUE(contains(s.out, "[meta] pre-flight: 0 error(s), 3 warning(s)\n"));
  EXPECT_TRUE(contains(s.out, "--dsd-disc"));
}
