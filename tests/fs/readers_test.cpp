// Real readers (xorriso, 7z) read the volumes planned over a sparse image:
// a file over 4 GiB (ISO 9660 multi-extent) and one over 1 GiB (several
// UDF short_ads), with marker bytes at known offsets.
#include <gtest/gtest.h>

#include "fs_test_util.h"

using namespace fstest;
using testsupport::run_shell;

namespace {

std::string q(const std::string& s) { return "'" + s + "'"; }

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
  std::vector<varn::IsoFileEntry> files = {{"BIG.BIN", {}, big_lsn, big}, {"AREA/MID.BIN", {}, mid_lsn, mid}};
  ASSERT_TRUE(write_iso(img, blocks, files, "LARGE"));
  ASSERT_TRUE(write_udf(img, {{"BIG.BIN", "", big_lsn, big}, {"MID.BIN", "AREA", mid_lsn, mid}}, blocks, "LARGE"));

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
