// DSD Disc planning: sectors, albums, playlists, names on the disc, and
// every refusal made before the image is touched.
#include <algorithm>
#include <functional>

#include "dsd_disc_test_util.h"

using dsdtest::bytes_file;
using dsdtest::track;
using testsupport::ScratchDir;
using testsupport::file_exists;
using testsupport::write_text;

TEST(DsdDiscPlan, SectorsFrom257TracksThenPlaylists) {
  ScratchDir dir;
  varn::DsdDiscJob job;
  job.image_path = dir.file("disc.iso");
  job.title = std::string(31, 'T') + "\xc3\xa9";  // the label is never cut inside a character
  job.tracks = {track(bytes_file(dir, "a.dsf", 116), "ALBUM"), track(bytes_file(dir, "b.dsf", 2048), "Live"),
                track(bytes_file(dir, "c.dsf", 2049), "ALBUM")};
  varn::DsdDiscPlan plan;
  ASSERT_TRUE(!varn::plan_dsd_disc(job, plan));
  EXPECT_EQ(plan.label, std::string(31, 'T'));
  ASSERT_EQ(plan.albums.size(), 2u);
  EXPECT_EQ(plan.albums[0].tracks, (std::vector<size_t>{0, 2}));
  ASSERT_EQ(plan.playlists.size(), 2u);
  EXPECT_EQ(plan.playlists[0].text, "#Playlist ALBUM.ddp\n./ALBUM/a.dsf\n./ALBUM/c.dsf\n");
  EXPECT_EQ(plan.playlists[1].text, "#Playlist Live.ddp\n./Live/b.dsf\n");
  EXPECT_EQ(plan.data_end, 263u);
  EXPECT_EQ(plan.total_sectors, 263u + 512u);
  // One map of the image: the bridge and UDF descriptors, the tracks and
  // playlists from 257, the UDF metadata and last anchor behind them.
  std::string extents;
  for (const varn::Extent& e : plan.map.extents)
    extents += std::to_string(e.first) + "+" + std::to_string(e.count) + (e.kind == varn::kDiscTrack ? "T " : " ");
  EXPECT_EQ(extents, "16+1 17+1 18+3 32+16 48+16 64+1 65+1 66+1 67+1 68+1 256+1 257+1T 258+1T 259+2T 261+1 262+1 "
                     "519+1 755+1 756+1 757+1 758+1 759+1 760+1 761+1 762+1 763+1 764+1 765+1 766+1 767+1 768+1 "
                     "769+1 774+1 ");
  // Directories before their files, the playlists last.
  std::string entries;
  for (const varn::UdfFileEntry& e : varn::dsd_disc_udf_entries(plan))
    entries += e.dir_path + "/" + e.name + (e.is_directory ? "/" : " " + std::to_string(e.lsn) + "+" + std::to_string(e.size)) + "\n";
  EXPECT_EQ(entries, "/DSD_DISC/\nDSD_DISC/ALBUM/\nDSD_DISC/ALBUM/a.dsf 257+116\nDSD_DISC/ALBUM/c.dsf 259+2049\n"
                     "DSD_DISC/Live/\nDSD_DISC/Live/b.dsf 258+2048\nDSD_DISC/ALBUM.ddp 261+48\nDSD_DISC/Live.ddp 262+32\n");

  // Albums in byte order whatever the job order; the same file name in two
  // albums is fine.
  std::filesystem::create_directories(dir.file("x"));
  job.playlists = false;
  job.tracks = {track(bytes_file(dir, "1.dsf", 200), "\xC3\x84rger"), track(bytes_file(dir, "x/a.dsf", 200), "alpha"),
                track(bytes_file(dir, "3.dsf", 200), "Zed"), track(bytes_file(dir, "4.dsf", 200), "alpha")};
  ASSERT_TRUE(!varn::plan_dsd_disc(job, plan));
  ASSERT_EQ(plan.albums.size(), 3u);
  EXPECT_EQ(plan.albums[0].name, "Zed");
  EXPECT_EQ(plan.albums[1].tracks, (std::vector<size_t>{1, 3}));
  EXPECT_EQ(plan.albums[2].name, "\xC3\x84rger");
  EXPECT_TRUE(plan.playlists.empty());
  EXPECT_EQ(plan.data_end, 261u);
}

// The last path component, cut to 250 bytes on the disc between characters,
// keeping the extension (from the last dot) when it can.
TEST(DsdDiscNames, FileNames) {
  const std::string ext250 = "." + std::string(249, 'x'), huge = "ab." + std::string(300, 'x');
  const std::string dotted = std::string(200, 'a') + ".live." + std::string(100, 'b') + ".dsf";
  std::string sun, e_acute;  // U+65E5 takes 2 bytes on the disc, U+00E9 one
  for (int i = 0; i < 130; ++i) sun += "\xe6\x97\xa5";
  for (int i = 0; i < 246; ++i) e_acute += "\xc3\xa9";
  const std::pair<std::string, std::string> cases[] = {
      {"/music/live/01 Intro.dsf", "01 Intro.dsf"},
      {"mixed/we\\ird.dsf", "we\\ird.dsf"},  // a backslash belongs to the name
      {"dir/", ""},
      {std::string(246, 'e') + ".dsf", std::string(246, 'e') + ".dsf"},  // exactly 250 bytes
      {"/x/" + std::string(300, 's') + ".dsf", std::string(246, 's') + ".dsf"},
      {dotted, dotted.substr(0, 246) + ".dsf"},
      {std::string(400, 'p'), std::string(250, 'p')},
      {"ccc" + ext250, ext250},
      {huge, huge.substr(0, 250)},  // a longer extension cannot be kept
      {sun + ".dsf", sun.substr(0, 121 * 3) + ".dsf"},
      {e_acute + "\xc3\xa9.dsf", e_acute + ".dsf"},
  };
  for (const auto& [path, name] : cases) EXPECT_EQ(varn::disc_file_name(path), name) << path;
}

// Every refusal happens before the image is touched: nothing is printed on
// standard output, no image appears, and a file already there keeps its bytes.
TEST(DsdDiscRefusal, JobsThatCannotBeWritten) {
  ScratchDir dir;
  varn::DsdDiscJob base;
  base.image_path = dir.file("disc.iso");
  base.tracks = {track(bytes_file(dir, "a.dsf", 3000), "ALBUM"), track(bytes_file(dir, "b.dsf", 3000), "ALBUM")};
  const std::string long_stem(247, 'n');
  std::filesystem::create_directories(dir.file("other"));
  std::filesystem::create_directories(dir.file("folder.dsf"));
  write_text(dir.file("empty.dsf"), "");
  const std::string other = bytes_file(dir, "other/a.dsf", 200);
  const std::string n1 = bytes_file(dir, long_stem + "1.dsf", 200), n2 = bytes_file(dir, long_stem + "2.dsf", 200);
  using Job = varn::DsdDiscJob;
  const auto input = [](std::string path) { return [path](Job& j) { j.tracks[1].source_path = path; }; };
  const auto album = [](std::string name) { return [name](Job& j) { j.tracks[1].album_folder = name; }; };
  const struct {
    std::function<void(Job&)> change;
    std::string message;
  } cases[] = {
      {[](Job& j) { j.tracks.clear(); }, "Error: no tracks provided\n"},
      {album(""), "Error: album name is empty\n"},
      {album("Live/2020"), "Error: album name must not contain path separators: 'Live/2020'\n"},
      {album("Live\\2020"), "Error: album name must not contain path separators: 'Live\\2020'\n"},
      // The missing file of track 1 is never read: the names come first.
      {[&](Job& j) { j.tracks[0].source_path = dir.file("missing.dsf"); j.tracks[1].album_folder = ".."; },
       "Error: reserved album name: '..'\n"},
      {album(std::string(247, 'a')), "Error: album name is longer than 246 bytes: '" + std::string(247, 'a') + "'\n"},
      {[](Job& j) { j.playlists = false; j.tracks[1].album_folder = std::string(251, 'a'); },
       "Error: album name is longer than 250 bytes: '" + std::string(251, 'a') + "'\n"},
      {album("ALBUM.ddp"), "Error: album folder 'ALBUM.ddp' has the name of the playlist of album 'ALBUM'\n"},
      {[&](Job& j) { j.tracks.push_back(track(other, "ALBUM")); }, "Error: duplicate file name 'a.dsf' in album 'ALBUM'\n"},
      {[&](Job& j) { j.tracks = {track(n1, "ALBUM"), track(n2, "ALBUM")}; },
       "Error: duplicate file name '" + std::string(246, 'n') + ".dsf' in album 'ALBUM'\n"},
      {[&](Job& j) { j.image_path = dir.file("no/such/dir/disc.iso"); },
       "Error: cannot create a file beside " + dir.file("no/such/dir/disc.iso") + ": No such file or directory\n"},
      {input(dir.file("missing.dsf")), "Error: cannot open " + dir.file("missing.dsf") + ": No such file or directory\n"},
      {input(dir.file("folder.dsf")), "Error: cannot open " + dir.file("folder.dsf") + ": a directory, not a file\n"},
      {input("/dev/zero"), "Error: cannot open /dev/zero: not a regular file\n"},
      {input(dir.file("empty.dsf")), "Error: " + dir.file("empty.dsf") + " is empty\n"},
      {[&](Job& j) { j.image_path = j.tracks[1].source_path; },
       "Error: the image " + dir.file("b.dsf") + " would overwrite the input file " + dir.file("b.dsf") + "\n"},
  };
  for (bool image_there : {false, true}) {
    if (image_there) write_text(base.image_path, "previous disc");
    for (const auto& c : cases) {
      Job job = base;
      c.change(job);
      const dsdtest::Built b = dsdtest::build(job);
      EXPECT_FALSE(b.ok);
      EXPECT_EQ(b.out, "");
      EXPECT_EQ(b.err.substr(std::min(b.err.rfind("Error: "), b.err.size())), c.message);
      EXPECT_EQ(file_exists(base.image_path), image_there);
    }
  }
  EXPECT_EQ(testsupport::read_text(base.image_path), "previous disc");
  EXPECT_EQ(testsupport::read_file(dir.file("b.dsf")).size(), 3000u);
  // Without playlists a folder named like one is fine.
  Job job = base;
  job.playlists = false;
  job.tracks[1].album_folder = "ALBUM.ddp";
  varn::DsdDiscPlan plan;
  EXPECT_TRUE(!varn::plan_dsd_disc(job, plan));
}
