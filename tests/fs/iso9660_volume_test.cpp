// Byte-level checks of the ISO 9660 volume against ECMA-119: descriptors,
// path tables, directory records, embedded-file placement, and limits.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "fs_test_util.h"

using namespace fstest;
using testsupport::be16;
using testsupport::be32;

namespace {

varn::IsoFileEntry data_file(const std::string& path, uint32_t lsn, uint64_t size) {
  varn::IsoFileEntry e;
  e.path = path;
  e.lsn = lsn;
  e.size = size;
  return e;
}

varn::IsoFileEntry embedded(const std::string& path, size_t n, uint8_t fill) {
  varn::IsoFileEntry e;
  e.path = path;
  e.content.assign(n, fill);
  return e;
}

std::string text(const std::vector<uint8_t>& v, size_t at, size_t n) {
  return std::string(reinterpret_cast<const char*>(v.data() + at), n);
}

// A directory record as ECMA-119 9.1 lays it out, built by hand (recorded
// 1970-01-01 00:00:00 UTC).
std::vector<uint8_t> expected_record(const std::string& id, uint32_t extent, uint32_t length, uint8_t flags) {
  std::vector<uint8_t> r(33 + id.size() + (id.size() % 2 == 0 ? 1 : 0), 0);
  r[0] = uint8_t(r.size());
  for (int i = 0; i < 4; ++i) {
    r[2 + i] = r[9 - i] = uint8_t(extent >> (8 * i));
    r[10 + i] = r[17 - i] = uint8_t(length >> (8 * i));
  }
  r[18] = 70, r[19] = 1, r[20] = 1;
  r[25] = flags;
  r[28] = r[31] = 1;
  r[32] = uint8_t(id.size());
  std::memcpy(&r[33], id.data(), id.size());
  return r;
}

// The records of one directory extent; none may cross a sector boundary,
// and both halves of every both-endian field agree.
struct Rec {
  std::string id;
  uint32_t extent, length;
  uint8_t flags;
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
    out.push_back({text(d, at + 33, d[at + 32]), le32(&d[at + 2]), le32(&d[at + 10]), d[at + 25], at});
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

  for (uint32_t s = 0; s < 16; ++s) EXPECT_TRUE(all_zero(read_sector(img, s))) << s;
  std::vector<uint8_t> pvd = read_sector(img, 16);
  ASSERT_EQ(pvd.size(), kSector);
  // Both-endian fields: volume space size, set size, sequence number, block
  // size, path table size (root 10 bytes, 2C_AUDIO 16).
  for (const auto& [at, width, value] : {std::tuple<size_t, int, uint32_t>{80, 4, 1000}, {120, 2, 1}, {124, 2, 1},
                                        {128, 2, 2048}, {132, 4, 26}}) {
    EXPECT_EQ(width == 4 ? le32(&pvd[at]) : le16(&pvd[at]), value) << at;
    EXPECT_EQ(width == 4 ? be32(&pvd[at + 4]) : be16(&pvd[at + 2]), value) << at;
  }
  EXPECT_EQ(le32(&pvd[140]), 66u);  // type L path table
  EXPECT_EQ(be32(&pvd[148]), 67u);  // type M path table
  EXPECT_EQ(text(pvd, 0, 8), std::string("\1CD001\1\0", 8));
  EXPECT_EQ(text(pvd, 8, 64), std::string(32, ' ') + "DISC1" + std::string(27, ' '));
  EXPECT_EQ(std::vector<uint8_t>(pvd.begin() + 156, pvd.begin() + 190), expected_record(std::string(1, '\0'), 68, 2048, 2));
  EXPECT_EQ(text(pvd, 318, 128), "VARN AUDIO, CN" + std::string(114, ' '));
  const std::string zero_date = std::string(16, '0') + std::string(1, '\0');
  EXPECT_EQ(text(pvd, 813, 68), "1970010100000000" + std::string(1, '\0') + zero_date + zero_date + zero_date);
  EXPECT_EQ(pvd[881], 1);
  for (auto [from, to] : {std::pair<size_t, size_t>{72, 80}, {88, 120}, {144, 148}, {152, 156}, {190, 318},
                          {446, 813}, {882, kSector}})
    EXPECT_TRUE(all_zero(pvd, from, to)) << from;
  // The set terminator, then the UDF recognition sequence.
  const char* ids[4] = {"\xFF" "CD001", "\0BEA01", "\0NSR02", "\0TEA01"};
  for (int i = 0; i < 4; ++i) {
    std::vector<uint8_t> s = read_sector(img, 17 + i);
    EXPECT_EQ(text(s, 0, 7), std::string(ids[i], 6) + "\1");
    EXPECT_TRUE(all_zero(s, 7));
  }
  for (uint32_t s = 21; s < 66; ++s) EXPECT_TRUE(all_zero(read_sector(img, s))) << s;

  const std::vector<uint8_t> l_table = {1, 0, 68, 0, 0, 0, 1, 0, 0, 0, 8, 0, 69, 0, 0, 0, 1, 0,
                                        '2', 'C', '_', 'A', 'U', 'D', 'I', 'O'};
  const std::vector<uint8_t> m_table = {1, 0, 0, 0, 0, 68, 0, 1, 0, 0, 8, 0, 0, 0, 0, 69, 0, 1,
                                        '2', 'C', '_', 'A', 'U', 'D', 'I', 'O'};
  std::vector<uint8_t> l = read_sector(img, 66), m = read_sector(img, 67);
  EXPECT_EQ(std::vector<uint8_t>(l.begin(), l.begin() + 26), l_table);
  EXPECT_EQ(std::vector<uint8_t>(m.begin(), m.begin() + 26), m_table);
  EXPECT_TRUE(all_zero(l, 26) && all_zero(m, 26));

  std::vector<uint8_t> root = read_sector(img, 68), expect;
  for (auto r : {expected_record(std::string(1, '\0'), 68, 2048, 2), expected_record(std::string(1, '\1'), 68, 2048, 2),
                 expected_record("2C_AUDIO", 69, 2048, 2), expected_record("MASTER1.TOC;1", 510, 20480, 0)})
    expect.insert(expect.end(), r.begin(), r.end());
  EXPECT_EQ(std::vector<uint8_t>(root.begin(), root.begin() + expect.size()), expect);
  EXPECT_TRUE(all_zero(root, expect.size()));
  std::vector<Rec> sub = walk_directory(img, 69);
  ASSERT_EQ(sub.size(), 4u);
  EXPECT_EQ(sub[1].extent, 68u);
  EXPECT_EQ(sub[2].id, "2C_AREA1.TOC;1");
  EXPECT_EQ(sub[2].extent, 540u);
  EXPECT_EQ(sub[2].length, 10240u);
  EXPECT_EQ(sub[3].id, "TRACK001.2CH;1");

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
