// Whole images from the console program, read back by the platform's ISO
// 9660 and UDF readers (isoinfo, osirrox, 7z, udfinfo): every file they show
// holds the bytes at its sector in the image, and --verify checks the image
// against its manifest; a refusal leaves nothing.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "sacd_test_util.h"

using testsupport::contains;
using testsupport::file_exists;
using testsupport::have_program;
using testsupport::read_file;
using testsupport::RunResult;

namespace {

struct Listed {
  uint32_t lsn = 0;
  uint64_t size = 0;
};

// "isoinfo -l" listing: path -> extent and size.
std::map<std::string, Listed> iso_listing(const std::string& image) {
  std::istringstream in(testsupport::run_program("isoinfo", {"-l", "-i", image}).out);
  std::map<std::string, Listed> out;
  std::string line, dir;
  while (std::getline(in, line)) {
    if (line.rfind("Directory listing of ", 0) == 0) dir = line.substr(21);
    const size_t open = line.find('[');
    if (open == std::string::npos || line[0] != '-') continue;
    std::istringstream f(line.substr(0, open));
    std::string skip;
    Listed e;
    f >> skip >> skip >> skip >> skip >> e.size;
    e.lsn = uint32_t(std::strtoul(line.c_str() + open + 1, nullptr, 10));
    const std::string name = line.substr(line.find(']', open) + 3);
    out[dir + name.substr(0, name.find(";1"))] = e;
  }
  return out;
}

std::vector<uint8_t> range(const std::vector<uint8_t>& img, const Listed& e) {
  const size_t at = size_t(e.lsn) * 2048;
  return at + e.size > img.size() ? std::vector<uint8_t>{} : std::vector<uint8_t>(img.begin() + long(at), img.begin() + long(at + e.size));
}

struct Album {
  testsupport::ScratchDir dir;
  std::string image = dir.file("disc.iso");
  void gen(const std::string& name, std::vector<std::string> args) {
    args.push_back(dir.file(name));
    ASSERT_TRUE(testsupport::dsdgen(args));
  }
  RunResult pack(std::vector<std::string> args, const std::vector<std::string>& inputs) {
    args.insert(args.begin(), {"--album", "Test Album", "--artist", "The Band", "-o", image});
    for (const std::string& i : inputs) args.push_back(dir.file(i));
    return testsupport::run_varntessel(args, {"SOURCE_DATE_EPOCH=1700000000"});
  }
};

}  // namespace

TEST(ImageBuilder, TwoAreaAlbumReadByIsoAndUdfReaders) {
  if (!have_program("isoinfo") || !have_program("osirrox") || !have_program("7z")) GTEST_SKIP() << "ISO/UDF readers not installed";
  Album a;
  a.gen("t1.dsf", {"--seconds", "1", "--title", "First", "--track", "1"});
  a.gen("t2.dsf", {"--seconds", "1", "--signal", "tone", "--title", "Second", "--track", "2"});
  a.gen("m1.dff", {"--channels", "6", "--seconds", "1"});
  // A cover too large for the gap before the Master TOC goes behind the audio.
  const std::vector<uint8_t> picture = sacdtest::png_picture(1600, 1200, 700000);
  testsupport::write_file(a.dir.file("front.png"), picture);
  const std::vector<std::string> cover = {"--cover", a.dir.file("front.png")}, inputs = {"t1.dsf", "t2.dsf", "m1.dff"};
  RunResult r = a.pack(cover, inputs);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(file_exists(a.dir.file("disc.cue")) && file_exists(a.image + ".delivery.txt"));
  const std::vector<uint8_t> img = read_file(a.image);
  ASSERT_EQ(img.size() % 2048, 0u);
  // The PVD's volume space size (both byte orders) is the image's sector count.
  EXPECT_EQ(testsupport::le32(&img[32848]), img.size() / 2048);
  EXPECT_EQ(testsupport::be32(&img[32852]), img.size() / 2048);
  std::map<std::string, Listed> iso = iso_listing(a.image);
  const char* files[] = {"/COVER.PNG", "/SRM0.LST", "/MASTER1.TOC", "/MASTER2.TOC", "/MASTER3.TOC",
                         "/2C_AUDIO/2C_AREA1.TOC", "/2C_AUDIO/2C_AREA2.TOC", "/2C_AUDIO/2C_TAREA.2CH",
                         "/2C_AUDIO/TRACK001.2CH", "/2C_AUDIO/TRACK002.2CH", "/2C_AUDIO/2C_TAREA.MCH",
                         "/2C_AUDIO/TRACK001.MCH"};
  for (const char* name : files) EXPECT_TRUE(iso.count(name)) << name;
  EXPECT_EQ(iso["/MASTER1.TOC"].lsn, 510u);
  EXPECT_EQ(iso["/2C_AUDIO/2C_AREA1.TOC"].lsn, 540u);
  // osirrox (ISO 9660) and 7z (UDF) extract what lies at each file's sectors.
  const std::string iso_out = a.dir.file("iso"), udf_out = a.dir.file("udf");
  const RunResult x = testsupport::run_shell("osirrox -indev '" + a.image + "' -extract / '" + iso_out +
                                             "' >/dev/null 2>&1 && 7z x -y -o'" + udf_out + "' '" + a.image + "' >/dev/null");
  ASSERT_EQ(x.exit_code, 0) << x.err;
  for (const char* name : files) {
    const std::vector<uint8_t> at = range(img, iso[name]);
    ASSERT_FALSE(at.empty()) << name;
    EXPECT_EQ(read_file(iso_out + name), at) << "ISO 9660 " << name;
    EXPECT_EQ(read_file(udf_out + name), at) << "UDF " << name;
  }
  EXPECT_EQ(read_file(udf_out + "/COVER.PNG"), picture);
  EXPECT_GT(iso["/COVER.PNG"].lsn, iso["/2C_AUDIO/2C_TAREA.MCH"].lsn);
  EXPECT_EQ(std::string(img.begin() + 520 * 2048, img.begin() + 520 * 2048 + 8), "SACDMTOC");
  EXPECT_TRUE(contains(testsupport::read_text(udf_out + "/SRM0.LST"), "\n[TrackInfo]\nTrack001=First\nTrack002=Second\n"));
  if (have_program("udfinfo")) {
    const RunResult u = testsupport::run_program("udfinfo", {a.image});
    EXPECT_EQ(u.exit_code, 0) << u.err;
    EXPECT_TRUE(contains(u.out, "label=Test Album")) << u.out;
  }
  // Same job, same epoch: the same bytes, even over an older, longer file.
  testsupport::write_file(a.image, std::vector<uint8_t>(img.size() + 4 * 2048, 0xEE));
  ASSERT_EQ(a.pack(cover, inputs).exit_code, 0);
  EXPECT_TRUE(read_file(a.image) == img);

  // The digests taken while writing are those --verify reads back; one
  // flipped byte fails its track only.
  RunResult v = testsupport::run_varntessel({"--verify", a.image});
  EXPECT_EQ(v.exit_code, 0) << v.err;
  EXPECT_TRUE(contains(v.out, "[verify] all checks passed (3 tracks)")) << v.out;
  std::vector<uint8_t> flipped = img;
  flipped[size_t(iso["/2C_AUDIO/TRACK002.2CH"].lsn + 3) * 2048 + 100] ^= 0x10;
  testsupport::write_file(a.image, flipped);
  v = testsupport::run_varntessel({"--verify", a.image});
  EXPECT_EQ(v.exit_code, 3);
  EXPECT_TRUE(contains(v.err, "[verify] track 2ch2 hash mismatch")) << v.err;
  EXPECT_FALSE(contains(v.err, "track 2ch1"));
}

TEST(ImageBuilder, MasterTextOverflowIsRefusedBeforeWriting) {
  Album a;
  a.gen("t1.dsf", {"--seconds", "1"});
  const RunResult r = a.pack({"--album", std::string(1100, 'A'), "--artist", std::string(1100, 'B')}, {"t1.dsf"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(contains(r.err, "of the Master Text, which holds 2000")) << r.err;
  EXPECT_FALSE(file_exists(a.image));
}
