// Real readers (xorriso/osirrox, isoinfo, 7z, udfinfo) read the volumes we
// write: the tree is listed and every file extracts byte-identical to the
// bytes at its LSN.
#include <gtest/gtest.h>

#include <random>

#include "fs/iso9660.h"
#include "fs/udf.h"
#include "fs_test_util.h"
#include "support/capture.h"
#include "support/test_support.h"

using namespace fstest;
using testsupport::have_program;
using testsupport::read_file;
using testsupport::run_shell;
using testsupport::ScratchDir;

namespace {

std::string random_bytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = char(rng());
  return s;
}

std::vector<varn::UdfFileEntry> udf_list(const std::vector<varn::IsoFileEntry>& iso) {
  std::vector<varn::UdfFileEntry> out;
  for (const varn::IsoFileEntry& f : iso) {
    if (f.lsn == 0) continue;
    varn::UdfFileEntry e;
    size_t slash = f.path.rfind('/');
    e.name = slash == std::string::npos ? f.path : f.path.substr(slash + 1);
    e.dir_path = slash == std::string::npos ? "" : f.path.substr(0, slash);
    e.lsn = f.lsn;
    e.size = f.content.empty() ? f.size : f.content.size();
    out.push_back(e);
  }
  return out;
}

std::string q(const std::string& s) { return "'" + s + "'"; }

bool have_readers() {
  return have_program("xorriso") && have_program("isoinfo") && have_program("7z") && have_program("udfinfo");
}

// An SACD-like tree: TOC files in the root, audio in 2C_AUDIO, a cover and
// an album text embedded by the writer.
struct Scene {
  std::string img;
  std::vector<varn::IsoFileEntry> files;
  std::map<std::string, std::string> expect;  // ISO path -> content
  std::string out, err;                       // what the writers printed
};

Scene make_scene(const ScratchDir& dir, const std::string& name, const varn::EmbedWindow& w,
                 uint32_t blocks, size_t cover_bytes) {
  Scene s;
  s.img = dir.file(name);
  make_sparse_image(s.img, blocks);
  struct Placed {
    const char* path;
    uint32_t lsn;
    size_t size;
  } placed[] = {{"MASTER1.TOC", 510, 20480},
                {"MASTER2.TOC", 520, 20480},
                {"2C_AUDIO/2C_AREA1.TOC", 540, 10240},
                {"2C_AUDIO/TRACK001.2CH", 600, 100000},
                {"2C_AUDIO/TRACK002.2CH", 700, 5000},
                {"2C_AUDIO/EMPTY.BIN", 800, 0}};
  varn::IsoFileEntry cover;
  cover.path = "COVER.JPG";
  std::string cover_bytes_s = random_bytes(cover_bytes, 7);
  cover.content.assign(cover_bytes_s.begin(), cover_bytes_s.end());
  s.files.push_back(cover);
  varn::IsoFileEntry srm;
  srm.path = "SRM0.LST";
  std::string srm_text = "Album=Test\nArtist=Someone\n\n[TrackInfo]\n";
  srm.content.assign(srm_text.begin(), srm_text.end());
  s.files.push_back(srm);
  unsigned seed = 1;
  for (const Placed& p : placed) {
    std::string bytes = random_bytes(p.size, seed++);
    poke(s.img, uint64_t(p.lsn) * kSector, bytes);
    varn::IsoFileEntry e;
    e.path = p.path;
    e.lsn = p.lsn;
    e.size = p.size;
    s.files.push_back(e);
    s.expect[p.path] = bytes;
  }
  const testsupport::Streams printed = testsupport::capture([&] {
    EXPECT_TRUE(varn::write_iso9660_volume(s.img, blocks, s.files, "DISC1", w));
    EXPECT_TRUE(varn::write_udf_volume(s.img, udf_list(s.files), 257, blocks, "Test Album"));
  });
  for (const varn::IsoFileEntry& f : s.files)
    if (!f.content.empty()) s.expect[f.path] = std::string(f.content.begin(), f.content.end());
  s.out = printed.out;
  s.err = printed.err;
  return s;
}

// Compares an extracted tree with the expected files (names compared
// case-insensitively: UDF keeps the names as given, ISO 9660 upper-cases).
void compare_tree(const std::string& root, const std::map<std::string, std::string>& expect,
                  const std::string& reader) {
  for (const auto& [path, bytes] : expect) {
    testsupport::RunResult r = run_shell("find " + q(root) + " -type f -ipath " + q(root + "/" + path));
    std::string found = r.out.substr(0, r.out.find('\n'));
    ASSERT_FALSE(found.empty()) << reader << ": " << path << " not extracted";
    std::vector<uint8_t> got = read_file(found);
    EXPECT_TRUE(got == std::vector<uint8_t>(bytes.begin(), bytes.end()))
        << reader << ": " << path << " differs (" << got.size() << " vs " << bytes.size() << " bytes)";
  }
  testsupport::RunResult count = run_shell("find " + q(root) + " -type f | wc -l");
  EXPECT_EQ(std::stoul(count.out), expect.size()) << reader;
}

}  // namespace

TEST(Readers, IsoAndUdfTreesReadBackByteIdentical) {
  if (!have_readers()) GTEST_SKIP() << "readers not installed";
  ScratchDir dir;
  Scene s = make_scene(dir, "front.iso", {289, 510, 0}, 2000, 9000);
  ASSERT_EQ(s.files[0].lsn, 289u);
  ASSERT_EQ(s.files[1].lsn, 294u);

  testsupport::RunResult l = run_shell("isoinfo -l -i " + q(s.img));
  EXPECT_EQ(l.exit_code, 0) << l.err;
  for (const char* name : {"COVER.JPG;1", "SRM0.LST;1", "MASTER1.TOC;1", "2C_AUDIO",
                           "TRACK001.2CH;1", "TRACK002.2CH;1", "EMPTY.BIN;1", "2C_AREA1.TOC;1"})
    EXPECT_NE(l.out.find(name), std::string::npos) << name << "\n" << l.out;
  testsupport::RunResult x = run_shell("isoinfo -i " + q(s.img) + " -x '/2C_AUDIO/TRACK001.2CH;1'");
  EXPECT_TRUE(x.out == s.expect["2C_AUDIO/TRACK001.2CH"]) << "isoinfo -x differs";

  testsupport::RunResult find = run_shell("xorriso -indev " + q(s.img) + " -find / 2>/dev/null");
  EXPECT_EQ(find.exit_code, 0);
  EXPECT_NE(find.out.find("'/2C_AUDIO/TRACK002.2CH'"), std::string::npos) << find.out;
  std::string iso_out = dir.file("iso_out");
  testsupport::RunResult ox =
      run_shell("osirrox -indev " + q(s.img) + " -extract / " + q(iso_out) + " 2>&1");
  EXPECT_EQ(ox.exit_code, 0) << ox.out;
  compare_tree(iso_out, s.expect, "osirrox");

  std::string udf_out = dir.file("udf_out");
  testsupport::RunResult z = run_shell("7z x -y -o" + q(udf_out) + " " + q(s.img));
  EXPECT_EQ(z.exit_code, 0) << z.out << z.err;
  compare_tree(udf_out, s.expect, "7z");
  testsupport::RunResult zl = run_shell("7z l " + q(s.img));
  EXPECT_NE(zl.out.find("Type = Udf"), std::string::npos) << zl.out;

  testsupport::RunResult u = run_shell("udfinfo " + q(s.img));
  EXPECT_EQ(u.exit_code, 0) << u.err;
  EXPECT_EQ(u.err, "");
  for (const char* line : {"label=Test Album\n", "blocksize=2048\n", "blocks=2000\n", "numfiles=8\n",
                           "numdirs=2\n", "udfrev=1.02\n", "integrity=closed\n", "impid=*Varn AUDIO\n",
                           "start=257, blocks=1742, type=PSPACE\n"})
    EXPECT_NE(u.out.find(line), std::string::npos) << line << u.out;
}

TEST(Readers, EmbeddedFileInTailSlotAndDroppedFile) {
  if (!have_readers()) GTEST_SKIP() << "readers not installed";
  ScratchDir dir;
  // The cover does not fit a gap of 4 sectors: it goes to the tail slot.
  Scene tail = make_scene(dir, "tail.iso", {289, 293, 900}, 2000, 20000);
  EXPECT_NE(tail.out.find("relocated after the audio area (LSN 900..911)"), std::string::npos) << tail.out;
  ASSERT_EQ(tail.files[0].lsn, 900u);
  std::string out = dir.file("tail_out");
  EXPECT_EQ(run_shell("osirrox -indev " + q(tail.img) + " -extract / " + q(out) + " 2>&1").exit_code, 0);
  compare_tree(out, tail.expect, "osirrox");
  std::string out7 = dir.file("tail_out7");
  EXPECT_EQ(run_shell("7z x -y -o" + q(out7) + " " + q(tail.img)).exit_code, 0);
  compare_tree(out7, tail.expect, "7z");

  // No tail slot: both embedded files are dropped, the rest stays readable.
  Scene drop = make_scene(dir, "drop.iso", {289, 293, 0}, 2000, 20000);
  EXPECT_NE(drop.err.find("**embedded file dropped**"), std::string::npos);
  EXPECT_EQ(drop.files.size(), 6u);
  EXPECT_EQ(drop.expect.count("COVER.JPG"), 0u);
  std::string outd7 = dir.file("drop_out7");
  EXPECT_EQ(run_shell("7z x -y -o" + q(outd7) + " " + q(drop.img)).exit_code, 0);
  compare_tree(outd7, drop.expect, "7z");
}

// Sparse images: a file over 4 GiB (ISO 9660 multi-extent) and one over
// 1 GiB (several UDF short_ads), with marker bytes at known offsets.
TEST(Readers, LargeFilesOnSparseImage) {
  if (!have_readers()) GTEST_SKIP() << "readers not installed";
  ScratchDir dir;
  std::string img = dir.file("large.iso");
  const uint64_t big = (4ull << 30) + 123456;    // over 4 GiB
  const uint64_t mid = (1ull << 30) + 4096 + 77;  // over 1 GiB
  const uint32_t big_lsn = 1000;
  const uint32_t mid_lsn = uint32_t(big_lsn + (big + kSector - 1) / kSector + 10);
  const uint32_t blocks = uint32_t(mid_lsn + (mid + kSector - 1) / kSector + 600);
  make_sparse_image(img, blocks);
  const uint64_t marks[] = {0, 1ull << 20, 0x3FFFF800ull - 1, 0x3FFFF800ull, mid - 1};
  for (uint64_t m : marks) poke(img, uint64_t(mid_lsn) * kSector + m, "M" + std::to_string(m % 97));
  poke(img, uint64_t(big_lsn) * kSector + big - 4, "END!");

  std::vector<varn::IsoFileEntry> files(2);
  files[0].path = "BIG.BIN";
  files[0].lsn = big_lsn;
  files[0].size = big;
  files[1].path = "AREA/MID.BIN";
  files[1].lsn = mid_lsn;
  files[1].size = mid;
  ASSERT_TRUE(varn::write_iso9660_volume(img, blocks, files, "LARGE", {289, 510, 0}));
  bool udf = false;
  testsupport::capture([&] { udf = varn::write_udf_volume(img, udf_list(files), 257, blocks, "LARGE"); });
  ASSERT_TRUE(udf);

  testsupport::RunResult x = run_shell("xorriso -indev " + q(img) + " -lsl / /AREA 2>/dev/null");
  EXPECT_NE(x.out.find(" " + std::to_string(big) + " "), std::string::npos) << x.out;
  EXPECT_NE(x.out.find(" " + std::to_string(mid) + " "), std::string::npos) << x.out;
  testsupport::RunResult l = run_shell("isoinfo -l -i " + q(img));
  EXPECT_EQ(l.exit_code, 0);
  EXPECT_NE(l.out.find("BIG.BIN;1"), std::string::npos) << l.out;

  testsupport::RunResult z = run_shell("7z l " + q(img));
  EXPECT_NE(z.out.find(std::to_string(big)), std::string::npos) << z.out;
  EXPECT_NE(z.out.find(std::to_string(mid)), std::string::npos) << z.out;
  // xorriso sees the 4 GiB file as two extents on consecutive sectors.
  testsupport::RunResult lba =
      run_shell("xorriso -indev " + q(img) + " -find /BIG.BIN -exec report_lba -- 2>/dev/null");
  EXPECT_NE(lba.out.find("File data lba:  0 ,     1000 ,  2097151 , " + std::to_string(big) + " , '/BIG.BIN'"),
            std::string::npos)
      << lba.out;
  EXPECT_NE(lba.out.find("File data lba:  1 ,  2098151 ,       62 , " + std::to_string(big) + " , '/BIG.BIN'"),
            std::string::npos)
      << lba.out;
  // The whole 1 GiB file through UDF, compared as a stream with the image.
  std::string cmp = "cmp <(7z x -so " + q(img) + " AREA/MID.BIN 2>/dev/null) <(tail -c +" +
                    std::to_string(uint64_t(mid_lsn) * kSector + 1) + " " + q(img) + " | head -c " +
                    std::to_string(mid) + ")";
  testsupport::RunResult c = run_shell("bash -c " + q(cmp));
  EXPECT_EQ(c.exit_code, 0) << c.out << c.err;
}
