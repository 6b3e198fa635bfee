// Real readers (xorriso, 7z) read the volumes planned over a sparse image:
// a file over 4 GiB (ISO 9660 multi-extent) and one over 1 GiB (several
// UDF short_ads), with marker bytes at known offsets.
#include <gtest/gtest.h>

#include "fs_test_util.h"

using namespace fstest;
using testsupport::run_shell;

namespace {

std::string q(const std::string& s) { return "'" + s + "'"; }

// Both volumes over one image: the UDF list is the ISO list.
void write_volumes(const std::string& img, uint32_t blocks, std::vector<varn::IsoFileEntry>& files) {
  ASSERT_TRUE(write_iso(img, blocks, files, "LARGE"));
  std::vector<varn::UdfFileEntry> udf;
  for (const varn::IsoFileEntry& f : files) {
    const size_t slash = f.path.rfind('/');
    varn::UdfFileEntry e;
    e.name = slash == std::string::npos ? f.path : f.path.substr(slash + 1);
    e.dir_path = slash == std::string::npos ? "" : f.path.substr(0, slash);
    e.lsn = f.lsn;
    e.size = f.size;
    udf.push_back(e);
  }
  ASSERT_TRUE(write_udf(img, udf, blocks, "LARGE"));
}

}  // namespace

TEST(Readers, LargeFilesOnSparseImage) {
  if (!testsupport::have_program("xorriso") || !testsupport::have_program("7z")) GTEST_SKIP() << "readers not installed";
  ScratchDir dir;
  std::string img = dir.file("large.iso");
  const uint64_t big = (4ull << 30) + 123456, mid = (1ull << 30) + 4096 + 77;
  const uint32_t big_lsn = 1000, mid_lsn = uint32_t(big_lsn + (big + kSector - 1) / kSector + 10);
  const uint32_t blocks = uint32_t(mid_lsn + (mid + kSector - 1) / kSector + 600);
  make_sparse_image(img, blocks);
  for (uint64_t m : {uint64_t(0), uint64_t(1) << 20, uint64_t(0x3FFFF800) - 1, uint64_t(0x3FFFF800), mid - 1})
    poke(img, uint64_t(mid_lsn) * kSector + m, "M" + std::to_string(m % 97));
  poke(img, uint64_t(big_lsn) * kSector + big - 4, "END!");
  std::vector<varn::IsoFileEntry> files(2);
  files[0].path = "BIG.BIN";
  files[0].lsn = big_lsn;
  files[0].size = big;
  files[1].path = "AREA/MID.BIN";
  files[1].lsn = mid_lsn;
  files[1].size = mid;
  write_volumes(img, blocks, files);

  testsupport::RunResult x = run_shell("xorriso -indev " + q(img) + " -lsl / /AREA 2>/dev/null");
  EXPECT_NE(x.out.find(" " + std::to_string(big) + " "), std::string::npos) << x.out;
  EXPECT_NE(x.out.find(" " + std::to_string(mid) + " "), std::string::npos) << x.out;
  testsupport::RunResult z = run_shell("7z l " + q(img));
  EXPECT_NE(z.out.find(std::to_string(big)), std::string::npos) << z.out;
  EXPECT_NE(z.out.find(std::to_string(mid)), std::string::npos) << z.out;
  // xorriso sees the 4 GiB file as two extents on consecutive sectors.
  testsupport::RunResult lba = run_shell("xorriso -indev " + q(img) + " -find /BIG.BIN -exec report_lba -- 2>/dev/null");
  EXPECT_NE(lba.out.find("File data lba:  0 ,     1000 ,  2097151 , " + std::to_string(big) + " , '/BIG.BIN'"),
            std::string::npos) << lba.out;
  EXPECT_NE(lba.out.find("File data lba:  1 ,  2098151 ,       62 , " + std::to_string(big) + " , '/BIG.BIN'"),
            std::string::npos) << lba.out;
  // The whole 1 GiB file through UDF, compared as a stream with the image.
  const std::string cmp = "cmp <(7z x -so " + q(img) + " AREA/MID.BIN 2>/dev/null) <(tail -c +" +
                          std::to_string(uint64_t(mid_lsn) * kSector + 1) + " " + q(img) + " | head -c " +
                          std::to_string(mid) + ")";
  testsupport::RunResult c = run_shell("bash -c " + q(cmp));
  EXPECT_EQ(c.exit_code, 0) << c.out << c.err;
}
