// Whole DSD Disc images, checked byte by byte and through real readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "dsd_disc_test_util.h"
#include "dsddisc/dsd_disc_plan.h"

using dsdtest::make_dsf;
using dsdtest::sector_bytes;
using dsdtest::text_of;
using dsdtest::track;
using testsupport::ScratchDir;
using testsupport::file_exists;
using testsupport::have_program;
using testsupport::read_file;
using testsupport::run_program;

namespace {

struct Built {
  bool ok = false;
  std::string out, err;
};

Built build(const varn::DsdDiscJob& job) {
  Built b;
  const testsupport::Streams s = testsupport::capture([&] { b.ok = varn::build_dsd_disc(job); });
  b.out = s.out;
  b.err = s.err;
  return b;
}

// The summary block at the end of standard output.
std::string summary_of(const std::string& out) {
  size_t at = out.find("\n✓ Varn DSD Disc created:");
  return at == std::string::npos ? std::string() : out.substr(at);
}

// Paths listed by 7-Zip's UDF handler.
std::set<std::string> udf_paths(const std::string& image) {
  testsupport::RunResult r = run_program("7z", {"l", "-tudf", "-slt", image});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  std::set<std::string> paths;
  std::istringstream in(r.out);
  std::string line;
  bool listing = false;
  while (std::getline(in, line)) {
    if (line.rfind("----------", 0) == 0) listing = true;
    if (listing && line.rfind("Path = ", 0) == 0) paths.insert(line.substr(7));
  }
  return paths;
}

// Three stereo DSF files of different lengths, the second in "Live": the
// disc of `-o disc.iso --dsd-disc --track-album=2:Live a.dsf b.dsf c.dsf`.
struct ThreeTracks {
  ScratchDir dir;
  varn::DsdDiscJob job;
  std::vector<std::vector<uint8_t>> data;
  ThreeTracks() {
    job.image_path = dir.file("disc.iso");
    const char* names[] = {"a.dsf", "b.dsf", "c.dsf"};
    const uint64_t samples[] = {200000, 120000, 333333};
    for (int i = 0; i < 3; ++i) {
      data.push_back(make_dsf(dir.file(names[i]), samples[i], uint64_t(i + 1)));
      job.tracks.push_back(track(dir.file(names[i]), i == 1 ? "Live" : "ALBUM"));
    }
  }
};

}  // namespace

TEST(DsdDiscImage, LayoutBytes) {
  ThreeTracks t;
  t.job.title = "Concert";
  Built b = build(t.job);
  ASSERT_TRUE(b.ok) << b.err;

  varn::DsdDiscPlan plan;
  ASSERT_TRUE(varn::plan_dsd_disc(t.job, plan));
  std::vector<uint8_t> image = read_file(t.job.image_path);
  ASSERT_EQ(image.size(), uint64_t(plan.data_end + 512) * 2048);

  // Every track unchanged at its sector, zero padding to the sector end.
  uint64_t lsn = 257;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(plan.tracks[i].lsn, lsn);
    EXPECT_EQ(sector_bytes(image, lsn, t.data[i].size()), t.data[i]) << i;
    uint64_t sectors = (t.data[i].size() + 2047) / 2048;
    std::vector<uint8_t> pad = sector_bytes(image, lsn, sectors * 2048);
    EXPECT_TRUE(std::all_of(pad.begin() + t.data[i].size(), pad.end(), [](uint8_t v) { return v == 0; }));
    lsn += sectors;
  }
  // Playlists after the tracks, in album order.
  std::string album_ddp = "#Playlist ALBUM.ddp\n./ALBUM/a.dsf\n./ALBUM/c.dsf\n";
  std::string live_ddp = "#Playlist Live.ddp\n./Live/b.dsf\n";
  EXPECT_EQ(text_of(sector_bytes(image, lsn, album_ddp.size())), album_ddp);
  EXPECT_EQ(text_of(sector_bytes(image, lsn + 1, live_ddp.size())), live_ddp);
  EXPECT_EQ(plan.data_end, lsn + 2);

  // The bridge: primary descriptor with the label, recognition sequence.
  EXPECT_EQ(text_of(sector_bytes(image, 16, 6)).substr(1), "CD001");
  EXPECT_EQ(text_of(std::vector<uint8_t>(image.begin() + 16 * 2048 + 40, image.begin() + 16 * 2048 + 72)),
            "Concert" + std::string(25, ' '));
  EXPECT_EQ(text_of(sector_bytes(image, 18, 6)).substr(1), "BEA01");
  EXPECT_EQ(text_of(sector_bytes(image, 19, 6)).substr(1), "NSR02");
  EXPECT_EQ(text_of(sector_bytes(image, 20, 6)).substr(1), "TEA01");
  // UDF anchor at 256 (tag identifier 2).
  EXPECT_EQ(testsupport::le16(&image[256 * 2048]), 2u);

  EXPECT_EQ(b.err.find("Error"), std::string::npos) << b.err;
}

TEST(DsdDiscImage, ReadersSeeTheTree) {
  if (!have_program("7z")) GTEST_SKIP() << "7z not installed";
  ThreeTracks t;
  ASSERT_TRUE(build(t.job).ok);

  std::set<std::string> want = {"DSD_DISC",           "DSD_DISC/ALBUM",       "DSD_DISC/ALBUM/a.dsf",
                                "DSD_DISC/ALBUM/c.dsf", "DSD_DISC/Live",      "DSD_DISC/Live/b.dsf",
                                "DSD_DISC/ALBUM.ddp", "DSD_DISC/Live.ddp"};
  EXPECT_EQ(udf_paths(t.job.image_path), want);

  std::string out = t.dir.file("x");
  testsupport::RunResult r = run_program("7z", {"x", "-tudf", "-y", "-o" + out, t.job.image_path});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(read_file(out + "/DSD_DISC/ALBUM/a.dsf"), t.data[0]);
  EXPECT_EQ(read_file(out + "/DSD_DISC/Live/b.dsf"), t.data[1]);
  EXPECT_EQ(read_file(out + "/DSD_DISC/ALBUM/c.dsf"), t.data[2]);
  EXPECT_EQ(testsupport::read_text(out + "/DSD_DISC/ALBUM.ddp"),
            "#Playlist ALBUM.ddp\n./ALBUM/a.dsf\n./ALBUM/c.dsf\n");
  EXPECT_EQ(testsupport::read_text(out + "/DSD_DISC/Live.ddp"), "#Playlist Live.ddp\n./Live/b.dsf\n");

  if (have_program("udfinfo")) {
    r = run_program("udfinfo", {t.job.image_path});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("DSD_DISC"), std::string::npos) << r.out;
  }
  if (have_program("isoinfo")) {
    // The bridge shows an empty root: only "." and "..".
    r = run_program("isoinfo", {"-l", "-i", t.job.image_path});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("Directory listing of /"), std::string::npos) << r.out;
    int entries = 0;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line))
      if (line.find("[") != std::string::npos && line.find("]") != std::string::npos) ++entries;
    EXPECT_EQ(entries, 2) << r.out;
  }
}

TEST(DsdDiscImage, PureUdfWithoutTheBridge) {
  ThreeTracks t;
  t.job.iso_bridge = false;
  Built b = build(t.job);
  ASSERT_TRUE(b.ok) << b.err;
  EXPECT_NE(summary_of(b.out).find("  Format: DSD Disc v1.00 (UDF 1.02 without ISO 9660 (Pure UDF))\n"),
            std::string::npos);
  std::vector<uint8_t> image = read_file(t.job.image_path);
  EXPECT_EQ(text_of(sector_bytes(image, 16, 7)), std::string("\0BEA01\1", 7));
  EXPECT_EQ(text_of(sector_bytes(image, 17, 7)), std::string("\0NSR02\1", 7));
  EXPECT_EQ(text_of(sector_bytes(image, 18, 7)), std::string("\0TEA01\1", 7));
  std::vector<uint8_t> rest = sector_bytes(image, 19, 11 * 2048);
  EXPECT_TRUE(std::all_of(rest.begin(), rest.end(), [](uint8_t v) { return v == 0; }));
  if (have_program("7z")) {
    std::set<std::string> paths = udf_paths(t.job.image_path);
    EXPECT_TRUE(paths.count("DSD_DISC/Live/b.dsf"));
    EXPECT_TRUE(paths.count("DSD_DISC/ALBUM.ddp"));
  }
}

TEST(DsdDiscImage, LongTitleAndUnusualNames) {
  ScratchDir dir;
  varn::DsdDiscJob job;
  job.image_path = dir.file("disc.iso");
  job.title = "A title that is longer than thirty-two bytes";
  std::string album = "Live & Friends, 2020 (#1)";
  std::string long_album(246, 'L');
  std::vector<uint8_t> one = make_dsf(dir.file("01 Intro.dsf"), 50000, 7);
  std::vector<uint8_t> two = make_dsf(dir.file("02.dsf"), 50000, 8);
  job.tracks = {track(dir.file("01 Intro.dsf"), album), track(dir.file("02.dsf"), long_album)};
  Built b = build(job);
  ASSERT_TRUE(b.ok) << b.err;
  EXPECT_NE(summary_of(b.out).find("  Title:  " + job.title + "\n"), std::string::npos);
  std::vector<uint8_t> image = read_file(job.image_path);
  EXPECT_EQ(text_of(std::vector<uint8_t>(image.begin() + 16 * 2048 + 40, image.begin() + 16 * 2048 + 72)),
            job.title.substr(0, 32));
  if (have_program("7z")) {
    std::set<std::string> paths = udf_paths(job.image_path);
    EXPECT_TRUE(paths.count("DSD_DISC/" + album + "/01 Intro.dsf"));
    EXPECT_TRUE(paths.count("DSD_DISC/" + long_album + "/02.dsf"));
    EXPECT_TRUE(paths.count("DSD_DISC/" + long_album + ".ddp"));
  }
}

// A file that changes or goes between the size check and the copy fails
// the build, and the half-written image is removed.
TEST(DsdDiscImage, FileChangedBeforeTheCopy) {
  for (int change : {0, 1, 2}) {
    ThreeTracks t;
    varn::DsdDiscPlan plan;
    ASSERT_TRUE(varn::plan_dsd_disc(t.job, plan));
    const std::string path = t.job.tracks[1].source_path;
    std::vector<uint8_t> changed = t.data[1];
    std::string why;
    if (change == 0) {
      changed.resize(changed.size() - 100);
      why = "Error: short read from " + path + " (" + std::to_string(changed.size()) + " of " +
            std::to_string(t.data[1].size()) + ")\n";
    } else if (change == 1) {
      changed.push_back(0x69);
      why = "Error: " + path + " grew while it was copied (more than " + std::to_string(t.data[1].size()) +
            " bytes)\n";
    } else {
      why = "Error: cannot open " + path + "\n";
    }
    if (change == 2)
      std::filesystem::remove(path);
    else
      testsupport::write_file(path, changed);
    bool ok = true;
    const std::string err = testsupport::capture([&] { ok = varn::write_dsd_disc(t.job, plan); }).err;
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, why + "  (the incomplete image was removed; " + t.job.image_path + " is as it was)\n");
    EXPECT_FALSE(file_exists(t.job.image_path));
  }
}

TEST(DsdDiscImage, RebuildOverAnOldImage) {
  // A longer file at the image path is truncated, not overlaid.
  ThreeTracks t;
  testsupport::write_file(t.job.image_path, std::vector<uint8_t>(8 << 20, 0xEE));
  ASSERT_TRUE(build(t.job).ok);
  varn::DsdDiscPlan plan;
  ASSERT_TRUE(varn::plan_dsd_disc(t.job, plan));
  std::vector<uint8_t> image = read_file(t.job.image_path);
  EXPECT_EQ(image.size(), uint64_t(plan.data_end + 512) * 2048);
  std::vector<uint8_t> system_area = sector_bytes(image, 0, 16 * 2048);
  EXPECT_TRUE(std::all_of(system_area.begin(), system_area.end(), [](uint8_t v) { return v == 0; }));
  EXPECT_EQ(sector_bytes(image, 257, t.data[0].size()), t.data[0]);
}

