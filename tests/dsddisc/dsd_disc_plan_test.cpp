#include <gtest/gtest.h>

#include "dsd_disc_test_util.h"
#include "dsddisc/dsd_disc_plan.h"

#include <functional>

using dsdtest::track;
using testsupport::ScratchDir;
using testsupport::file_exists;
using testsupport::write_text;

namespace {

// A DSF file of exactly `n` bytes (116 or more): one sample byte per
// channel and a tag padded to the size.
std::string bytes_file(const ScratchDir& dir, const std::string& name, size_t n) {
  std::string path = dir.file(name);
  dsdgen::DsfOptions o;
  o.block_size = 0;
  o.tags.title = "t";
  o.tags.padding = uint32_t(n - 116);
  EXPECT_TRUE(dsdgen::write_dsf(path, 2, 2822400, {0x69, 0x69}, o));
  EXPECT_EQ(testsupport::read_file(path).size(), n);
  return path;
}

}  // namespace

TEST(DsdDiscPlan, SectorsFrom257TracksThenPlaylists) {
  ScratchDir dir;
  varn::DsdDiscJob job;
  job.image_path = dir.file("disc.iso");
  job.tracks = {track(bytes_file(dir, "a.dsf", 116), "ALBUM"),
                track(bytes_file(dir, "b.dsf", 2048), "Live"),
                track(bytes_file(dir, "c.dsf", 2049), "ALBUM")};
  varn::DsdDiscPlan plan;
  ASSERT_TRUE(varn::plan_dsd_disc(job, plan));

  ASSERT_EQ(plan.tracks.size(), 3u);
  EXPECT_EQ(plan.tracks[0].lsn, 257u);
  EXPECT_EQ(plan.tracks[1].lsn, 258u);
  EXPECT_EQ(plan.tracks[2].lsn, 259u);
  EXPECT_EQ(plan.tracks[2].size, 2049u);
  EXPECT_EQ(plan.tracks[0].dir_path, "DSD_DISC/ALBUM");
  EXPECT_EQ(plan.tracks[1].dir_path, "DSD_DISC/Live");

  ASSERT_EQ(plan.albums.size(), 2u);
  EXPECT_EQ(plan.albums[0].name, "ALBUM");
  EXPECT_EQ(plan.albums[0].tracks, (std::vector<size_t>{0, 2}));
  EXPECT_EQ(plan.albums[1].name, "Live");

  ASSERT_EQ(plan.playlists.size(), 2u);
  EXPECT_EQ(plan.playlists[0].name, "ALBUM.ddp");
  EXPECT_EQ(plan.playlists[0].dir_path, "DSD_DISC");
  EXPECT_EQ(plan.playlists[0].text, "#Playlist ALBUM.ddp\n./ALBUM/a.dsf\n./ALBUM/c.dsf\n");
  EXPECT_EQ(plan.playlists[0].lsn, 261u);
  EXPECT_EQ(plan.playlists[1].text, "#Playlist Live.ddp\n./Live/b.dsf\n");
  EXPECT_EQ(plan.playlists[1].lsn, 262u);
  EXPECT_EQ(plan.data_end, 263u);
  EXPECT_EQ(plan.block_count(), 263u + 512u);
  EXPECT_EQ(plan.label, "DSD_DISC");

  // Directories before their files, the playlists last.
  const struct {
    bool dir;
    const char* dir_path;
    const char* name;
    uint64_t lsn, size;
  } want[] = {{true, "", "DSD_DISC", 0, 0},         {true, "DSD_DISC", "ALBUM", 0, 0},
              {false, "DSD_DISC/ALBUM", "a.dsf", 257, 116}, {false, "DSD_DISC/ALBUM", "c.dsf", 259, 2049},
              {true, "DSD_DISC", "Live", 0, 0},     {false, "DSD_DISC/Live", "b.dsf", 258, 2048},
              {false, "DSD_DISC", "ALBUM.ddp", 261, 48}, {false, "DSD_DISC", "Live.ddp", 262, 32}};
  std::vector<varn::UdfFileEntry> e = varn::dsd_disc_udf_entries(plan);
  ASSERT_EQ(e.size(), std::size(want));
  for (size_t i = 0; i < e.size(); ++i) {
    EXPECT_EQ(e[i].is_directory, want[i].dir) << i;
    EXPECT_EQ(e[i].dir_path, want[i].dir_path) << i;
    EXPECT_EQ(e[i].name, want[i].name) << i;
    if (!want[i].dir) {
      EXPECT_EQ(e[i].lsn, want[i].lsn) << i;
      EXPECT_EQ(e[i].size, want[i].size) << i;
    }
  }
}

TEST(DsdDiscPlan, AlbumsInByteOrderWhateverTheJobOrder) {
  ScratchDir dir;
  varn::DsdDiscJob job;
  job.image_path = dir.file("disc.iso");
  job.playlists = false;
  job.tracks = {track(bytes_file(dir, "1.dsf", 200), "\xC3\x84rger"),
                track(bytes_file(dir, "2.dsf", 200), "alpha"),
                track(bytes_file(dir, "3.dsf", 200), "Zed"),
                track(bytes_file(dir, "4.dsf", 200), "alpha")};
  varn::DsdDiscPlan plan;
  ASSERT_TRUE(varn::plan_dsd_disc(job, plan));
  ASSERT_EQ(plan.albums.size(), 3u);
  EXPECT_EQ(plan.albums[0].name, "Zed");
  EXPECT_EQ(plan.albums[1].name, "alpha");
  EXPECT_EQ(plan.albums[1].tracks, (std::vector<size_t>{1, 3}));
  EXPECT_EQ(plan.albums[2].name, "\xC3\x84rger");
  EXPECT_TRUE(plan.playlists.empty());
  EXPECT_EQ(plan.data_end, 261u);
}

TEST(DsdDiscPlan, LabelIsTitleCutTo32Bytes) {
  ScratchDir dir;
  varn::DsdDiscJob job;
  job.image_path = dir.file("disc.iso");
  job.tracks = {track(bytes_file(dir, "a.dsf", 200), "ALBUM")};
  job.title = std::string(40, 'T');
  varn::DsdDiscPlan plan;
  ASSERT_TRUE(varn::plan_dsd_disc(job, plan));
  EXPECT_EQ(plan.label, std::string(32, 'T'));
  job.title = std::string(31, 'T') + "\xc3\xa9";  // never cut inside a character
  ASSERT_TRUE(varn::plan_dsd_disc(job, plan));
  EXPECT_EQ(plan.label, std::string(31, 'T'));
  job.title = "Live at Home";
  ASSERT_TRUE(varn::plan_dsd_disc(job, plan));
  EXPECT_EQ(plan.label, "Live at Home");
}

TEST(DsdDiscPlan, SameFileNameInTwoAlbumsIsFine) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.file("x"));
  std::filesystem::create_directories(dir.file("y"));
  varn::DsdDiscJob job;
  job.image_path = dir.file("disc.iso");
  job.tracks = {track(bytes_file(dir, "x/01.dsf", 200), "One"),
                track(bytes_file(dir, "y/01.dsf", 200), "Two")};
  varn::DsdDiscPlan plan;
  EXPECT_TRUE(varn::plan_dsd_disc(job, plan));
}

// Every refusal happens before the image is touched: no image appears, and
// a file already at the image path keeps its bytes.
class DsdDiscRefusal : public testing::Test {
 protected:
  ScratchDir dir;
  varn::DsdDiscJob job;
  void SetUp() override {
    job.image_path = dir.file("disc.iso");
    job.tracks = {track(bytes_file(dir, "a.dsf", 3000), "ALBUM"),
                  track(bytes_file(dir, "b.dsf", 3000), "ALBUM")};
  }
  // The refusal's message; no image appears, one already there stays.
  std::string refuse() {
    const bool had_image = file_exists(job.image_path);
    bool ok = true;
    const testsupport::Streams s = testsupport::capture([&] { ok = varn::build_dsd_disc(job); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(s.out, "");
    EXPECT_EQ(file_exists(job.image_path), had_image);
    return s.err;
  }
};

// Each case changes the job of two tracks in one album; the album names
// themselves are checked by the name rule, once here through the job: the
// missing file of track 1 is never read, the album of track 2 comes first.
TEST_F(DsdDiscRefusal, JobsThatCannotBeWritten) {
  const std::string long_stem(247, 'n');  // names of 253 bytes, within the host limit
  std::filesystem::create_directories(dir.file("other"));
  const std::string other = bytes_file(dir, "other/a.dsf", 200);
  const std::string n1 = bytes_file(dir, long_stem + "1.dsf", 200), n2 = bytes_file(dir, long_stem + "2.dsf", 200);
  const struct {
    std::function<void(varn::DsdDiscJob&)> change;
    std::string message;
  } cases[] = {
      {[](varn::DsdDiscJob& j) { j.tracks.clear(); }, "Error: no tracks provided\n"},
      {[&](varn::DsdDiscJob& j) { j.tracks[0].source_path = dir.file("missing.dsf"); j.tracks[1].album_folder = ".."; },
       "Error: reserved album name: '..'\n"},
      {[](varn::DsdDiscJob& j) { j.tracks[1].album_folder = std::string(247, 'a'); },
       "Error: album name is longer than 246 bytes: '" + std::string(247, 'a') + "'\n"},
      {[](varn::DsdDiscJob& j) { j.playlists = false; j.tracks[1].album_folder = std::string(251, 'a'); },
       "Error: album name is longer than 250 bytes: '" + std::string(251, 'a') + "'\n"},
      {[](varn::DsdDiscJob& j) { j.tracks[1].album_folder = "ALBUM.ddp"; },
       "Error: album folder 'ALBUM.ddp' has the name of the playlist of album 'ALBUM'\n"},
      {[&](varn::DsdDiscJob& j) { j.tracks.push_back(track(other, "ALBUM")); },
       "Error: duplicate file name 'a.dsf' in album 'ALBUM'\n"},
      {[&](varn::DsdDiscJob& j) { j.tracks = {track(n1, "ALBUM"), track(n2, "ALBUM")}; },
       "Error: duplicate file name '" + std::string(246, 'n') + ".dsf' in album 'ALBUM'\n"},
      {[&](varn::DsdDiscJob& j) { j.image_path = dir.file("no/such/dir/disc.iso"); },
       "Error: cannot create a file beside " + dir.file("no/such/dir/disc.iso") + ": No such file or directory\n"},
  };
  const varn::DsdDiscJob base = job;
  for (const auto& c : cases) {
    job = base;
    c.change(job);
    EXPECT_EQ(refuse(), c.message);
  }
  // Without playlists a folder named like one is fine.
  job = base;
  job.playlists = false;
  job.tracks[1].album_folder = "ALBUM.ddp";
  varn::DsdDiscPlan plan;
  EXPECT_TRUE(varn::plan_dsd_disc(job, plan));
}

TEST_F(DsdDiscRefusal, UnusableInputs) {
  std::filesystem::create_directories(dir.file("folder.dsf"));
  write_text(dir.file("empty.dsf"), "");
  const std::pair<std::string, std::string> cases[] = {
      {dir.file("missing.dsf"), "Error: cannot open " + dir.file("missing.dsf") + ": No such file or directory\n"},
      {dir.file("folder.dsf"), "Error: cannot open " + dir.file("folder.dsf") + ": a directory, not a file\n"},
      {"/dev/zero", "Error: cannot open /dev/zero: not a regular file\n"},
      {dir.file("empty.dsf"), "Error: " + dir.file("empty.dsf") + " is empty\n"},
  };
  for (const auto& [path, message] : cases) {
    job.tracks[1].source_path = path;
    const std::string err = refuse();
    EXPECT_EQ(err.substr(err.rfind("Error: ")), message) << err;
  }
}

TEST_F(DsdDiscRefusal, ExistingImageIsLeftAloneOnRefusal) {
  write_text(job.image_path, "previous disc");
  job.tracks[1].album_folder = "..";
  refuse();
  EXPECT_EQ(testsupport::read_text(job.image_path), "previous disc");
}

TEST_F(DsdDiscRefusal, ImageMustNotBeAnInput) {
  std::string input = job.tracks[1].source_path;
  job.image_path = input;
  EXPECT_EQ(refuse(), "Error: the image " + input + " would overwrite the input file " + input + "\n");
  EXPECT_EQ(testsupport::read_file(input).size(), 3000u);
}
