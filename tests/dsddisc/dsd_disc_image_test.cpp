// Whole DSD Disc images, checked byte by byte and through real readers
// (7-Zip's UDF handler, udfinfo, isoinfo).
#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>

#include "dsd_disc_test_util.h"

using dsdtest::build;
using dsdtest::make_dsf;
using dsdtest::track;
using testsupport::have_program;
using testsupport::read_file;
using testsupport::run_program;
using testsupport::ScratchDir;

namespace {

// Paths listed by 7-Zip's UDF handler.
std::set<std::string> udf_paths(const std::string& image) {
  testsupport::RunResult r = run_program("7z", {"l", "-tudf", "-slt", image});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  std::set<std::string> paths;
  std::istringstream in(r.out.substr(std::min(r.out.find("\n----------"), r.out.size())));
  for (std::string line; std::getline(in, line);)
    if (line.rfind("Path = ", 0) == 0) paths.insert(line.substr(7));
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

// The image is its plan: every structure's bytes at its sectors, every
// track unchanged from its sector with zero padding, zeros elsewhere; with
// the bridge or without it (the UDF recognition sequence then at 16).
TEST(DsdDiscImage, ImageIsThePlanWrittenOnce) {
  ThreeTracks t;
  t.job.title = "Concert";
  setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  // A longer file at the image path is replaced, not overlaid.
  testsupport::write_file(t.job.image_path, std::vector<uint8_t>(8 << 20, 0xEE));
  for (bool bridge : {true, false}) {
    t.job.iso_bridge = bridge;
    varn::DsdDiscPlan plan;
    ASSERT_TRUE(!varn::plan_dsd_disc(t.job, plan));
    ASSERT_TRUE(build(t.job).ok);
    std::vector<uint8_t> expect(size_t(plan.total_sectors) * 2048, 0);
    for (const varn::Extent& e : plan.map.extents) {
      const std::vector<uint8_t>& bytes = e.kind == varn::kDiscTrack ? t.data[e.index] : plan.structures[e.index].bytes;
      std::copy(bytes.begin(), bytes.end(), expect.begin() + e.first * 2048);
    }
    const std::vector<uint8_t> image = read_file(t.job.image_path);
    EXPECT_TRUE(image == expect) << bridge;
    EXPECT_EQ(std::string(image.begin() + 16 * 2048, image.begin() + 16 * 2048 + 7),
              bridge ? std::string("\1CD001\1") : std::string("\0BEA01\1", 7));
    if (bridge) EXPECT_EQ(std::string(image.begin() + 16 * 2048 + 40, image.begin() + 16 * 2048 + 47), "Concert");
  }
  unsetenv("SOURCE_DATE_EPOCH");
}

TEST(DsdDiscImage, ReadersSeeTheTree) {
  if (!have_program("7z")) GTEST_SKIP() << "7z not installed";
  ThreeTracks t;
  const std::set<std::string> want = {"DSD_DISC",           "DSD_DISC/ALBUM",      "DSD_DISC/ALBUM/a.dsf",
                                      "DSD_DISC/ALBUM/c.dsf", "DSD_DISC/Live",     "DSD_DISC/Live/b.dsf",
                                      "DSD_DISC/ALBUM.ddp", "DSD_DISC/Live.ddp"};
  for (bool bridge : {false, true}) {
    SCOPED_TRACE(bridge ? "ISO 9660 bridge" : "pure UDF");
    t.job.iso_bridge = bridge;
    ASSERT_TRUE(build(t.job).ok);
    EXPECT_EQ(udf_paths(t.job.image_path), want);
    const std::string out = t.dir.file(bridge ? "x" : "y");
    testsupport::RunResult r = run_program("7z", {"x", "-tudf", "-y", "-o" + out, t.job.image_path});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(read_file(out + "/DSD_DISC/ALBUM/a.dsf"), t.data[0]);
    EXPECT_EQ(read_file(out + "/DSD_DISC/Live/b.dsf"), t.data[1]);
    EXPECT_EQ(read_file(out + "/DSD_DISC/ALBUM/c.dsf"), t.data[2]);
    EXPECT_EQ(testsupport::read_text(out + "/DSD_DISC/Live.ddp"), "#Playlist Live.ddp\n./Live/b.dsf\n");
    if (have_program("udfinfo")) {
      r = run_program("udfinfo", {t.job.image_path});
      EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
      EXPECT_EQ(r.err, "");
      const std::string blocks = std::to_string(std::filesystem::file_size(t.job.image_path) / 2048);
      for (const std::string& line : std::vector<std::string>{"label=DSD_DISC\n", "blocks=" + blocks + "\n", "numfiles=8\n", "numdirs=4\n",
                                     "udfrev=1.02\n", "integrity=closed\n", "start=257, blocks="})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
    }
  }
  if (have_program("isoinfo")) {
    // The bridge shows an empty root: only "." and "..".
    testsupport::RunResult r = run_program("isoinfo", {"-l", "-i", t.job.image_path});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("Directory listing of /"), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), ']'), 2) << r.out;
  }
  // Long and unusual album names.
  ScratchDir dir;
  varn::DsdDiscJob job;
  job.image_path = dir.file("disc.iso");
  const std::string album = "Live & Friends, 2020 (#1)", long_album(246, 'L');
  make_dsf(dir.file("01 Intro.dsf"), 50000, 7);
  make_dsf(dir.file("02.dsf"), 50000, 8);
  job.tracks = {track(dir.file("01 Intro.dsf"), album), track(dir.file("02.dsf"), long_album)};
  ASSERT_TRUE(build(job).ok);
  const std::set<std::string> paths = udf_paths(job.image_path);
  EXPECT_TRUE(paths.count("DSD_DISC/" + album + "/01 Intro.dsf"));
  EXPECT_TRUE(paths.count("DSD_DISC/" + long_album + "/02.dsf"));
  EXPECT_TRUE(paths.count("DSD_DISC/" + long_album + ".ddp"));
}

// A disc of many files needs more UDF metadata than the usual tail holds:
// the volume grows, and the ISO 9660 bridge records the grown size too.
TEST(DsdDiscImage, ManyFilesGrowTheVolume) {
  ScratchDir dir;
  varn::DsdDiscJob job;
  job.image_path = dir.file("disc.iso");
  for (int i = 0; i < 520; ++i)
    job.tracks.push_back(track(dsdtest::bytes_file(dir, std::to_string(1000 + i) + ".dsf", 116), "ALBUM"));
  const dsdtest::Built b = build(job);
  ASSERT_TRUE(b.ok) << b.err;
  EXPECT_NE(b.out.find("  Partition extended: 1294 +37 = 1331 blocks"), std::string::npos) << b.out;
  const std::vector<uint8_t> image = read_file(job.image_path);
  EXPECT_EQ(testsupport::le32(&image[16 * 2048 + 80]), image.size() / 2048);
}

// A file that shrinks, grows or goes between the plan and the copy fails
// the build, and the half-written image is removed.
TEST(DsdDiscImage, FileChangedBeforeTheCopy) {
  ThreeTracks t;
  const std::string path = t.job.tracks[1].source_path, n = std::to_string(t.data[1].size());
  const std::string why[] = {
      "Error: short read from " + path + " (" + std::to_string(t.data[1].size() - 100) + " of " + n + ")\n",
      "Error: " + path + " grew while it was copied (more than " + n + " bytes)\n", "Error: cannot open " + path + "\n"};
  for (int change : {0, 1, 2}) {
    testsupport::write_file(path, t.data[1]);
    varn::DsdDiscPlan plan;
    ASSERT_TRUE(!varn::plan_dsd_disc(t.job, plan));
    std::vector<uint8_t> changed = t.data[1];
    if (change == 0) changed.erase(changed.end() - 100, changed.end());
    if (change == 1) changed.push_back(0x69);
    if (change == 2) std::filesystem::remove(path);
    else testsupport::write_file(path, changed);
    const varn::Status error = varn::write_dsd_disc(t.job, plan);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->text, why[change] + "  (the incomplete image was removed; " + t.job.image_path + " is as it was)\n");
    EXPECT_FALSE(testsupport::file_exists(t.job.image_path));
  }
}
