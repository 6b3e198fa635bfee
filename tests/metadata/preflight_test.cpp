// Metadata pre-flight: each check, the encodability test, the printed
// issues and the refusal to pack.
#include <gtest/gtest.h>

#include "frontend/stages.h"
#include "metadata/preflight.h"
#include "support/capture.h"

using namespace varn;
using testsupport::capture;
using testsupport::contains;

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

std::vector<MetaIssue> check(const Disc& d) { return preflight_album(d.album, d.tracks); }

// "severity subject: message", the message without the general explanation
// that follows its facts (what a rule is for, which characters are meant).
std::vector<std::string> messages(const std::vector<MetaIssue>& issues) {
  std::vector<std::string> out;
  for (const MetaIssue& i : issues) {
    std::string m = i.message;
    for (const char* tail : {" (every", " (expected", ": the SACD", " (players", " (the ISO", " (the SACD",
                             ": control"})
      if (m.find(tail) != std::string::npos) m = m.substr(0, m.find(tail));
    out.push_back(std::to_string(i.severity) + " " + i.subject + ": " + m);
  }
  return out;
}

}  // namespace

TEST(Encodability, FirstUnrepresentableCharacter) {
  const std::pair<const char*, const char*> cases[] = {
      {"Plain caf\xC3\xA9 \xE4\xB8\xAD\xE6\x96\x87 ~", ""}, {"\xC2\xA0 nbsp", ""},
      {"bell\x07", "U+0007"}, {"note \xF0\x9F\x8E\xB5 and \x01", "U+1F3B5"}, {"del\x7F", "U+007F"},
      {"c1 \xC2\x85", "U+0085"}, {"tab\there", "U+0009"}, {"\xEF\xBF\xBD", "U+FFFD"},
      {"cut \xE4\xB8", "U+FFFD"},        // cut short by the end
      {"latin1 \xE9t\xE9", "U+FFFD"},    // not UTF-8
  };
  for (const auto& [text, want] : cases) {
    std::string cp;
    EXPECT_EQ(find_unencodable(text, cp), *want != 0) << text;
    EXPECT_EQ(cp, want) << text;
  }
}

TEST(Preflight, CleanAlbumHasNoIssues) {
  Disc a = album_with_titles({"One", "Two"});
  a.album.year = "1999";
  a.album.disc_number = "1";
  a.album.disc_total = "2";
  a.album.isrcs[0] = "USABC2400001";
  EXPECT_TRUE(check(a).empty());
}

TEST(Preflight, IsrcShapeAndDuplicates) {
  Disc a = album_with_titles({"A", "B", "C", "D"});
  a.album.isrcs[0] = "us-abc-24-00001";
  a.album.isrcs[1] = "USABC2400001";
  a.album.isrcs[2] = "US-AB1-24-0001";
  a.album.isrcs[3] = "US ABC 24 00001";
  EXPECT_EQ(messages(check(a)),
            (std::vector<std::string>{"2 track 2: duplicate ISRC: USABC2400001 is the same as track 1",
                                      "2 track 3: invalid ISRC format: \"US-AB1-24-0001\"",
                                      "2 track 4: duplicate ISRC: USABC2400001 is the same as track 1"}));
}

TEST(Preflight, TitleLengthAndEmptiness) {
  const std::string t200(200, 'x'), t201(201, 'y');
  std::string cjk;
  for (int i = 0; i < 80; ++i) cjk += "\xE4\xB8\xAD";
  Disc a = album_with_titles({t200, t201, cjk, ""});
  const auto m = messages(check(a));
  EXPECT_EQ(m, (std::vector<std::string>{"1 track 2: title is too long (201 bytes)",
                                         "1 track 3: title is too long (240 bytes)", "1 track 4: title is empty"}));
}

TEST(Preflight, UnencodableTitlesAndArtists) {
  Disc a = album_with_titles({"ring\x07", "song \xF0\x9F\x8E\xB5", "caf\xC3\xA9", "\xE4\xB8\xAD"});
  a.tracks[2].artist = "DJ \xF0\x9F\x94\xA5";
  a.album.title = "Best \xF0\x9F\x8E\xB5";
  a.album.artist = "Band\x1B";
  const auto m = messages(check(a));
  EXPECT_EQ(m, (std::vector<std::string>{
                   "2 track 1: title contains characters the encoder cannot represent (U+0007",
                   "2 track 2: title contains characters the encoder cannot represent (U+1F3B5",
                   "2 track 3: artist contains characters the encoder cannot represent (U+1F525",
                   "2 album: album title contains characters the encoder cannot represent (U+1F3B5)",
                   "2 album: album artist contains characters the encoder cannot represent (U+001B)"}));
}

TEST(Preflight, AlbumTitleYearAndEmptyTrackList) {
  Disc a;
  a.album.year = "87";
  EXPECT_EQ(messages(check(a)),
            (std::vector<std::string>{"2 album: album has no tracks", "1 album: album title is empty",
                                      "1 album: year is not 4 digits: \"87\""}));
  a = album_with_titles({"x"});
  a.album.year = "1987a";
  EXPECT_EQ(messages(check(a)),
            (std::vector<std::string>{"1 album: year is not 4 digits: \"1987a\""}));
  a.album.year = "";
  EXPECT_TRUE(check(a).empty());
  // A date that is no real day is not used, and the warning says what is.
  a.album.date = "2019-02-29";
  a.album.year = "2019";
  EXPECT_EQ(messages(check(a)),
            (std::vector<std::string>{"1 disc: date is not a valid YYYY-MM-DD date: \"2019-02-29\" -- the disc "
                                      "date takes the year 2019 with today's month and day"}));
  a.album.date = "May 4";
  a.album.year = "";
  EXPECT_EQ(messages(check(a)),
            (std::vector<std::string>{
                "1 disc: date is not a valid YYYY-MM-DD date: \"May 4\" -- the disc date takes today's date"}));
  a.album.date = "2020-02-29";
  EXPECT_TRUE(check(a).empty());
}

TEST(Preflight, RatesPlayersCannotReadAreNamedOnce) {
  PackRun run;
  run.tracks.resize(3);
  run.tracks[0].sample_rate = 5644800;
  run.tracks[1].sample_rate = 5644800;
  run.tracks[2].sample_rate = 3072000;
  EXPECT_EQ(messages(preflight_layout_checks(run)),
            (std::vector<std::string>{
                "1 disc: audio at 5644800 Hz, 3072000 Hz: SACD players and rippers read only 2822400 Hz (DSD64) "
                "areas (an SACD ripper processes 0 frames of a DSD128 area); the image is written as asked -- "
                "--dsd-disc keeps the files at their own rate"}));
  for (InputTrack& t : run.tracks) t.sample_rate = 2822400;
  EXPECT_TRUE(preflight_layout_checks(run).empty());
}

TEST(Preflight, DiscNumberRules) {
  auto disc = [](const std::string& number, const std::string& total) {
    Disc a = album_with_titles({"x"});
    a.album.disc_number = number;
    a.album.disc_total = total;
    return messages(check(a));
  };
  EXPECT_EQ(disc("2", "1"), (std::vector<std::string>{"2 disc: disc number 2 is greater than the total discs 1"}));
  EXPECT_EQ(disc("0", "1"), (std::vector<std::string>{"1 disc: disc number is not a positive integer: \"0\""}));
  EXPECT_EQ(disc("0", "0"), (std::vector<std::string>{"1 disc: total discs is not a positive integer: \"0\"",
                                                      "1 disc: disc number is not a positive integer: \"0\""}));
  EXPECT_EQ(disc("2", "x"), (std::vector<std::string>{"1 disc: total discs is not a positive integer: \"x\""}));
  EXPECT_EQ(disc("", "3"), std::vector<std::string>{});
  EXPECT_EQ(disc("3", ""), std::vector<std::string>{});
  EXPECT_EQ(disc("2", "2"), std::vector<std::string>{});
  EXPECT_EQ(disc("+1", "2"), (std::vector<std::string>{"1 disc: disc number is not a positive integer: \"+1\""}));
  // A number beyond 32 bits is not taken as a wrapped small one.
  EXPECT_EQ(disc("4294967298", "3"),
            (std::vector<std::string>{"1 disc: disc number is not a positive integer: \"4294967298\""}));
}

// With no album title or artist the disc carries the first track's tags,
// so those are what is checked.
TEST(Preflight, AlbumTextsFallBackToTheFirstTrack) {
  Disc a = album_with_titles({"One"});
  a.album.title.clear();
  a.tracks[0].album = "Tag \xF0\x9F\x8E\xB5";
  a.tracks[0].artist = "Singer\x07";
  EXPECT_EQ(messages(check(a)),
            (std::vector<std::string>{
                "2 track 1: artist contains characters the encoder cannot represent (U+0007",
                "2 album: album title contains characters the encoder cannot represent (U+1F3B5)",
                "2 album: album artist contains characters the encoder cannot represent (U+0007)"}));
  a.album.title = "Album";
  a.album.artist = "Band";
  EXPECT_EQ(messages(check(a)), (std::vector<std::string>{
                                    "2 track 1: artist contains characters the encoder cannot represent (U+0007"}));
}

// Errors go to standard error and stop the run unless allowed, warnings and
// notes to standard output with their marks.
TEST(PreflightStage, PrintsIssuesAndRefusesOnErrors) {
  PackRun run;
  run.job.album.title = "Album";
  run.job.album.year = "87";
  InputTrack a, b;
  a.title = "One";
  b.title = "Two";
  run.tracks = {a, b};
  run.job.album.isrcs = {{0, "USABC2400001"}, {1, "USABC2400001"}};
  StageResult r;
  auto s = capture([&] { r = stage_preflight(run); });
  EXPECT_EQ(r, std::optional<int>(1));
  EXPECT_TRUE(contains(s.out, "  \xE2\x9A\xA0 [meta] album: year is not 4 digits: \"87\""));
  EXPECT_TRUE(contains(s.out, "  [meta] pre-flight: 1 error(s), 1 warning(s)\n"));
  EXPECT_TRUE(contains(s.err, "  \xE2\x9D\x8C [meta] track 2: duplicate ISRC: USABC2400001"));
  EXPECT_TRUE(contains(s.err, "--allow-meta-errors"));

  run.job.allow_meta_errors = true;
  s = capture([&] { r = stage_preflight(run); });
  EXPECT_EQ(r, std::nullopt);
  EXPECT_TRUE(contains(s.out, "[meta] pre-flight: 1 error(s), 1 warning(s)"));
  EXPECT_FALSE(contains(s.err, "--allow-meta-errors"));

  // Warnings alone do not stop; a clean album prints nothing.
  run = PackRun();
  run.tracks = {InputTrack()};
  s = capture([&] { r = stage_preflight(run); });
  EXPECT_EQ(r, std::nullopt);
  EXPECT_EQ(s.err, "");
  EXPECT_TRUE(contains(s.out, "  [meta] pre-flight: 0 error(s), 2 warning(s)\n"));
  run.job.album.title = "A";
  run.tracks[0].title = "T";
  s = capture([&] { r = stage_preflight(run); });
  EXPECT_EQ(r, std::nullopt);
  EXPECT_EQ(s.out + s.err, "");

  s = capture([&] { print_meta_issues({{0, "album", "fine print"}}); });
  EXPECT_EQ(s.out, "  \xC2\xB7 [meta] album: fine print\n");  // no summary for notes alone
}
