// Byte-level checks of the UDF volume: descriptor tags and fields, the
// partition plan (extension, anchors, front clearing), File Entries with
// several short_ads, File Identifier Descriptors.
#include <gtest/gtest.h>

#include <map>

#include "fs/udf_dstring.h"

#include "fs/crc_itu.h"
#include "fs/udf.h"
#include "fs_test_util.h"
#include "support/capture.h"
#include "support/test_support.h"

using namespace fstest;
using testsupport::le16;
using testsupport::le32;
using testsupport::ScratchDir;

namespace {

varn::UdfFileEntry ufile(const std::string& dir, const std::string& name, uint32_t lsn, uint64_t size) {
  varn::UdfFileEntry e;
  e.dir_path = dir;
  e.name = name;
  e.lsn = lsn;
  e.size = size;
  return e;
}

// The writer reports its plan on standard output and lists every file on
// standard error; both stay out of the test log.
bool quiet_udf(const std::string& img, const std::vector<varn::UdfFileEntry>& files, uint32_t p,
               uint32_t n, const std::string& name) {
  bool ok = false;
  testsupport::capture([&] { ok = varn::write_udf_volume(img, files, p, n, name); });
  return ok;
}

uint64_t le64(const uint8_t* p) { return uint64_t(le32(p)) | (uint64_t(le32(p + 4)) << 32); }

struct Volume {
  uint32_t P = 257, L = 0, B = 0;
};

// Reads P, L from the Partition Descriptor and B from the Logical Volume
// Descriptor, checking every tag of both sequences and the integrity pair.
Volume check_sequences(const std::string& img) {
  Volume v;
  const uint16_t ids[6] = {1, 4, 5, 6, 7, 8};
  for (uint32_t base : {32u, 48u}) {
    for (uint32_t i = 0; i < 6; ++i) {
      std::vector<uint8_t> s = read_sector(img, base + i);
      EXPECT_EQ(check_tag(s.data(), ids[i], base + i), "") << "sector " << base + i;
      EXPECT_TRUE(all_zero(s, 512)) << base + i;
    }
    for (uint32_t i = 6; i < 16; ++i) EXPECT_TRUE(all_zero(read_sector(img, base + i))) << base + i;
  }
  std::vector<uint8_t> pd = read_sector(img, 34);
  v.P = le32(&pd[188]);
  v.L = le32(&pd[192]);
  std::vector<uint8_t> lvd = read_sector(img, 35);
  v.B = le32(&lvd[252]);
  std::vector<uint8_t> lvid = read_sector(img, 64);
  EXPECT_EQ(check_tag(lvid.data(), 9, 64), "");
  EXPECT_EQ(le16(&lvid[10]), 118);
  EXPECT_EQ(check_tag(read_sector(img, 65).data(), 8, 65), "");
  return v;
}

std::vector<uint32_t> anchors(const std::string& img) {
  std::vector<uint32_t> out;
  uint64_t n = file_size(img) / kSector;
  for (uint64_t s = 200; s < n; ++s) {
    std::vector<uint8_t> sec = read_sector(img, s);
    if (le16(&sec[0]) == 2 && check_tag(sec.data(), 2, uint32_t(s)).empty()) out.push_back(uint32_t(s));
  }
  return out;
}

}  // namespace

TEST(UdfTags, CrcMatchesKnownVector) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(varn::crc_itu_t(digits, 9), 0x31C3);
  EXPECT_EQ(reference_crc(digits, 9), 0x31C3);  // the reference every tag is checked against
}

TEST(UdfVolume, EmptyListOnLargeImage) {
  EpochGuard epoch("0");
  ScratchDir dir;
  std::string img = dir.file("e.iso");
  make_sparse_image(img, 1000);
  ASSERT_TRUE(quiet_udf(img, {}, 257, 1000, "VOL"));
  // L = 742, M = 1 + 0 + 0 + 4, B = 737.
  EXPECT_EQ(file_size(img), 1000 * kSector);
  Volume v = check_sequences(img);
  EXPECT_EQ(v.P, 257u);
  EXPECT_EQ(v.L, 742u);
  EXPECT_EQ(v.B, 737u);
  EXPECT_EQ(anchors(img), (std::vector<uint32_t>{256, 744, 999}));

  std::vector<uint8_t> fsd = read_sector(img, 257 + 737);
  EXPECT_EQ(check_tag(fsd.data(), 256, 737), "");
  EXPECT_EQ(le32(&fsd[404]), 739u);  // root ICB
  EXPECT_EQ(check_tag(read_sector(img, 257 + 738).data(), 8, 738), "");
  std::vector<uint8_t> fe = read_sector(img, 257 + 739);
  EXPECT_EQ(check_tag(fe.data(), 261, 739), "");
  EXPECT_EQ(le16(&fe[10]), 300);
  EXPECT_EQ(fe[27], 4);
  EXPECT_EQ(le16(&fe[48]), 2);      // link count of the root
  EXPECT_EQ(le64(&fe[56]), 40u);    // a lone parent entry
  EXPECT_EQ(le64(&fe[64]), 1u);
  EXPECT_EQ(le32(&fe[308]), 40u);
  EXPECT_EQ(le32(&fe[312]), 740u);
  std::vector<uint8_t> root = read_sector(img, 257 + 740);
  EXPECT_EQ(check_tag(root.data(), 257, 740), "");
  EXPECT_EQ(root[18], 0x0A);
  EXPECT_EQ(root[19], 0);
  EXPECT_EQ(le32(&root[24]), 739u);  // the root is its own parent
  EXPECT_TRUE(all_zero(root, 40));
}

TEST(UdfVolume, ShortImageIsExtendedTo492) {
  EpochGuard epoch("0");
  ScratchDir dir;
  std::string img = dir.file("s.iso");
  make_sparse_image(img, 300);
  ASSERT_TRUE(quiet_udf(img, {}, 257, 300, "VOL"));
  EXPECT_EQ(file_size(img), 492 * kSector);
  Volume v = check_sequences(img);
  EXPECT_EQ(v.L, 234u);
  EXPECT_EQ(v.B, 229u);
  EXPECT_EQ(anchors(img), (std::vector<uint32_t>{256, 491}));
}

TEST(UdfVolume, DescriptorFieldsByteExact) {
  EpochGuard epoch("0");
  ScratchDir dir;
  std::string img = dir.file("d.iso");
  make_sparse_image(img, 1000);
  ASSERT_TRUE(quiet_udf(img, {ufile("", "A.BIN", 300, 5000)}, 257, 1000, "My Disc"));
  // One file: M = 1 + 0 + 1 + 4 = 6 metadata blocks, B = 742 - 6. The
  // file's File Entry follows the root's data block.
  const uint32_t B = 736, fe_block = B + 4;
  EXPECT_EQ(check_sequences(img).B, B);
  const uint32_t PVD = 32, IUVD = 33, PD = 34, LVD = 35, USD = 36, LVID = 64, AVDP = 256, FSD = 257 + B,
                 DIR = 257 + B + 3, FE = 257 + fe_block;

  // Integers, little-endian, of 1, 2, 4 or 8 bytes.
  const struct {
    uint32_t lsn;
    size_t at;
    int width;
    uint64_t value;
  } fields[] = {
      {PVD, 16, 4, 0}, {PVD, 56, 2, 1}, {PVD, 58, 2, 1}, {PVD, 60, 2, 2}, {PVD, 62, 2, 2}, {PVD, 64, 4, 1},
      {PVD, 68, 4, 1}, {IUVD, 16, 4, 1}, {PD, 16, 4, 2}, {PD, 20, 2, 1}, {PD, 184, 4, 1}, {PD, 188, 4, 257},
      {PD, 192, 4, 742}, {LVD, 16, 4, 3}, {LVD, 212, 4, 2048}, {LVD, 248, 4, 4096}, {LVD, 252, 4, B},
      {LVD, 264, 4, 6}, {LVD, 268, 4, 1}, {LVD, 432, 4, 4096}, {LVD, 436, 4, 64}, {USD, 10, 2, 8},
      {USD, 16, 4, 4}, {LVID, 28, 4, 1}, {LVID, 40, 4, 2048}, {LVID, 44, 4, B}, {LVID, 72, 4, 1},
      {LVID, 76, 4, 46}, {LVID, 84, 4, 742}, {LVID, 120, 4, 1}, {LVID, 124, 4, 1}, {LVID, 128, 2, 0x0102},
      {LVID, 132, 2, 0x0102}, {AVDP, 16, 4, 32768}, {AVDP, 20, 4, 32}, {AVDP, 24, 4, 32768}, {AVDP, 28, 4, 48},
      {FSD, 28, 2, 3}, {FSD, 30, 2, 3}, {FSD, 400, 4, 2048}, {FSD, 404, 4, B + 2},
      // File Entry, then its extended attributes from byte 176 on.
      {FE, 36, 4, 0xFFFFFFFF}, {FE, 40, 4, 0xFFFFFFFF}, {FE, 44, 4, 0x1084}, {FE, 48, 2, 1}, {FE, 56, 8, 5000},
      {FE, 64, 8, 3}, {FE, 108, 4, 1}, {FE, 160, 8, 2} /* one directory: files from 2 on */, {FE, 168, 4, 132},
      {FE, 172, 4, 8}, {FE, 176 + 10, 2, 8}, {FE, 176 + 16, 4, 24}, {FE, 176 + 20, 4, 132},
      {FE, 176 + 24, 4, 2048}, {FE, 176 + 28, 1, 1}, {FE, 176 + 32, 4, 52}, {FE, 176 + 36, 4, 4},
      {FE, 176 + 72, 2, 0x0561}, {FE, 176 + 76, 4, 2048}, {FE, 176 + 84, 4, 56}, {FE, 176 + 88, 4, 8},
      {FE, 176 + 124, 2, 0x0549}, {FE, 308, 4, 5000}, {FE, 312, 4, 300 - 257},
      // Directory data: the parent entry (40 bytes), then the file (44).
      {DIR, 10, 2, 24}, {DIR, 40 + 10, 2, 28},
  };
  std::map<uint32_t, std::vector<uint8_t>> sectors;
  auto sector = [&](uint32_t lsn) -> const std::vector<uint8_t>& {
    if (!sectors.count(lsn)) sectors[lsn] = read_sector(img, lsn);
    return sectors[lsn];
  };
  for (const auto& f : fields) {
    uint64_t v = 0;
    for (int i = f.width - 1; i >= 0; --i) v = (v << 8) | sector(f.lsn)[f.at + i];
    EXPECT_EQ(v, f.value) << "sector " << f.lsn << " byte " << f.at;
  }

  const uint8_t stamp_bytes[12] = {0x01, 0x08, 0xB2, 0x07, 1, 1, 0, 0, 0, 0, 0, 0};
  const std::vector<uint8_t> stamp(stamp_bytes, stamp_bytes + 12);
  const std::string charspec_text("\0OSTA Compressed Unicode", 24);
  const std::vector<uint8_t> charspec(charspec_text.begin(), charspec_text.end());
  auto dstr = [](const std::string& t, size_t n) {
    std::vector<uint8_t> d(n, 0);
    d[0] = 8;
    std::memcpy(&d[1], t.data(), t.size());
    d[n - 1] = uint8_t(t.size() + 1);
    return d;
  };
  auto regid = [](const char* id, std::vector<uint8_t> suffix, uint8_t flags = 0) {
    std::vector<uint8_t> r(32, 0);
    r[0] = flags;
    std::memcpy(&r[1], id, std::strlen(id));
    std::copy(suffix.begin(), suffix.end(), r.begin() + 24);
    return r;
  };
  const std::vector<uint8_t> impl = regid("*Varn AUDIO", {});
  const std::vector<uint8_t> domain = regid("*OSTA UDF Compliant", {2, 1, 3});
  const std::vector<uint8_t> icb = {0, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0x30, 0x02};
  const std::vector<uint8_t> fid = {1, 0, 0, 6, 0, 8, 0, 0, uint8_t(fe_block), uint8_t(fe_block >> 8), 0, 0, 0, 0,
                                    0, 0, 0, 0, 0, 0, 0, 0, 8, 'A', '.', 'B', 'I', 'N'};
  const struct {
    uint32_t lsn;
    size_t at;
    std::vector<uint8_t> bytes;
  } strings[] = {
      {PVD, 24, dstr("My Disc", 32)}, {PVD, 72, dstr("0000000000000000My Disc", 128)}, {PVD, 200, charspec},
      {PVD, 264, charspec}, {PVD, 376, stamp}, {PVD, 388, impl},
      {IUVD, 20, regid("*UDF LV Info", {2, 1})}, {IUVD, 116, dstr("My Disc", 128)}, {IUVD, 244, dstr("Varn", 36)},
      {IUVD, 280, dstr("Tone & Picture", 36)}, {IUVD, 316, dstr("12-7 Mill Lane, Eastby 00000 XX#", 36)},
      {IUVD, 352, std::vector<uint8_t>(160, 0)},
      {PD, 24, regid("+NSR02", {}, 2)}, {PD, 196, impl},
      {LVD, 84, dstr("My Disc", 128)}, {LVD, 216, domain}, {LVD, 272, impl}, {LVD, 440, {1, 6, 1, 0, 0, 0}},
      {LVID, 16, stamp}, {LVID, 88, impl}, {LVID, 134, std::vector<uint8_t>(2048 - 134, 0)},
      {FSD, 16, stamp}, {FSD, 112, dstr("My Disc", 128)}, {FSD, 304, dstr("My Disc", 32)}, {FSD, 416, domain},
      {FE, 16, icb}, {FE, 72, stamp}, {FE, 84, stamp}, {FE, 96, stamp}, {FE, 128, impl},
      {FE, 176 + 40, regid("*UDF FreeEASpace", {2, 1})}, {FE, 176 + 92, regid("*UDF DVD CGMS Info", {2, 1})},
      {FE, 316, std::vector<uint8_t>(2048 - 316, 0)},
      {DIR, 56, fid}, {DIR, 84, std::vector<uint8_t>(2048 - 84, 0)},
  };
  for (const auto& t : strings)
    EXPECT_EQ(std::vector<uint8_t>(sector(t.lsn).begin() + t.at, sector(t.lsn).begin() + t.at + t.bytes.size()),
              t.bytes)
        << "sector " << t.lsn << " byte " << t.at;

  const std::vector<uint8_t>& fe = sector(FE);
  EXPECT_EQ(check_tag(fe.data(), 261, fe_block), "");
  EXPECT_EQ(check_tag(&fe[176], 262, fe_block), "");
  // Each attribute's header checksum is the byte sum of its first 48 bytes.
  for (size_t at : {176u + 24, 176u + 76}) {
    unsigned sum = 0;
    for (size_t i = 0; i < 48; ++i) sum += fe[at + i];
    EXPECT_EQ(sum, le16(&fe[at + 48])) << at;
  }
  EXPECT_EQ(check_tag(&sector(DIR)[0], 257, B + 3), "");
  EXPECT_EQ(check_tag(&sector(DIR)[40], 257, B + 3), "");
}

TEST(UdfVolume, PartitionFrontClearing) {
  ScratchDir dir;
  std::string img = dir.file("c.iso");
  auto fill_front = [&]() {
    make_sparse_image(img, 1000);
    for (uint32_t s = 257; s < 280; ++s) poke(img, uint64_t(s) * kSector, "front data");
  };
  // A file at the partition start: nothing cleared, nothing said.
  fill_front();
  ASSERT_TRUE(quiet_udf(img, {ufile("", "A", 257, 10)}, 257, 1000, "V"));
  for (uint32_t s = 257; s < 280; ++s) EXPECT_FALSE(all_zero(read_sector(img, s))) << s;
  // Files further on: 16 blocks cleared.
  fill_front();
  ASSERT_TRUE(quiet_udf(img, {ufile("", "A", 400, 10)}, 257, 1000, "V"));
  for (uint32_t s = 257; s < 273; ++s) EXPECT_TRUE(all_zero(read_sector(img, s))) << s;
  EXPECT_FALSE(all_zero(read_sector(img, 273)));
  // A file inside the first 16 blocks keeps its data: clearing stops before it.
  fill_front();
  ASSERT_TRUE(quiet_udf(img, {ufile("", "A", 262, 10)}, 257, 1000, "V"));
  for (uint32_t s = 257; s < 262; ++s) EXPECT_TRUE(all_zero(read_sector(img, s))) << s;
  EXPECT_EQ(read_bytes(img, 262 * kSector, 10), std::vector<uint8_t>({'f', 'r', 'o', 'n', 't', ' ', 'd', 'a', 't', 'a'}));
}

TEST(UdfVolume, LargeFileGetsSeveralShortAds) {
  ScratchDir dir;
  std::string img = dir.file("l.iso");
  const uint64_t size = 2ull * 0x3FFFF800u + 5000;  // above 2 GiB: three extents
  const uint32_t lsn = 1000;
  const uint32_t n = uint32_t(lsn + size / kSector + 600);
  make_sparse_image(img, n);
  std::vector<varn::UdfFileEntry> files = {ufile("", "BIG.BIN", lsn, size), ufile("", "SMALL", 600, 1)};
  ASSERT_TRUE(quiet_udf(img, files, 257, n, "V"));
  Volume v = check_sequences(img);
  uint32_t fe_block = v.B + 4;
  std::vector<uint8_t> fe = read_sector(img, 257 + fe_block);
  EXPECT_EQ(check_tag(fe.data(), 261, fe_block), "");
  EXPECT_EQ(le64(&fe[56]), size);
  EXPECT_EQ(le64(&fe[64]), (size + kSector - 1) / kSector);
  EXPECT_EQ(le32(&fe[172]), 24u);
  EXPECT_EQ(le16(&fe[10]), 300 + 16);
  const uint32_t max = 0x3FFFF800u, step = max / 2048;
  EXPECT_EQ(le32(&fe[308]), max);
  EXPECT_EQ(le32(&fe[312]), lsn - 257);
  EXPECT_EQ(le32(&fe[316]), max);
  EXPECT_EQ(le32(&fe[320]), lsn - 257 + step);
  EXPECT_EQ(le32(&fe[324]), uint32_t(size - 2ull * max));
  EXPECT_EQ(le32(&fe[328]), lsn - 257 + 2 * step);
  EXPECT_TRUE(all_zero(fe, 332));
}

TEST(UdfVolume, TreeOfSubdirectoriesAndDirectoryEntries) {
  EpochGuard epoch("0");
  ScratchDir dir;
  std::string img = dir.file("t.iso");
  make_sparse_image(img, 2000);
  varn::UdfFileEntry top = ufile("", "DSD_DISC", 0, 0);
  top.is_directory = true;
  varn::UdfFileEntry album = ufile("DSD_DISC", "Rock", 0, 0);
  album.is_directory = true;
  std::vector<varn::UdfFileEntry> files = {top, album, ufile("DSD_DISC/Rock", "01.dsf", 257, 4096),
                                           ufile("DSD_DISC", "Rock.ddp", 259, 30)};
  poke(img, 257 * kSector, "front");
  ASSERT_TRUE(quiet_udf(img, files, 257, 2000, "V"));
  Volume v = check_sequences(img);
  std::vector<uint8_t> lvid = read_sector(img, 64);
  EXPECT_EQ(le32(&lvid[120]), 4u);  // directory entries counted as files
  EXPECT_EQ(le32(&lvid[124]), 3u);  // root, DSD_DISC, DSD_DISC/Rock

  // Blocks: B FSD, B+1 TD, B+2 root FE, B+3..B+5 directory data, B+6, B+7
  // directory File Entries, B+8, B+9 file File Entries.
  uint32_t B = v.B;
  std::vector<uint8_t> root = read_sector(img, 257 + B + 3);
  EXPECT_EQ(check_tag(&root[40], 257, B + 3), "");
  EXPECT_EQ(root[40 + 18], 0x02);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&root[40 + 39]), 8), "DSD_DISC");
  EXPECT_EQ(le32(&root[40 + 24]), B + 6);
  EXPECT_TRUE(all_zero(root, 40 + 48));
  std::vector<uint8_t> dd = read_sector(img, 257 + B + 4);
  EXPECT_EQ(le32(&dd[24]), B + 2);  // parent: the root
  EXPECT_EQ(dd[40 + 18], 0x02);
  EXPECT_EQ(le32(&dd[40 + 24]), B + 7);
  EXPECT_EQ(dd[84 + 18], 0x00);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&dd[84 + 39]), 8), "Rock.ddp");
  EXPECT_EQ(le32(&dd[84 + 24]), B + 9);
  std::vector<uint8_t> rock = read_sector(img, 257 + B + 5);
  EXPECT_EQ(le32(&rock[24]), B + 6);
  EXPECT_EQ(le32(&rock[40 + 24]), B + 8);
  std::vector<uint8_t> fe_dd = read_sector(img, 257 + B + 6);
  EXPECT_EQ(check_tag(fe_dd.data(), 261, B + 6), "");
  EXPECT_EQ(fe_dd[27], 4);
  EXPECT_EQ(le32(&fe_dd[44]), 0x14A5u);
  EXPECT_EQ(le16(&fe_dd[48]), 1);
  EXPECT_EQ(le64(&fe_dd[56]), 40u + 44 + 48);
  EXPECT_EQ(le64(&fe_dd[160]), 2u);
  EXPECT_EQ(le64(&read_sector(img, 257 + B + 7)[160]), 3u);
  EXPECT_EQ(le64(&read_sector(img, 257 + B + 8)[160]), 4u);
  EXPECT_EQ(le64(&read_sector(img, 257 + B + 9)[160]), 5u);
  // A file at the partition start: the front is left alone.
  EXPECT_EQ(read_bytes(img, 257 * kSector, 5), std::vector<uint8_t>({'f', 'r', 'o', 'n', 't'}));
}

TEST(UdfVolume, DirectoryDataAcrossBlocksTagsEachFidWithItsBlock) {
  ScratchDir dir;
  std::string img = dir.file("f.iso");
  make_sparse_image(img, 3000);
  std::vector<varn::UdfFileEntry> files;
  for (int i = 0; i < 100; ++i)
    files.push_back(ufile("D", "file-with-a-fairly-long-name-" + std::to_string(1000 + i) + ".dsf", 400 + i, 100));
  ASSERT_TRUE(quiet_udf(img, files, 257, 3000, "V"));
  Volume v = check_sequences(img);
  // Directory data of D starts after the root's block; FIDs of 38 + 38 = 76
  // bytes make 40 + 7600 bytes, four blocks.
  uint32_t first = v.B + 4;
  std::vector<uint8_t> data = read_bytes(img, (257ull + first) * kSector, 4 * kSector);
  size_t at = 0;
  int count = 0;
  while (at + 38 <= data.size() && le16(&data[at]) == 257) {
    EXPECT_EQ(check_tag(&data[at], 257, first + uint32_t(at / kSector)), "") << at;
    size_t len = (38 + data[at + 19] + 3) & ~size_t(3);
    at += len;
    ++count;
  }
  EXPECT_EQ(count, 101);
  EXPECT_EQ(at, 40u + 100 * 76);
}

TEST(UdfVolume, NamesAndVolumeNameEncodings) {
  EpochGuard epoch("0");
  ScratchDir dir;
  std::string img = dir.file("n.iso");
  make_sparse_image(img, 1000);
  const std::string name = "Caf\xc3\xa9";  // Café
  ASSERT_TRUE(quiet_udf(img, {ufile(name, name + ".dsf", 400, 10)}, 257, 1000, name));
  Volume v = check_sequences(img);
  const uint8_t ucs[12] = {16, 0, 'C', 0, 'a', 0, 'f', 0, 0xE9, 0, 0, 0};
  auto check = [&](uint32_t lsn, size_t at, size_t n) {
    std::vector<uint8_t> s = read_sector(img, lsn);
    EXPECT_EQ(std::vector<uint8_t>(s.begin() + at, s.begin() + at + 9), std::vector<uint8_t>(ucs, ucs + 9)) << lsn << "@" << at;
    EXPECT_EQ(s[at + n - 1], 9) << lsn << "@" << at;
  };
  check(32, 24, 32);
  check(33, 116, 128);
  check(35, 84, 128);
  check(257 + v.B, 112, 128);
  check(257 + v.B, 304, 32);
  std::vector<uint8_t> pvd = read_sector(img, 32);
  EXPECT_EQ(pvd[72], 16);  // volume set identifier: UCS-2 too
  EXPECT_EQ(pvd[72 + 127], 1 + 2 * (16 + 4));
  // Directory and file names as readers decode them: one byte per
  // character after ID 8 when every character fits, else UTF-16 after ID 16.
  std::vector<uint8_t> root = read_sector(img, 257 + v.B + 3);
  EXPECT_EQ(root[40 + 19], 5);
  EXPECT_EQ(std::vector<uint8_t>(root.begin() + 40 + 38, root.begin() + 40 + 43),
            (std::vector<uint8_t>{8, 'C', 'a', 'f', 0xE9}));
  const struct {
    std::string name;
    std::vector<uint8_t> id;
  } names[] = {
      {"a.dsf", {8, 'a', '.', 'd', 's', 'f'}},
      {"\xe6\x97\xa5", {16, 0x65, 0xE5}},                                      // U+65E5
      {"\xc3\xa9\xf0\x9f\x8e\xb5", {16, 0x00, 0xE9, 0xD8, 0x3C, 0xDF, 0xB5}},  // é and U+1F3B5
      {"\xe9t\xe9", {8, 0xE9, 't', 0xE9}},                                       // not UTF-8: bytes kept
  };
  for (const auto& n : names) EXPECT_EQ(varn::udf_identifier(n.name), n.id);
  EXPECT_EQ(varn::cut_utf8("Caf\xc3\xa9", 4), "Caf");
  EXPECT_EQ(varn::cut_utf8("Caf\xc3\xa9", 5), name);
}

TEST(UdfVolume, RefusesWhatCannotBeRecorded) {
  ScratchDir dir;
  std::string img = dir.file("r.iso");
  make_sparse_image(img, 1000);
  std::vector<uint8_t> before = testsupport::read_file(img);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(varn::write_udf_volume(img, {ufile("", "LOW", 100, 10)}, 257, 1000, "V"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: UDF file /LOW starts at LSN 100, before the partition start 257\n");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(varn::write_udf_volume(img, {ufile("", std::string(255, 'n'), 400, 10)}, 257, 1000, "V"));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("UDF name too long"), std::string::npos);
  EXPECT_EQ(testsupport::read_file(img), before);
  EXPECT_FALSE(quiet_udf(dir.file("missing.iso"), {}, 257, 1000, "V"));
  EXPECT_FALSE(testsupport::file_exists(dir.file("missing.iso")));
}

TEST(UdfVolume, ExtensionKeepsMetadataBehindFileDataAndAnchorsOffIt) {
  ScratchDir dir;
  std::string img = dir.file("x.iso");
  // Data up to LSN 1200 in an image said to have 1000 blocks.
  make_sparse_image(img, 1000);
  ASSERT_TRUE(quiet_udf(img, {ufile("", "A", 1100, 100 * 2048)}, 257, 1000, "V"));
  // E = 943, Need = 1199, L = 742: +457 = 1457 blocks.
  EXPECT_EQ(file_size(img), 1457 * kSector);
  Volume v = check_sequences(img);
  EXPECT_EQ(v.L, 1199u);
  EXPECT_GE(v.B, 943u + 4);
  EXPECT_EQ(anchors(img), (std::vector<uint32_t>{256, 1201, 1456}));

  // Many files: the metadata reaches over LSN N - 256, where no anchor may go.
  std::vector<varn::UdfFileEntry> many;
  for (int i = 0; i < 400; ++i) many.push_back(ufile("", "F" + std::to_string(i), 400 + i, 2048));
  make_sparse_image(img, 2000);
  ASSERT_TRUE(quiet_udf(img, many, 257, 2000, "V"));
  v = check_sequences(img);
  std::vector<uint32_t> a = anchors(img);
  EXPECT_EQ(a, (std::vector<uint32_t>{256, 1999}));
  // Root data: 40 + 400 FIDs of 44 bytes, 9 blocks; the File Entries follow.
  for (int i = 0; i < 400; ++i) {
    uint32_t block = v.B + 3 + 9 + uint32_t(i);
    ASSERT_EQ(check_tag(read_sector(img, 257 + block).data(), 261, block), "") << i;
  }
}

TEST(UdfRecognition, SequenceAndZeroSectors) {
  ScratchDir dir;
  std::string img = dir.file("r.iso");
  make_sparse_image(img, 40);
  for (uint32_t s = 16; s < 32; ++s) poke(img, uint64_t(s) * kSector + 100, "old");
  ASSERT_TRUE(varn::write_udf_recognition(img, 16));
  const char* ids[3] = {"BEA01", "NSR02", "TEA01"};
  for (int i = 0; i < 3; ++i) {
    std::vector<uint8_t> s = read_sector(img, 16 + i);
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&s[1]), 5), ids[i]);
    EXPECT_EQ(s[6], 1);
    EXPECT_TRUE(all_zero(s, 7));
  }
  for (uint32_t s = 19; s < 30; ++s) EXPECT_TRUE(all_zero(read_sector(img, s))) << s;
  EXPECT_FALSE(all_zero(read_sector(img, 30)));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(varn::write_udf_recognition(dir.file("none.iso"), 16));
  testing::internal::GetCapturedStderr();
}
