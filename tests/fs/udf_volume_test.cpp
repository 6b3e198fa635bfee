// Byte-level checks of the UDF 1.02 volume against ECMA-167: descriptor
// tags and fields, the partition plan (extension, anchors), File Entries,
// File Identifier Descriptors, and names.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "fs/crc_itu.h"
#include "fs/udf_dstring.h"
#include "fs_test_util.h"

using namespace fstest;

namespace {

varn::UdfFileEntry ufile(const std::string& dir, const std::string& name, uint32_t lsn, uint64_t size,
                         bool is_directory = false) {
  varn::UdfFileEntry e;
  e.dir_path = dir;
  e.name = name;
  e.lsn = lsn;
  e.size = size;
  e.is_directory = is_directory;
  return e;
}

uint64_t le64(const uint8_t* p) { return uint64_t(le32(p)) | (uint64_t(le32(p + 4)) << 32); }

// Checks every tag of both descriptor sequences and the integrity pair;
// returns the partition start and length (from the Partition Descriptor)
// and the metadata's first block B (from the Logical Volume Descriptor).
struct Volume {
  uint32_t P = 0, L = 0, B = 0;
};
Volume check_sequences(const std::string& img) {
  const uint16_t ids[6] = {1, 4, 5, 6, 7, 8};
  for (uint32_t base : {32u, 48u}) {
    for (uint32_t i = 0; i < 16; ++i) {
      const std::vector<uint8_t> s = read_sector(img, base + i);
      if (i < 6) {
        EXPECT_EQ(check_tag(s.data(), ids[i], base + i), "") << "sector " << base + i;
      }
      EXPECT_TRUE(all_zero(s, i < 6 ? 512 : 0)) << base + i;
    }
  }
  EXPECT_EQ(check_tag(read_sector(img, 64).data(), 9, 64), "");
  EXPECT_EQ(check_tag(read_sector(img, 65).data(), 8, 65), "");
  return {le32(&read_sector(img, 34)[188]), le32(&read_sector(img, 34)[192]), le32(&read_sector(img, 35)[252])};
}

// Sectors from 200 on that hold a sound Anchor Volume Descriptor Pointer.
std::vector<uint32_t> anchors(const std::string& img) {
  std::vector<uint32_t> out;
  for (uint64_t s = 200; s < std::filesystem::file_size(img) / kSector; ++s)
    if (check_tag(read_sector(img, s).data(), 2, uint32_t(s)).empty()) out.push_back(uint32_t(s));
  return out;
}

}  // namespace

TEST(UdfTags, CrcMatchesKnownVector) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(varn::crc_itu_t(digits, 9), 0x31C3);
  EXPECT_EQ(reference_crc(digits, 9), 0x31C3);  // the reference every tag is checked against
}

TEST(UdfVolume, DescriptorFieldsByteExact) {
  setenv("SOURCE_DATE_EPOCH", "0", 1);
  ScratchDir dir;
  std::string img = dir.file("d.iso");
  make_sparse_image(img, 1000);
  ASSERT_TRUE(write_udf(img, {ufile("", "A.BIN", 300, 5000)}, 1000, "My Disc"));
  unsetenv("SOURCE_DATE_EPOCH");
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

// The partition runs from 257 to the last 256 blocks; the metadata (FSD,
// TD, root File Entry and data) sits at its end; anchors at 256, N - 256 and
// N - 1. A short image is extended to the minimum, and one whose file data
// reaches beyond the given size is extended past it.
TEST(UdfVolume, PartitionPlanAndAnchors) {
  ScratchDir dir;
  std::string img = dir.file("e.iso");
  make_sparse_image(img, 1000);
  ASSERT_TRUE(write_udf(img, {}, 1000));
  EXPECT_EQ(std::filesystem::file_size(img), 1000 * kSector);
  Volume v = check_sequences(img);
  EXPECT_EQ(v.P, 257u);
  EXPECT_EQ(v.L, 742u);
  EXPECT_EQ(v.B, 737u);
  EXPECT_EQ(anchors(img), (std::vector<uint32_t>{256, 744, 999}));
  EXPECT_EQ(check_tag(read_sector(img, 257 + 737).data(), 256, 737), "");
  EXPECT_EQ(check_tag(read_sector(img, 257 + 738).data(), 8, 738), "");
  const std::vector<uint8_t> fe = read_sector(img, 257 + 739);
  EXPECT_EQ(check_tag(fe.data(), 261, 739), "");
  EXPECT_EQ(le16(&fe[48]), 2);    // link count of the root
  EXPECT_EQ(le64(&fe[56]), 40u);  // a lone parent entry
  const std::vector<uint8_t> root = read_sector(img, 257 + 740);
  EXPECT_EQ(check_tag(root.data(), 257, 740), "");
  EXPECT_EQ(root[18], 0x0A);
  EXPECT_EQ(le32(&root[24]), 739u);  // the root is its own parent

  make_sparse_image(img, 300);
  ASSERT_TRUE(write_udf(img, {}, 300));
  EXPECT_EQ(std::filesystem::file_size(img), 492 * kSector);
  EXPECT_EQ(check_sequences(img).L, 234u);
  EXPECT_EQ(anchors(img), (std::vector<uint32_t>{256, 491}));

  make_sparse_image(img, 1000);  // data up to LSN 1200
  ASSERT_TRUE(write_udf(img, {ufile("", "A", 1100, 100 * 2048)}, 1000));
  EXPECT_EQ(std::filesystem::file_size(img), 1457 * kSector);
  v = check_sequences(img);
  EXPECT_EQ(v.L, 1199u);
  EXPECT_GE(v.B, 943u + 4);
  EXPECT_EQ(anchors(img), (std::vector<uint32_t>{256, 1201, 1456}));
}

TEST(UdfVolume, TreeOfSubdirectoriesAndDirectoryEntries) {
  ScratchDir dir;
  std::string img = dir.file("t.iso");
  make_sparse_image(img, 2000);
  ASSERT_TRUE(write_udf(img, {ufile("", "DSD_DISC", 0, 0, true), ufile("DSD_DISC", "Rock", 0, 0, true),
                              ufile("DSD_DISC/Rock", "01.dsf", 257, 4096), ufile("DSD_DISC", "Rock.ddp", 259, 30)},
                        2000));
  const uint32_t B = check_sequences(img).B;
  const std::vector<uint8_t> lvid = read_sector(img, 64);
  EXPECT_EQ(le32(&lvid[120]), 4u);  // directory entries counted as files
  EXPECT_EQ(le32(&lvid[124]), 3u);  // root, DSD_DISC, DSD_DISC/Rock
  // Blocks: B FSD, B+1 TD, B+2 root FE, B+3..B+5 directory data, B+6, B+7
  // directory File Entries, B+8, B+9 file File Entries.
  const std::vector<uint8_t> root = read_sector(img, 257 + B + 3);
  EXPECT_EQ(check_tag(&root[40], 257, B + 3), "");
  EXPECT_EQ(root[40 + 18], 0x02);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&root[40 + 39]), 8), "DSD_DISC");
  EXPECT_EQ(le32(&root[40 + 24]), B + 6);
  const std::vector<uint8_t> dd = read_sector(img, 257 + B + 4);
  EXPECT_EQ(le32(&dd[24]), B + 2);  // parent: the root
  EXPECT_EQ(le32(&dd[40 + 24]), B + 7);
  EXPECT_EQ(dd[84 + 18], 0x00);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&dd[84 + 39]), 8), "Rock.ddp");
  EXPECT_EQ(le32(&dd[84 + 24]), B + 9);
  EXPECT_EQ(le32(&read_sector(img, 257 + B + 5)[40 + 24]), B + 8);
  const std::vector<uint8_t> fe = read_sector(img, 257 + B + 6);
  EXPECT_EQ(check_tag(fe.data(), 261, B + 6), "");
  EXPECT_EQ(fe[27], 4);
  EXPECT_EQ(le64(&fe[56]), 40u + 44 + 48);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(le64(&read_sector(img, 257 + B + 6 + i)[160]), 2u + i);  // unique ids

  // Directory data over several blocks: each FID is tagged with its block.
  std::vector<varn::UdfFileEntry> files;
  for (int i = 0; i < 100; ++i)
    files.push_back(ufile("D", "file-with-a-fairly-long-name-" + std::to_string(1000 + i) + ".dsf", 400 + i, 100));
  make_sparse_image(img, 3000);
  ASSERT_TRUE(write_udf(img, files, 3000));
  const uint32_t first = check_sequences(img).B + 4;
  const std::vector<uint8_t> data = read_bytes(img, (257ull + first) * kSector, 4 * kSector);
  size_t at = 0;
  for (; at + 38 <= data.size() && le16(&data[at]) == 257; at += (38 + data[at + 19] + 3) & ~size_t(3))
    EXPECT_EQ(check_tag(&data[at], 257, first + uint32_t(at / kSector)), "") << at;
  EXPECT_EQ(at, 40u + 100 * 76);
}

TEST(UdfVolume, NamesAndVolumeNameEncodings) {
  ScratchDir dir;
  std::string img = dir.file("n.iso");
  make_sparse_image(img, 1000);
  const std::string name = "Caf\xc3\xa9";
  ASSERT_TRUE(write_udf(img, {ufile(name, name + ".dsf", 400, 10)}, 1000, name));
  const uint32_t B = check_sequences(img).B;
  // The volume name as UCS-2 (compression ID 16) wherever it is recorded.
  const std::vector<uint8_t> ucs = {16, 0, 'C', 0, 'a', 0, 'f', 0, 0xE9};
  for (const auto& [lsn, at, n] : {std::tuple<uint32_t, size_t, size_t>{32, 24, 32}, {33, 116, 128}, {35, 84, 128},
                                  {257 + B, 112, 128}, {257 + B, 304, 32}}) {
    const std::vector<uint8_t> s = read_sector(img, lsn);
    EXPECT_EQ(std::vector<uint8_t>(s.begin() + at, s.begin() + at + 9), ucs) << lsn << "@" << at;
    EXPECT_EQ(s[at + n - 1], 9) << lsn << "@" << at;
  }
  // File identifiers: one byte per character after ID 8 when every
  // character fits, else UTF-16 after ID 16.
  const std::vector<uint8_t> root = read_sector(img, 257 + B + 3);
  EXPECT_EQ(std::vector<uint8_t>(root.begin() + 40 + 38, root.begin() + 40 + 43), (std::vector<uint8_t>{8, 'C', 'a', 'f', 0xE9}));
  const std::pair<std::string, std::vector<uint8_t>> names[] = {
      {"a.dsf", {8, 'a', '.', 'd', 's', 'f'}},
      {"\xe6\x97\xa5", {16, 0x65, 0xE5}},                                      // U+65E5
      {"\xc3\xa9\xf0\x9f\x8e\xb5", {16, 0x00, 0xE9, 0xD8, 0x3C, 0xDF, 0xB5}},  // é and U+1F3B5
      {"\xe9t\xe9", {8, 0xE9, 't', 0xE9}},                                       // not UTF-8: bytes kept
  };
  for (const auto& [n, id] : names) EXPECT_EQ(varn::udf_identifier(n), id);
  EXPECT_EQ(varn::cut_utf8(name, 4), "Caf");
  // A dstring of 32 bytes holds 31 bytes of 8-bit text, or 14 characters of
  // UCS-2 (unencodable ones become '?').
  std::vector<uint8_t> d = varn::udf_dstring(std::string(40, 'x'), 32);
  EXPECT_EQ(d[0], 8);
  EXPECT_EQ(d[31], 31);
  std::string many;
  for (int i = 0; i < 20; ++i) many += "\xc3\xa9";
  d = varn::udf_dstring(many, 32);
  EXPECT_EQ(std::vector<uint8_t>(d.begin() + 26, d.end()), (std::vector<uint8_t>{0xE9, 0x00, 0xE9, 0, 0, 29}));
  // A stray continuation byte and a cut sequence become '?'; an overlong
  // form of a basic-plane value is decoded.
  d = varn::udf_dstring("\xe2\x82\xac\xf0\x9f\x98\x80\x80" "A\xf0\x80\x81\x81\xe2\x82", 32);
  EXPECT_EQ(std::vector<uint8_t>(d.begin(), d.begin() + 13),
            (std::vector<uint8_t>{16, 0x20, 0xAC, 0x00, '?', 0x00, '?', 0x00, 'A', 0x00, 'A', 0x00, '?'}));
}

// Refusals name what cannot be recorded, before any byte is written.
TEST(UdfVolume, RefusesWhatCannotBeRecorded) {
  ScratchDir dir;
  const std::pair<std::vector<varn::UdfFileEntry>, std::string> refused[] = {
      {{ufile("", "LOW", 100, 10)}, "Error: UDF file /LOW starts at LSN 100, before the partition start 257\n"},
      {{ufile("", std::string(255, 'n'), 400, 10)},
       "Error: UDF name too long (256 bytes as stored, at most 255): \"" + std::string(255, 'n') + "\"\n"},
      {{ufile("A//B", "f", 400, 10)}, "Error: UDF name is empty in \"A//B\"\n"},
  };
  for (const auto& [files, message] : refused) {
    std::string said;
    EXPECT_FALSE(write_udf(dir.file("r.iso"), files, 1000, "V", &said));
    EXPECT_EQ(said, message);
  }
  EXPECT_FALSE(testsupport::file_exists(dir.file("r.iso")));
}
