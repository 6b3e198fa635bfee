// Byte-level checks of the ISO 9660 volume against ECMA-119: descriptors,
// path tables, directory records, embedded-file placement, and limits.
#include <gtest/gtest.h>

#include <cstdio>

#include "fs_test_util.h"

using namespace fstest;
using testsupport::be32;

namespace {

varn::IsoFileEntry data_file(const std::string& path, uint32_t lsn, uint64_t size) { return {path, {}, lsn, size}; }
varn::IsoFileEntry embedded(const std::string& path, size_t n, uint8_t fill) {
  return {path, std::vector<uint8_t>(n, fill), 0, 0};
}

std::string text(const std::vector<uint8_t>& v, size_t at, size_t n) {
  return std::string(reinterpret_cast<const char*>(v.data() + at), n);
}

// The records of one directory extent; none may cross a sector boundary,
// and both halves of every both-endian field agree.
struct Rec {
  std::string id;
  uint32_t extent, length;
  size_t offset;
};
std::vector<Rec> walk_directory(const std::string& img, uint32_t lsn, uint32_t size = 2048) {
  std::vector<Rec> out;
  std::vector<uint8_t> d = read_bytes(img, uint64_t(lsn) * kSector, size);
  for (size_t at = 0; at < d.size();) {
    const uint8_t len = d[at];
    if (len == 0) {
      at = (at / kSector + 1) * kSector;
      continue;
    }
    EXPECT_LE(at % kSector + len, kSector) << "record crosses a sector boundary at " << at;
    EXPECT_EQ(le32(&d[at + 2]), be32(&d[at + 6]));
    EXPECT_EQ(le32(&d[at + 10]), be32(&d[at + 14]));
    out.push_back({text(d, at + 33, d[at + 32]), le32(&d[at + 2]), le32(&d[at + 10]), at});
    at += len;
  }
  return out;
}

}  // namespace

TEST(Iso9660Volume, DescriptorsPathTablesAndDirectoriesByteExact) {
  setenv("SOURCE_DATE_EPOCH", "0", 1);
  ScratchDir dir;
  std::string img = dir.file("a.iso");
  make_sparse_image(img, 1000);
  std::vector<varn::IsoFileEntry> files = {data_file("MASTER1.TOC", 510, 20480),
                                           data_file("2C_AUDIO/2C_AREA1.TOC", 540, 10240),
                                           data_file("2C_AUDIO/TRACK001.2CH", 545, 4096)};
  ASSERT_TRUE(write_iso(img, 1000, files, "DISC1"));
  unsetenv("SOURCE_DATE_EPOCH");

  // The system area, the volume descriptors (the primary one, the set
  // terminator, then the UDF recognition sequence), the path tables (root
  // and 2C_AUDIO) and both directories.
  expect_pinned(read_file(img), {
      {0, 16, "c35020473aed1b4642cd726cad727b63fff2824ad68cedd7ffb73c7cbd890479"},
      {16, 5, "8ae48635b244505d954c5ebd7d85ec6fddd035ac95ebdbab9cb2446f403f7452"},
      {21, 45, "ba61c36dd3703f9a8cce36675bb7391e9a6b1ab917ea00c4a3ebf2d7c50c4fcb"},
      {66, 2, "1747498319be117372615ba4e0ffcc0b1a61baf912a90fb0df5c34114aed9532"},
      {68, 2, "0315769d588c43cf94c43f9d0d1c2386a9032361361050fd166b3774e3278da4"}});
  EXPECT_EQ(walk_directory(img, 69).size(), 4u);

  // A long label is cut to 32 bytes; names are upper-cased; a file without
  // data gets no record; a new image is filled up to sector 510.
  files = {data_file("cover.jpg", 600, 10), data_file("\xc3\xa9t\xc3\xa9.txt", 601, 10), data_file("A.BIN", 0, 100)};
  std::remove(img.c_str());
  ASSERT_TRUE(write_iso(img, 100, files, std::string(40, 'x')));
  EXPECT_EQ(std::filesystem::file_size(img), 510 * kSector);
  EXPECT_EQ(text(read_sector(img, 16), 40, 32), std::string(32, 'x'));
  std::vector<Rec> recs = walk_directory(img, 68);
  ASSERT_EQ(recs.size(), 4u);
  EXPECT_EQ(recs[2].id, "COVER.JPG;1");
  EXPECT_EQ(recs[3].id, "\xc3\xa9T\xc3\xa9.TXT;1");
}

// Embedded files go to the gap before the TOCs when they fit, else to the
// slot after the audio, else they are dropped and the rest stays.
TEST(Iso9660Volume, EmbeddedFilesFrontGapTailAndDrop) {
  ScratchDir dir;
  std::string img = dir.file("e.iso");
  std::vector<varn::IsoFileEntry> files = {embedded("COVER.JPG", 4 * 2048, 0xC5), embedded("SRM0.LST", 10, 'S'),
                                           data_file("MASTER1.TOC", 510, 2048)};
  ASSERT_TRUE(write_iso(img, 600, files, "X", {289, 294, 0}));
  EXPECT_EQ(files[0].lsn, 289u);
  EXPECT_EQ(files[1].lsn, 293u);
  EXPECT_EQ(read_bytes(img, 289 * kSector, 4 * 2048), std::vector<uint8_t>(4 * 2048, 0xC5));
  EXPECT_EQ(text(read_sector(img, 293), 0, 10), std::string(10, 'S'));
  EXPECT_TRUE(all_zero(read_sector(img, 293), 10));
  std::vector<Rec> recs = walk_directory(img, 68);
  ASSERT_EQ(recs.size(), 5u);
  EXPECT_EQ(recs[2].extent, 289u);
  EXPECT_EQ(recs[2].length, 8192u);

  // One block too many for the gap: the tail slot, ending at the volume end.
  files = {embedded("COVER.JPG", 4 * 2048 + 1, 0xC6), embedded("SRM0.LST", 10, 'S')};
  std::string said;
  ASSERT_TRUE(write_iso(img, 1006, files, "X", {289, 294, 1000}, &said));
  EXPECT_NE(said.find("(LSN 1000..1006)"), std::string::npos) << said;
  EXPECT_EQ(files[0].lsn, 1000u);
  EXPECT_EQ(files[1].lsn, 1005u);
  EXPECT_EQ(read_sector(img, 1004)[0], 0xC6);
  // One block beyond the volume: both dropped, the other files stay.
  files = {embedded("COVER.JPG", 4 * 2048 + 1, 0xC6), data_file("MASTER1.TOC", 510, 2048), embedded("SRM0.LST", 10, 'S')};
  ASSERT_TRUE(write_iso(img, 1005, files, "X", {289, 294, 1000}, &said));
  EXPECT_NE(said.find("dropped"), std::string::npos) << said;
  ASSERT_EQ(files.size(), 1u);
  recs = walk_directory(img, 68);
  ASSERT_EQ(recs.size(), 3u);
  EXPECT_EQ(recs[2].id, "MASTER1.TOC;1");
}

// A directory over several sectors: no record crosses a sector boundary.
TEST(Iso9660Volume, LargeDirectoriesAndLimits) {
  ScratchDir dir;
  std::string img = dir.file("t.iso");
  std::vector<varn::IsoFileEntry> files;
  for (int i = 1; i <= 255; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "2C_AUDIO/TRACK%03d.2CH", i);
    files.push_back(data_file(name, 1000 + i, 2048));
    std::snprintf(name, sizeof name, "2C_AUDIO/TRACK%03d.MCH", i);
    files.push_back(data_file(name, 2000 + i, 2048));
  }
  ASSERT_TRUE(write_iso(img, 3000, files));
  // "." and ".." (68 bytes) and 41 records of 48 bytes fill the first
  // sector, 42 records each further one: 13 sectors.
  EXPECT_EQ(walk_directory(img, 68)[2].length, 13u * 2048);
  std::vector<Rec> sub = walk_directory(img, 69, 13 * 2048);
  ASSERT_EQ(sub.size(), 512u);
  EXPECT_EQ(sub[43].offset, 2048u);  // the 44th record starts the second sector
  EXPECT_EQ(sub.back().id, "TRACK255.MCH;1");
  EXPECT_EQ(sub.back().extent, 2255u);

  // Trees the fixed layout cannot hold are refused.
  std::vector<varn::IsoFileEntry> root_full, deep;
  for (int i = 0; i < 50; ++i) root_full.push_back(data_file(std::to_string(1000 + i) + ".BIN", 600, 1));
  std::string path(200, 'A');
  for (char c = 'B'; c <= 'J'; ++c) path.append("/").append(200, c);
  deep.push_back(data_file(path + "/F", 600, 1));
  const std::pair<std::vector<varn::IsoFileEntry>, std::string> refused[] = {
      {root_full, "root directory needs 4096 bytes"}, {deep, "path table needs 2090 bytes"},
      {{data_file(std::string(221, 'N'), 600, 1)}, "name too long"}, {{data_file("A//B", 600, 1)}, "empty component"}};
  for (auto [tree, why] : refused) {
    std::string err;
    EXPECT_FALSE(write_iso(img, 700, tree, "X", {289, 510, 0}, &err)) << why;
    EXPECT_NE(err.find(why), std::string::npos) << err;
  }
}
