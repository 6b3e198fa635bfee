// Byte-level checks of the ISO 9660 volume: descriptors, path tables,
// directory records, embedded-file placement, layout limits, fix-ups.
#include <gtest/gtest.h>

#include <cstdio>

#include "fs/iso9660.h"
#include "fs_test_util.h"
#include "support/capture.h"
#include "support/test_support.h"

using namespace fstest;
using testsupport::be16;
using testsupport::be32;
using testsupport::le16;
using testsupport::le32;
using testsupport::ScratchDir;

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

// Byte-exact directory record as ECMA-119 9.1 lays it out, built by hand.
std::vector<uint8_t> expected_record(const std::string& id, uint32_t extent, uint32_t length,
                                     uint8_t flags, const uint8_t date[7]) {
  size_t len = 33 + id.size() + (id.size() % 2 == 0 ? 1 : 0);
  std::vector<uint8_t> r(len, 0);
  r[0] = uint8_t(len);
  for (int i = 0; i < 4; ++i) {
    r[2 + i] = uint8_t(extent >> (8 * i));
    r[9 - i] = uint8_t(extent >> (8 * i));
    r[10 + i] = uint8_t(length >> (8 * i));
    r[17 - i] = uint8_t(length >> (8 * i));
  }
  std::memcpy(&r[18], date, 7);
  r[25] = flags;
  r[28] = 1;
  r[31] = 1;
  r[32] = uint8_t(id.size());
  std::memcpy(&r[33], id.data(), id.size());
  return r;
}

// Walks the directory records of one directory extent; each record must
// end inside the sector it begins in.
struct Rec {
  std::string id;
  uint32_t extent;
  uint32_t length;
  uint8_t flags;
  size_t offset;
};
std::vector<Rec> walk_directory(const std::string& img, uint32_t lsn, uint32_t size) {
  std::vector<Rec> out;
  std::vector<uint8_t> d = read_bytes(img, uint64_t(lsn) * kSector, size);
  size_t at = 0;
  while (at < d.size()) {
    uint8_t len = d[at];
    if (len == 0) {
      at = (at / kSector + 1) * kSector;
      continue;
    }
    EXPECT_LE(at % kSector + len, kSector) << "record crosses a sector boundary at " << at;
    Rec r;
    r.id = text(d, at + 33, d[at + 32]);
    r.extent = le32(&d[at + 2]);
    EXPECT_EQ(r.extent, be32(&d[at + 6]));
    r.length = le32(&d[at + 10]);
    EXPECT_EQ(r.length, be32(&d[at + 14]));
    r.flags = d[at + 25];
    r.offset = at;
    out.push_back(r);
    at += len;
  }
  return out;
}

const uint8_t kEpochDate[7] = {70, 1, 1, 0, 0, 0, 0};

}  // namespace

TEST(Iso9660Volume, DescriptorsPathTablesAndDirectoriesByteExact) {
  EpochGuard epoch("0");
  ScratchDir dir;
  std::string img = dir.file("a.iso");
  make_sparse_image(img, 1000);
  std::vector<varn::IsoFileEntry> files = {
      data_file("MASTER1.TOC", 510, 20480),
      data_file("2C_AUDIO/2C_AREA1.TOC", 540, 10240),
      data_file("2C_AUDIO/TRACK001.2CH", 545, 4096),
  };
  ASSERT_TRUE(varn::write_iso9660_volume(img, 1000, files, "DISC1", {289, 510, 0}));

  for (uint32_t s = 0; s < 16; ++s) EXPECT_TRUE(all_zero(read_sector(img, s))) << s;
  std::vector<uint8_t> pvd = read_sector(img, 16);
  ASSERT_EQ(pvd.size(), kSector);
  // Both-endian fields: byte offset, width of one half, value. Path tables:
  // root (10 bytes) and 2C_AUDIO (8 + 8).
  const struct {
    size_t at;
    int width;
    uint32_t value;
  } both[] = {{80, 4, 1000}, {120, 2, 1}, {124, 2, 1}, {128, 2, 2048}, {132, 4, 26}};
  for (const auto& f : both) {
    EXPECT_EQ(f.width == 4 ? le32(&pvd[f.at]) : le16(&pvd[f.at]), f.value) << f.at;
    EXPECT_EQ(f.width == 4 ? be32(&pvd[f.at + 4]) : be16(&pvd[f.at + 2]), f.value) << f.at;
  }
  EXPECT_EQ(le32(&pvd[140]), 66u);
  EXPECT_EQ(le32(&pvd[144]), 0u);
  EXPECT_EQ(be32(&pvd[148]), 67u);
  EXPECT_EQ(be32(&pvd[152]), 0u);
  EXPECT_EQ(text(pvd, 0, 8), std::string("\1CD001\1\0", 8));
  EXPECT_EQ(text(pvd, 8, 64), std::string(32, ' ') + "DISC1" + std::string(27, ' '));
  std::vector<uint8_t> root_rec = expected_record(std::string(1, '\0'), 68, 2048, 2, kEpochDate);
  EXPECT_EQ(std::vector<uint8_t>(pvd.begin() + 156, pvd.begin() + 190), root_rec);
  EXPECT_EQ(text(pvd, 318, 128), "VARN AUDIO, CN" + std::string(114, ' '));
  const std::string zero_date = std::string(16, '0') + std::string(1, '\0');
  EXPECT_EQ(text(pvd, 813, 68), "1970010100000000" + std::string(1, '\0') + zero_date + zero_date + zero_date);
  EXPECT_EQ(pvd[881], 1);
  for (auto [from, to] : {std::pair<size_t, size_t>{72, 80}, {88, 120}, {190, 318}, {446, 813}, {882, kSector}})
    EXPECT_TRUE(all_zero(pvd, from, to)) << from;

  std::vector<uint8_t> term = read_sector(img, 17);
  EXPECT_EQ(term[0], 255);
  EXPECT_EQ(text(term, 1, 5), "CD001");
  EXPECT_EQ(term[6], 1);
  EXPECT_TRUE(all_zero(term, 7));
  const char* vrs[3] = {"BEA01", "NSR02", "TEA01"};
  for (int i = 0; i < 3; ++i) {
    std::vector<uint8_t> s = read_sector(img, 18 + i);
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(text(s, 1, 5), vrs[i]);
    EXPECT_EQ(s[6], 1);
    EXPECT_TRUE(all_zero(s, 7));
  }
  for (uint32_t s = 21; s < 66; ++s) EXPECT_TRUE(all_zero(read_sector(img, s))) << s;

  const uint8_t l_table[26] = {1, 0, 68, 0, 0, 0, 1, 0, 0, 0,
                               8, 0, 69, 0, 0, 0, 1, 0, '2', 'C', '_', 'A', 'U', 'D', 'I', 'O'};
  const uint8_t m_table[26] = {1, 0, 0, 0, 0, 68, 0, 1, 0, 0,
                               8, 0, 0, 0, 0, 69, 0, 1, '2', 'C', '_', 'A', 'U', 'D', 'I', 'O'};
  std::vector<uint8_t> l = read_sector(img, 66), m = read_sector(img, 67);
  EXPECT_EQ(std::vector<uint8_t>(l.begin(), l.begin() + 26), std::vector<uint8_t>(l_table, l_table + 26));
  EXPECT_EQ(std::vector<uint8_t>(m.begin(), m.begin() + 26), std::vector<uint8_t>(m_table, m_table + 26));
  EXPECT_TRUE(all_zero(l, 26));
  EXPECT_TRUE(all_zero(m, 26));

  std::vector<uint8_t> root = read_sector(img, 68);
  std::vector<uint8_t> expect;
  for (auto r : {expected_record(std::string(1, '\0'), 68, 2048, 2, kEpochDate),
                 expected_record(std::string(1, '\1'), 68, 2048, 2, kEpochDate),
                 expected_record("2C_AUDIO", 69, 2048, 2, kEpochDate),
                 expected_record("MASTER1.TOC;1", 510, 20480, 0, kEpochDate)})
    expect.insert(expect.end(), r.begin(), r.end());
  EXPECT_EQ(std::vector<uint8_t>(root.begin(), root.begin() + expect.size()), expect);
  EXPECT_TRUE(all_zero(root, expect.size()));

  std::vector<Rec> sub = walk_directory(img, 69, 2048);
  ASSERT_EQ(sub.size(), 4u);
  EXPECT_EQ(sub[0].extent, 69u);
  EXPECT_EQ(sub[1].extent, 68u);
  EXPECT_EQ(sub[2].id, "2C_AREA1.TOC;1");
  EXPECT_EQ(sub[2].extent, 540u);
  EXPECT_EQ(sub[2].length, 10240u);
  EXPECT_EQ(sub[3].id, "TRACK001.2CH;1");
  EXPECT_EQ(sub[3].extent, 545u);
  // Sectors up to 510 are zero beyond the directories; nothing else written.
  for (uint32_t s = 70; s < 510; s += 37) EXPECT_TRUE(all_zero(read_sector(img, s))) << s;
}

TEST(Iso9660Volume, LabelsIdentifiersAndVolumeSize) {
  EpochGuard epoch("0");
  ScratchDir dir;
  struct Case {
    std::string label, expect;
  } cases[] = {
      {"", std::string(32, ' ')},
      {"Mixed case", "Mixed case" + std::string(22, ' ')},
      {std::string(40, 'x'), std::string(32, 'x')},
  };
  for (const Case& c : cases) {
    std::string img = dir.file("l.iso");
    std::remove(img.c_str());
    std::vector<varn::IsoFileEntry> files = {data_file("cover.jpg", 600, 10),
                                             data_file("\xc3\xa9t\xc3\xa9.txt", 601, 10)};
    ASSERT_TRUE(varn::write_iso9660_volume(img, 100, files, c.label, {289, 510, 0}));
    // An image that did not exist is created and filled up to sector 510.
    EXPECT_EQ(file_size(img), 510 * kSector);
    std::vector<uint8_t> pvd = read_sector(img, 16);
    EXPECT_EQ(text(pvd, 40, 32), c.expect);
    EXPECT_EQ(le32(&pvd[80]), 510u);
    std::vector<Rec> recs = walk_directory(img, 68, 2048);
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(recs[2].id, "COVER.JPG;1");
    EXPECT_EQ(recs[3].id, "\xc3\xa9T\xc3\xa9.TXT;1");
  }
}

TEST(Iso9660Volume, FileWithoutDataGetsNoRecord) {
  ScratchDir dir;
  std::string img = dir.file("n.iso");
  std::vector<varn::IsoFileEntry> files = {data_file("A.BIN", 0, 100), data_file("B.BIN", 600, 100)};
  ASSERT_TRUE(varn::write_iso9660_volume(img, 700, files, "X", {289, 510, 0}));
  std::vector<Rec> recs = walk_directory(img, 68, 2048);
  ASSERT_EQ(recs.size(), 3u);
  EXPECT_EQ(recs[2].id, "B.BIN;1");
}

TEST(Iso9660Volume, SourceDateEpochMakesImagesReproducible) {
  ScratchDir dir;
  std::string a = dir.file("a.iso"), b = dir.file("b.iso");
  {
    EpochGuard epoch("1700000000");
    for (const std::string& img : {a, b}) {
      std::vector<varn::IsoFileEntry> files = {embedded("COVER.JPG", 3000, 7), data_file("X/Y.BIN", 600, 5)};
      ASSERT_TRUE(varn::write_iso9660_volume(img, 700, files, "DISC1", {289, 510, 0}));
    }
    EXPECT_EQ(testsupport::read_file(a), testsupport::read_file(b));
    // 2023-11-14 22:13:20 UTC
    EXPECT_EQ(text(read_sector(a, 16), 813, 16), "2023111422132000");
    std::vector<uint8_t> root = read_sector(a, 68);
    const uint8_t date[7] = {123, 11, 14, 22, 13, 20, 0};
    EXPECT_EQ(std::vector<uint8_t>(root.begin() + 18, root.begin() + 25), std::vector<uint8_t>(date, date + 7));
  }
}

TEST(Iso9660Volume, EmbeddedFilesFrontGapTailAndDrop) {
  EpochGuard epoch("0");
  ScratchDir dir;
  std::string img = dir.file("e.iso");

  // Exactly the front capacity: 4 + 1 sectors into 289..293.
  {
    std::vector<varn::IsoFileEntry> files = {embedded("COVER.JPG", 4 * 2048, 0xC5),
                                             embedded("SRM0.LST", 10, 'S'),
                                             data_file("MASTER1.TOC", 510, 2048)};
    ASSERT_TRUE(varn::write_iso9660_volume(img, 600, files, "DISC1", {289, 294, 0}));
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].lsn, 289u);
    EXPECT_EQ(files[1].lsn, 293u);
    EXPECT_EQ(read_bytes(img, 289 * kSector, 4 * 2048), std::vector<uint8_t>(4 * 2048, 0xC5));
    std::vector<uint8_t> srm = read_sector(img, 293);
    EXPECT_EQ(text(srm, 0, 10), std::string(10, 'S'));
    EXPECT_TRUE(all_zero(srm, 10));
    std::vector<Rec> recs = walk_directory(img, 68, 2048);
    ASSERT_EQ(recs.size(), 5u);
    EXPECT_EQ(recs[2].id, "COVER.JPG;1");
    EXPECT_EQ(recs[2].extent, 289u);
    EXPECT_EQ(recs[2].length, 8192u);
    EXPECT_EQ(recs[3].extent, 293u);
    EXPECT_EQ(recs[3].length, 10u);
  }
  // One block too many for the gap: the tail slot, which may end exactly at
  // the volume end.
  {
    testing::internal::CaptureStdout();
    std::vector<varn::IsoFileEntry> files = {embedded("COVER.JPG", 4 * 2048 + 1, 0xC6),
                                             embedded("SRM0.LST", 10, 'S')};
    ASSERT_TRUE(varn::write_iso9660_volume(img, 1006, files, "DISC1", {289, 294, 1000}));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("relocated after the audio area (LSN 1000..1006)"), std::string::npos) << out;
    EXPECT_EQ(files[0].lsn, 1000u);
    EXPECT_EQ(files[1].lsn, 1005u);
    std::vector<uint8_t> last = read_sector(img, 1004);
    EXPECT_EQ(last[0], 0xC6);
    EXPECT_TRUE(all_zero(last, 1));
  }
  // One block beyond the volume: dropped, the other files stay.
  {
    testing::internal::CaptureStderr();
    std::vector<varn::IsoFileEntry> files = {embedded("COVER.JPG", 4 * 2048 + 1, 0xC6),
                                             data_file("MASTER1.TOC", 510, 2048),
                                             embedded("SRM0.LST", 10, 'S')};
    ASSERT_TRUE(varn::write_iso9660_volume(img, 1005, files, "DISC1", {289, 294, 1000}));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("**embedded file dropped**"), std::string::npos) << err;
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].path, "MASTER1.TOC");
    std::vector<Rec> recs = walk_directory(img, 68, 2048);
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(recs[2].id, "MASTER1.TOC;1");
  }
}

TEST(Iso9660Volume, LargeDirectoriesSpanSectorsWithoutSplitRecords) {
  ScratchDir dir;
  std::string img = dir.file("big.iso");
  std::vector<varn::IsoFileEntry> files;
  for (int i = 1; i <= 255; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "2C_AUDIO/TRACK%03d.2CH", i);
    files.push_back(data_file(name, 1000 + i, 2048));
    std::snprintf(name, sizeof name, "2C_AUDIO/TRACK%03d.MCH", i);
    files.push_back(data_file(name, 2000 + i, 2048));
  }
  files.push_back(data_file("MASTER1.TOC", 510, 20480));
  ASSERT_TRUE(varn::write_iso9660_volume(img, 3000, files, "DISC1", {289, 510, 0}));
  std::vector<uint8_t> l = read_sector(img, 66);
  EXPECT_EQ(le32(&l[12]), 69u);
  // "." and ".." (68 bytes) and 41 records of 48 bytes fill the first
  // sector, 42 records each further one: 13 sectors.
  std::vector<Rec> root = walk_directory(img, 68, 2048);
  ASSERT_EQ(root.size(), 4u);
  EXPECT_EQ(root[2].id, "2C_AUDIO");
  EXPECT_EQ(root[2].length, 13u * 2048);
  std::vector<Rec> sub = walk_directory(img, 69, 13 * 2048);
  ASSERT_EQ(sub.size(), 512u);
  EXPECT_EQ(sub[0].length, 13u * 2048);
  EXPECT_EQ(sub[42].offset, 68u + 40 * 48);
  EXPECT_EQ(sub[43].offset, 2048u);  // the 44th record starts the second sector
  EXPECT_EQ(sub[85].offset, 2 * 2048u);
  EXPECT_EQ(sub.back().id, "TRACK255.MCH;1");
  EXPECT_EQ(sub.back().extent, 2255u);
}

TEST(Iso9660Volume, RefusesTreesBeyondTheLayout) {
  ScratchDir dir;
  std::string img = dir.file("r.iso");
  std::vector<varn::IsoFileEntry> root_full, deep = {}, many_dirs;
  for (int i = 0; i < 50; ++i) root_full.push_back(data_file("FILE" + std::to_string(i) + ".BIN", 600 + i, 1));
  // A chain of ten directories with long names: ten 208-byte path records.
  std::string path;
  for (int i = 0; i < 10; ++i) path += (i ? "/" : "") + std::string(200, char('A' + i));
  deep.push_back(data_file(path + "/F", 600, 1));
  // 20 directories of 500 files each take 20 x 12 sectors from 69 on.
  for (int d = 0; d < 20; ++d)
    for (int i = 0; i < 500; ++i)
      many_dirs.push_back(data_file("D" + std::to_string(d) + "/TRACK" + std::to_string(1000 + i) + ".BIN", 600, 1));
  const std::pair<std::vector<varn::IsoFileEntry>, std::string> cases[] = {
      {root_full, "root directory needs 4096 bytes, more than one sector"},
      {deep, "path table needs 2090 bytes, more than one sector"},
      {many_dirs, "reaches LSN 256"},
      {{data_file(std::string(221, 'N'), 600, 1)}, "name too long"},
      {{data_file("A//B", 600, 1)}, "empty component"},
  };
  for (const auto& [tree, why] : cases) {
    std::vector<varn::IsoFileEntry> files = tree;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(varn::write_iso9660_volume(img, 700, files, "X", {289, 510, 0})) << why;
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(why), std::string::npos) << err;
  }
}

TEST(Iso9660Volume, IntermediateDirectoriesAndPathTableOrder) {
  ScratchDir dir;
  std::string img = dir.file("t.iso");
  // "b/c" names "b" too; "a" sorts before "b" at level 1; "b/c" is level 2.
  std::vector<varn::IsoFileEntry> files = {data_file("b/c/F1", 600, 1), data_file("a/F2", 601, 1),
                                           data_file("b/F3", 602, 1)};
  ASSERT_TRUE(varn::write_iso9660_volume(img, 700, files, "X", {289, 510, 0}));
  std::vector<uint8_t> l = read_sector(img, 66);
  // root(10) A(10) B(10) C(10): parents 1, 1, 1, 3.
  const uint8_t expect[40] = {1, 0, 68, 0, 0, 0, 1, 0, 0, 0,   1, 0, 69, 0, 0, 0, 1, 0, 'A', 0,
                              1, 0, 70, 0, 0, 0, 1, 0, 'B', 0, 1, 0, 71, 0, 0, 0, 3, 0, 'C', 0};
  EXPECT_EQ(std::vector<uint8_t>(l.begin(), l.begin() + 40), std::vector<uint8_t>(expect, expect + 40));
  std::vector<Rec> b = walk_directory(img, 70, 2048);
  ASSERT_EQ(b.size(), 4u);
  EXPECT_EQ(b[1].extent, 68u);
  EXPECT_EQ(b[2].id, "C");
  EXPECT_EQ(b[2].extent, 71u);
  EXPECT_EQ(b[3].id, "F3;1");
  std::vector<Rec> c = walk_directory(img, 71, 2048);
  EXPECT_EQ(c[1].extent, 70u);
}

TEST(Iso9660Volume, MultiExtentFileOfFourGigabytesAndMore) {
  ScratchDir dir;
  std::string img = dir.file("m.iso");
  const uint64_t size = 5ull << 30;
  std::vector<varn::IsoFileEntry> files = {data_file("BIG.BIN", 1000, size),
                                           data_file("EDGE.BIN", 600, 0xFFFFF800ull),
                                           data_file("EDGE2.BIN", 700, 0xFFFFF801ull)};
  ASSERT_TRUE(varn::write_iso9660_volume(img, 3000000, files, "X", {289, 510, 0}));
  std::vector<Rec> recs = walk_directory(img, 68, 2048);
  ASSERT_EQ(recs.size(), 2u + 2 + 1 + 2);
  EXPECT_EQ(recs[2].id, "BIG.BIN;1");
  EXPECT_EQ(recs[2].flags, 0x80);
  EXPECT_EQ(recs[2].extent, 1000u);
  EXPECT_EQ(recs[2].length, 0xFFFFF800u);
  EXPECT_EQ(recs[3].id, "BIG.BIN;1");
  EXPECT_EQ(recs[3].flags, 0);
  EXPECT_EQ(recs[3].extent, 1000u + 0xFFFFF800u / 2048);
  EXPECT_EQ(recs[3].length, uint32_t(size - 0xFFFFF800ull));
  EXPECT_EQ(recs[4].length, 0xFFFFF800u);
  EXPECT_EQ(recs[4].flags, 0);
  EXPECT_EQ(recs[5].flags, 0x80);
  EXPECT_EQ(recs[6].length, 1u);
  EXPECT_EQ(recs[6].extent, 700u + 2097151u);
}
