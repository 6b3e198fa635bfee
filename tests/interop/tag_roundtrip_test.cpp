// Tagged albums through an independent SACD ripper and back: the ripper
// extracts our image as DSF, as decoded DSDIFF, as DST-coded DSDIFF and as
// an edit master; its files pack again without --allow-meta-errors, and a
// second rip gives the audio bit for bit and the titles and artists that
// were tagged.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/sacd_reader.h"
#include "support/test_support.h"

namespace {

using testsupport::field;
using testsupport::ScratchDir;

struct Tagged {
  std::string title, artist;
};

// One disc of Latin-1 text and one of Japanese text, each within its
// character set (the tag encodings themselves are the mutagen suite's).
const std::vector<std::vector<Tagged>> kAlbums = {
    {{"\xC3\x81ria Caf\xC3\xA9", "Rolando Villaz\xC3\xB3n"}, {"Duo", "Anna Netrebko"}},
    {{"\xE3\x81\x95\xE3\x81\x8F\xE3\x82\x89", "\xE3\x82\x84\xE3\x81\xBE\xE3\x81\xA0"},
     {"\xE3\x81\xB5\xE3\x81\x98", "Singer B"}},
};

struct RipMode {
  const char* what;
  std::vector<std::string> options;
  bool edit_master;  // one file for the whole area, texts of its first track
};

const RipMode kModes[] = {
    {"DSF", {"-2", "-s"}, false},
    {"DSDIFF", {"-2", "-p", "-c"}, false},
    {"DST DSDIFF", {"-2", "-p"}, false},
    {"edit master", {"-2", "-e", "-p", "-c"}, true},
};

testsupport::RunResult pack(const std::string& iso, const std::vector<std::string>& files,
                            const std::vector<std::string>& options = {}) {
  std::vector<std::string> args = {"-o", iso};
  args.insert(args.end(), options.begin(), options.end());
  args.insert(args.end(), files.begin(), files.end());
  return testsupport::run_varntessel(args, {"SOURCE_DATE_EPOCH=1700000000"});
}

void expect_texts(const std::string& reader, const std::string& iso, const std::string& workdir,
                  const std::vector<Tagged>& want) {
  const testsupport::ReaderReport info = testsupport::read_sacd_info(reader, iso, workdir);
  ASSERT_EQ(info.areas.size(), 1u) << info.text;
  ASSERT_EQ(info.areas[0].tracks.size(), want.size()) << info.text;
  for (size_t k = 0; k < want.size(); ++k) {
    EXPECT_EQ(field(info.areas[0].tracks[k], "Title"), want[k].title) << "track " << k + 1;
    EXPECT_EQ(field(info.areas[0].tracks[k], "Performer"), want[k].artist) << "track " << k + 1;
  }
}

std::string make_dir(const std::string& path) {
  std::filesystem::create_directories(path);
  return path;
}

}  // namespace

TEST(TagRoundTrip, RippedFilesPackAgainWithTheirAudioAndTexts) {
  const std::string reader = testsupport::sacd_reader();
  if (reader.empty()) GTEST_SKIP() << testsupport::sacd_reader_skip_reason();
  for (const std::vector<Tagged>& album : kAlbums) {
    ScratchDir dir;
    std::vector<std::string> inputs;
    for (size_t i = 0; i < album.size(); ++i) {
      inputs.push_back(dir.file("in" + std::to_string(i) + ".dsf"));
      ASSERT_TRUE(testsupport::dsdgen({"--samples", std::to_string(30 * (2822400 / 75)), "--seed", std::to_string(i + 7),
                                       "--utf16", "--title", album[i].title, "--artist", album[i].artist, inputs.back()}));
    }
    // A DST-coded area, so that the ripper's DSDIFF without -c keeps frames.
    const std::string first = dir.file("first.iso");
    const testsupport::RunResult packed = pack(first, inputs, {"--album", "Tagged", "--dst-stereo"});
    ASSERT_EQ(packed.exit_code, 0) << packed.err;
    expect_texts(reader, first, dir.path, album);

    for (const RipMode& mode : kModes) {
      SCOPED_TRACE(std::string(mode.what) + ", " + album[0].title);
      const std::string out = make_dir(dir.file(mode.what));
      const testsupport::ReaderExtraction rip = testsupport::extract_sacd(reader, first, out, mode.options);
      ASSERT_GE(rip.tracks.size(), mode.edit_master ? 1u : album.size()) << rip.text;
      std::vector<std::string> files;
      for (size_t k = 0; k < (mode.edit_master ? 1 : album.size()); ++k) files.push_back(rip.tracks[k].file);

      const std::string again = out + "/again.iso";
      const testsupport::RunResult repacked = pack(again, files);
      ASSERT_EQ(repacked.exit_code, 0) << repacked.err;
      const std::vector<Tagged> want = mode.edit_master ? std::vector<Tagged>{album[0]} : album;
      expect_texts(reader, again, out, want);

      const testsupport::ReaderExtraction second =
          testsupport::extract_sacd_area(reader, again, make_dir(out + "/second"), false, true);
      ASSERT_EQ(second.tracks.size(), want.size()) << second.text;
      for (size_t k = 0; k < want.size(); ++k) {
        EXPECT_EQ(second.tracks[k].processed, second.tracks[k].specified) << "track " << k + 1;
        // The edit master holds the whole area; its decoded rip is the reference.
        const std::string& reference = mode.edit_master ? files[0] : inputs[k];
        EXPECT_EQ(testsupport::compare_dsd_audio(second.tracks[k].file, reference), "") << "track " << k + 1;
      }
    }
  }
}
