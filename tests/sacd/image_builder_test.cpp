// Whole images from the console program, read back by the ISO 9660 and UDF
// readers of the platform (isoinfo, osirrox, 7z, udfinfo): every file they
// show holds the bytes at its sector in the image.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "sacd_test_util.h"
#include "support/test_support.h"

using testsupport::have_program;
using testsupport::read_file;
using testsupport::RunResult;
using testsupport::ScratchDir;

namespace {

const std::vector<std::string> kEpoch = {"SOURCE_DATE_EPOCH=1700000000"};

bool contains(const std::string& hay, const std::string& needle) {
  return hay.find(needle) != std::string::npos;
}

size_t count_of(const std::string& hay, const std::string& needle) {
  size_t n = 0;
  for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
  return n;
}

void gen(const ScratchDir& dir, const std::string& name, std::vector<std::string> args) {
  args.push_back(dir.file(name));
  RunResult r = testsupport::run_program(VARN_TEST_DSDGEN, args);
  ASSERT_EQ(r.exit_code, 0) << r.err;
}

struct Listed {
  uint32_t lsn = 0;
  uint64_t size = 0;
};

// "isoinfo -l" listing: path -> extent and size.
std::map<std::string, Listed> iso_listing(const std::string& image) {
  RunResult r = testsupport::run_program("isoinfo", {"-l", "-i", image});
  std::map<std::string, Listed> out;
  std::istringstream in(r.out);
  std::string line, dir;
  while (std::getline(in, line)) {
    if (line.rfind("Directory listing of ", 0) == 0) {
      dir = line.substr(21);
      continue;
    }
    const size_t open = line.find('[');
    if (open == std::string::npos || line[0] != '-') continue;
    std::istringstream f(line.substr(0, open));
    std::string perm, a, b, c;
    Listed e;
    f >> perm >> a >> b >> c >> e.size;
    e.lsn = uint32_t(std::strtoul(line.c_str() + open + 1, nullptr, 10));
    std::string name = line.substr(line.find(']', open) + 3);
    name = name.substr(0, name.find(";1"));
    out[dir + name] = e;
  }
  return out;
}

std::vector<uint8_t> range(const std::vector<uint8_t>& img, uint32_t lsn, uint64_t size) {
  const size_t at = size_t(lsn) * 2048;
  if (at + size > img.size()) return {};
  return std::vector<uint8_t>(img.begin() + at, img.begin() + at + size);
}

struct Album {
  ScratchDir dir;
  std::string image;
  RunResult pack;
};

void pack_album(Album& a, const std::vector<std::string>& extra, const std::vector<std::string>& inputs) {
  a.image = a.dir.file("disc.iso");
  std::vector<std::string> args = {"--album", "Test Album", "--artist", "The Band", "-o", a.image};
  args.insert(args.end(), extra.begin(), extra.end());
  for (const std::string& i : inputs) args.push_back(a.dir.file(i));
  a.pack = testsupport::run_varntessel(args, kEpoch);
}

}  // namespace

TEST(ImageBuilder, TwoAreaAlbumReadByIsoAndUdfReaders) {
  if (!have_program("isoinfo") || !have_program("osirrox") || !have_program("7z"))
    GTEST_SKIP() << "ISO/UDF readers not installed";
  Album a;
  gen(a.dir, "t1.dsf", {"--seconds", "1", "--title", "First", "--track", "1"});
  gen(a.dir, "t2.dsf", {"--seconds", "1", "--signal", "tone", "--title", "Second", "--track", "2"});
  gen(a.dir, "m1.dff", {"--channels", "6", "--seconds", "1"});
  testsupport::write_file(a.dir.file("front.png"), sacdtest::png_picture(300, 300, 5000));
  pack_album(a, {"--cover", a.dir.file("front.png")}, {"t1.dsf", "t2.dsf", "m1.dff"});
  ASSERT_EQ(a.pack.exit_code, 0) << a.pack.err;
  EXPECT_TRUE(contains(a.pack.out, "\n\xE2\x9C\x93 SACD ISO created: " + a.image + "\n"));
  EXPECT_TRUE(contains(a.pack.out, "[Embed] self-check \xE2\x9C\x93 COVER.PNG @ LSN 289 (5000 bytes"));
  EXPECT_TRUE(contains(a.pack.out, " GB -- fits a single-layer DVD-R (4.7G)\n"));
  EXPECT_TRUE(testsupport::file_exists(a.dir.file("disc.cue")));
  EXPECT_TRUE(testsupport::file_exists(a.image + ".delivery.txt"));

  const std::vector<uint8_t> img = read_file(a.image);
  ASSERT_EQ(img.size() % 2048, 0u);
  // Volume space size of the PVD is the finished image's sector count.
  EXPECT_EQ(testsupport::le32(&img[32848]), img.size() / 2048);
  EXPECT_EQ(testsupport::be32(&img[32852]), img.size() / 2048);

  std::map<std::string, Listed> iso = iso_listing(a.image);
  for (const char* name : {"/COVER.PNG", "/SRM0.LST", "/MASTER1.TOC", "/MASTER2.TOC", "/MASTER3.TOC",
                           "/2C_AUDIO/2C_AREA1.TOC", "/2C_AUDIO/2C_AREA2.TOC", "/2C_AUDIO/2C_TAREA.2CH",
                           "/2C_AUDIO/TRACK001.2CH", "/2C_AUDIO/TRACK002.2CH", "/2C_AUDIO/2C_TAREA.MCH",
                           "/2C_AUDIO/TRACK001.MCH"})
    EXPECT_TRUE(iso.count(name)) << name;
  EXPECT_EQ(iso["/MASTER1.TOC"].lsn, 510u);
  EXPECT_EQ(iso["/2C_AUDIO/2C_AREA1.TOC"].lsn, 540u);
  EXPECT_EQ(range(img, iso["/MASTER2.TOC"].lsn, 8), std::vector<uint8_t>({'S', 'A', 'C', 'D', 'M', 'T', 'O', 'C'}));
  EXPECT_EQ(range(img, iso["/2C_AUDIO/2C_AREA2.TOC"].lsn, 8),
            std::vector<uint8_t>({'M', 'U', 'L', 'C', 'H', 'T', 'O', 'C'}));

  // osirrox and 7z extract the same bytes as lie at each file's sector.
  const std::string iso_out = a.dir.file("iso"), udf_out = a.dir.file("udf");
  RunResult x = testsupport::run_shell("osirrox -indev '" + a.image + "' -extract / '" + iso_out +
                                       "' >/dev/null 2>&1 && 7z x -y -o'" + udf_out + "' '" + a.image +
                                       "' >/dev/null");
  ASSERT_EQ(x.exit_code, 0) << x.err;
  for (const char* name : {"/COVER.PNG", "/SRM0.LST", "/2C_AUDIO/TRACK002.2CH", "/2C_AUDIO/TRACK001.MCH",
                           "/2C_AUDIO/2C_TAREA.2CH"}) {
    const std::vector<uint8_t> at = range(img, iso[name].lsn, iso[name].size);
    ASSERT_FALSE(at.empty()) << name;
    EXPECT_EQ(read_file(iso_out + name), at) << "ISO 9660 " << name;
    EXPECT_EQ(read_file(udf_out + name), at) << "UDF " << name;
  }
  EXPECT_EQ(read_file(udf_out + "/COVER.PNG"), read_file(a.dir.file("front.png")));
  const std::string info = testsupport::read_text(udf_out + "/SRM0.LST");
  EXPECT_TRUE(contains(info, "Album=Test Album\nArtist=The Band\n"));
  EXPECT_TRUE(contains(info, "\n[TrackInfo]\nTrack001=First\n"));
  EXPECT_TRUE(contains(info, "Track002=Second\n"));

  if (have_program("udfinfo")) {
    RunResult u = testsupport::run_program("udfinfo", {a.image});
    EXPECT_EQ(u.exit_code, 0) << u.err;
    EXPECT_TRUE(contains(u.out, "label=Test Album")) << u.out;
  }

  // Same job, same epoch: the same bytes, even over an older, longer file.
  testsupport::write_file(a.image, std::vector<uint8_t>(img.size() + 4 * 2048, 0xEE));
  pack_album(a, {"--cover", a.dir.file("front.png")}, {"t1.dsf", "t2.dsf", "m1.dff"});
  ASSERT_EQ(a.pack.exit_code, 0) << a.pack.err;
  EXPECT_TRUE(read_file(a.image) == img);
}

TEST(ImageBuilder, MultichannelOnlyDiscShowsNoStereoFiles) {
  if (!have_program("isoinfo")) GTEST_SKIP() << "isoinfo not installed";
  Album a;
  gen(a.dir, "m1.dff", {"--channels", "6", "--seconds", "1"});
  gen(a.dir, "m2.dff", {"--channels", "6", "--seconds", "1", "--signal", "tone"});
  pack_album(a, {"--no-manifest"}, {"m1.dff", "m2.dff"});
  ASSERT_EQ(a.pack.exit_code, 0) << a.pack.err;
  std::map<std::string, Listed> iso = iso_listing(a.image);
  EXPECT_TRUE(iso.count("/2C_AUDIO/2C_AREA2.TOC"));
  EXPECT_TRUE(iso.count("/2C_AUDIO/2C_TAREA.MCH"));
  EXPECT_TRUE(iso.count("/2C_AUDIO/TRACK002.MCH"));
  for (const auto& [name, e] : iso) EXPECT_EQ(name.find("2CH"), std::string::npos) << name;
  // The second Area TOC file shows the multichannel block at 540.
  EXPECT_EQ(iso["/2C_AUDIO/2C_AREA2.TOC"].lsn, 540u);
  // The area is DST-coded, and the coder's notes come once for both tracks.
  const std::vector<uint8_t> img = read_file(a.image);
  ASSERT_GT(img.size(), 540u * 2048 + 64);
  EXPECT_EQ(std::string(img.begin() + 540 * 2048, img.begin() + 540 * 2048 + 8), "MULCHTOC");
  EXPECT_EQ(img[540 * 2048 + 21], 0) << "frame format DST";
  EXPECT_EQ(count_of(a.pack.err, "[DST] encode SIMD: "), 1u) << a.pack.err;
  EXPECT_EQ(count_of(a.pack.err, "[DST] encoding threads "), 1u) << a.pack.err;
  EXPECT_FALSE(testsupport::file_exists(a.image + ".delivery.txt"));
}

TEST(ImageBuilder, CoverTooLargeForTheFrontGapMovesBehindTheAudio) {
  if (!have_program("7z")) GTEST_SKIP() << "7z not installed";
  Album a;
  gen(a.dir, "t1.dsf", {"--seconds", "1"});
  const std::vector<uint8_t> cover = sacdtest::png_picture(1600, 1200, 700000);
  testsupport::write_file(a.dir.file("big.png"), cover);
  pack_album(a, {"--no-manifest", "--cover", a.dir.file("big.png")}, {"t1.dsf"});
  ASSERT_EQ(a.pack.exit_code, 0) << a.pack.err;
  EXPECT_TRUE(contains(a.pack.out, "[Cover] size 1600x1200 is large"));
  EXPECT_TRUE(contains(a.pack.out, "=> relocated after the audio area"));
  EXPECT_TRUE(contains(a.pack.out, "self-check \xE2\x9C\x93 COVER.PNG"));
  RunResult x = testsupport::run_shell("7z x -y -o'" + a.dir.file("u") + "' '" + a.image + "' >/dev/null");
  ASSERT_EQ(x.exit_code, 0);
  EXPECT_EQ(read_file(a.dir.file("u/COVER.PNG")), cover);
  EXPECT_FALSE(read_file(a.dir.file("u/SRM0.LST")).empty());
}

TEST(ImageBuilder, MasterTextOverflowIsRefusedBeforeWriting) {
  Album a;
  gen(a.dir, "t1.dsf", {"--seconds", "1"});
  a.image = a.dir.file("disc.iso");
  a.pack = testsupport::run_varntessel(
      {"--album", std::string(1100, 'A'), "--artist", std::string(1100, 'B'), "-o", a.image, a.dir.file("t1.dsf")},
      kEpoch);
  EXPECT_EQ(a.pack.exit_code, 1);
  EXPECT_TRUE(contains(a.pack.err, "of the Master Text, which holds 2000")) << a.pack.err;
  EXPECT_FALSE(testsupport::file_exists(a.image));
}

// A stereo area file above 1 GiB needs several UDF extents; 7z must read it
// whole. About 1.1 GiB of input, image and extracted copy on disk.
TEST(ImageBuilder, StereoAreaFileOverOneGibExtractsWhole) {
  if (!have_program("7z") || !have_program("cmp")) GTEST_SKIP() << "7z not installed";
  Album a;
  gen(a.dir, "long.dsf", {"--seconds", "1560", "--repeat-period-bytes", "352800", "--title", "Long"});
  pack_album(a, {"--no-manifest"}, {"long.dsf"});
  ASSERT_EQ(a.pack.exit_code, 0) << a.pack.err;
  std::map<std::string, Listed> iso = iso_listing(a.image);
  const Listed area = iso["/2C_AUDIO/2C_TAREA.2CH"];
  ASSERT_GT(area.size, uint64_t(1) << 30);
  std::remove(a.dir.file("long.dsf").c_str());
  const std::string out = a.dir.file("u");
  RunResult x = testsupport::run_shell("7z x -y -o'" + out + "' '" + a.image + "' 2C_AUDIO/2C_TAREA.2CH >/dev/null");
  ASSERT_EQ(x.exit_code, 0) << x.err;
  RunResult c = testsupport::run_shell("tail -c +" + std::to_string(uint64_t(area.lsn) * 2048 + 1) + " '" +
                                       a.image + "' | head -c " + std::to_string(area.size) + " | cmp - '" +
                                       out + "/2C_AUDIO/2C_TAREA.2CH'");
  EXPECT_EQ(c.exit_code, 0) << c.out << c.err;
}
