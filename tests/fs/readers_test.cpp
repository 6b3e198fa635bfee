// Real readers (xorriso/osirrox, isoinfo, 7z, udfinfo) read the volumes we
// write: the tree is listed and every file extracts byte-identical to the
// bytes at its LSN.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "fs_test_util.h"

using namespace fstest;
using testsupport::run_shell;

namespace {

std::string random_bytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = char(rng());
  return s;
}

std::string q(const std::string& s) { return "'" + s + "'"; }

bool have_readers() {
  for (const char* p : {"xorriso", "isoinfo", "7z", "udfinfo"})
    if (!testsupport::have_program(p)) return false;
  return true;
}

// Both volumes over one image: the UDF list is the ISO list with a sector.
std::string write_volumes(const std::string& img, uint32_t blocks, std::vector<varn::IsoFileEntry>& files,
                          const std::string& label, const varn::EmbedWindow& w) {
  return testsupport::capture([&] {
           EXPECT_TRUE(varn::write_iso9660_volume(img, blocks, files, label, w));
           std::vector<varn::UdfFileEntry> udf;
           for (const varn::IsoFileEntry& f : files) {
             const size_t slash = f.path.rfind('/');
             varn::UdfFileEntry e;
             e.name = slash == std::string::npos ? f.path : f.path.substr(slash + 1);
             e.dir_path = slash == std::string::npos ? "" : f.path.substr(0, slash);
             e.lsn = f.lsn;
             e.size = f.content.empty() ? f.size : f.content.size();
             if (e.lsn) udf.push_back(e);
           }
           EXPECT_TRUE(varn::write_udf_volume(img, udf, 257, blocks, label));
         })
      .out;
}

// An SACD-like tree: TOC files in the root, audio in 2C_AUDIO, a cover and
// an album text embedded by the writer. Returns ISO path -> content.
std::map<std::string, std::string> make_scene(const std::string& img, const varn::EmbedWindow& w, size_t cover_bytes,
                                              std::string* said = nullptr) {
  make_sparse_image(img, 2000);
  std::map<std::string, std::string> expect;
  std::vector<varn::IsoFileEntry> files(2);
  files[0].path = "COVER.JPG";
  files[1].path = "SRM0.LST";
  const std::string cover = random_bytes(cover_bytes, 7), srm = "Album=Test\nArtist=Someone\n\n[TrackInfo]\n";
  files[0].content.assign(cover.begin(), cover.end());
  files[1].content.assign(srm.begin(), srm.end());
  const std::tuple<const char*, uint32_t, size_t> placed[] = {
      {"MASTER1.TOC", 510, 20480}, {"MASTER2.TOC", 520, 20480}, {"2C_AUDIO/2C_AREA1.TOC", 540, 10240},
      {"2C_AUDIO/TRACK001.2CH", 600, 100000}, {"2C_AUDIO/TRACK002.2CH", 700, 5000}, {"2C_AUDIO/EMPTY.BIN", 800, 0}};
  unsigned seed = 1;
  for (const auto& [path, lsn, size] : placed) {
    expect[path] = random_bytes(size, seed++);
    poke(img, uint64_t(lsn) * kSector, expect[path]);
    files.push_back(varn::IsoFileEntry());
    files.back().path = path;
    files.back().lsn = lsn;
    files.back().size = size;
  }
  const std::string out = write_volumes(img, 2000, files, "Test Album", w);
  if (said) *said = out;
  for (const varn::IsoFileEntry& f : files)
    if (!f.content.empty()) expect[f.path] = std::string(f.content.begin(), f.content.end());
  return expect;
}

// Extracts with a reader and compares the tree with the expected files
// (names case-insensitively: UDF keeps them as given, ISO 9660 upper-cases).
void extract_and_compare(const std::string& command, const std::string& root,
                         const std::map<std::string, std::string>& expect) {
  testsupport::RunResult x = run_shell(command);
  EXPECT_EQ(x.exit_code, 0) << command << "\n" << x.out << x.err;
  for (const auto& [path, bytes] : expect) {
    testsupport::RunResult r = run_shell("find " + q(root) + " -type f -ipath " + q(root + "/" + path));
    const std::string found = r.out.substr(0, r.out.find('\n'));
    ASSERT_FALSE(found.empty()) << command << ": " << path << " not extracted";
    EXPECT_TRUE(testsupport::read_file(found) == std::vector<uint8_t>(bytes.begin(), bytes.end()))
        << command << ": " << path << " differs";
  }
  EXPECT_EQ(std::stoul(run_shell("find " + q(root) + " -type f | wc -l").out), expect.size()) << command;
}

}  // namespace

TEST(Readers, IsoAndUdfTreesReadBackByteIdentical) {
  if (!have_readers()) GTEST_SKIP() << "readers not installed";
  ScratchDir dir;
  const std::string img = dir.file("front.iso");
  const auto expect = make_scene(img, {289, 510, 0}, 9000);

  testsupport::RunResult l = run_shell("isoinfo -l -i " + q(img));
  EXPECT_EQ(l.exit_code, 0) << l.err;
  for (const char* name : {"COVER.JPG;1", "SRM0.LST;1", "MASTER1.TOC;1", "2C_AUDIO", "TRACK001.2CH;1", "EMPTY.BIN;1"})
    EXPECT_NE(l.out.find(name), std::string::npos) << name << "\n" << l.out;
  EXPECT_TRUE(run_shell("isoinfo -i " + q(img) + " -x '/2C_AUDIO/TRACK001.2CH;1'").out ==
              expect.at("2C_AUDIO/TRACK001.2CH"));
  extract_and_compare("osirrox -indev " + q(img) + " -extract / " + q(dir.file("iso")) + " 2>&1", dir.file("iso"), expect);
  extract_and_compare("7z x -y -o" + q(dir.file("udf")) + " " + q(img), dir.file("udf"), expect);
  EXPECT_NE(run_shell("7z l " + q(img)).out.find("Type = Udf"), std::string::npos);

  testsupport::RunResult u = run_shell("udfinfo " + q(img));
  EXPECT_EQ(u.exit_code, 0) << u.err;
  EXPECT_EQ(u.err, "");
  for (const char* line : {"label=Test Album\n", "blocks=2000\n", "numfiles=8\n", "numdirs=2\n", "udfrev=1.02\n",
                           "integrity=closed\n", "start=257, blocks=1742, type=PSPACE\n"})
    EXPECT_NE(u.out.find(line), std::string::npos) << line << u.out;

  // The cover does not fit a gap of 4 sectors: it goes to the tail slot.
  std::string said;
  const auto tail = make_scene(img, {289, 293, 900}, 20000, &said);
  EXPECT_NE(said.find("(LSN 900..911)"), std::string::npos) << said;
  extract_and_compare("osirrox -indev " + q(img) + " -extract / " + q(dir.file("t_iso")) + " 2>&1", dir.file("t_iso"), tail);
  extract_and_compare("7z x -y -o" + q(dir.file("t_udf")) + " " + q(img), dir.file("t_udf"), tail);
  // No tail slot: both embedded files are dropped, the rest stays readable.
  const auto drop = make_scene(img, {289, 293, 0}, 20000);
  EXPECT_EQ(drop.size(), 6u);
  extract_and_compare("7z x -y -o" + q(dir.file("d_udf")) + " " + q(img), dir.file("d_udf"), drop);
}

// Sparse images: a file over 4 GiB (ISO 9660 multi-extent) and one over
// 1 GiB (several UDF short_ads), with marker bytes at known offsets.
TEST(Readers, LargeFilesOnSparseImage) {
  if (!have_readers()) GTEST_SKIP() << "readers not installed";
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
  write_volumes(img, blocks, files, "LARGE", {289, 510, 0});

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
