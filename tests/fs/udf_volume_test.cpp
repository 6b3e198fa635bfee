// Byte-level checks of the UDF 1.02 volume against ECMA-167: descriptor
// tags and fields, the partition plan (extension, anchors), File Entries,
// File Identifier Descriptors, and names.
#include <gtest/gtest.h>

#include "fs/crc_itu.h"
#include "fs/udf_dstring.h"
#include "fs_test_util.h"

using namespace fstest;

namespace {

varn::UdfFileEntry ufile(const std::string& dir, const std::string& name, uint32_t lsn, uint64_t size,
                         bool is_directory = false) {
  return {name, dir, lsn, size, is_directory};
}

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

// A one-file volume: its structures pinned whole, sector by sector (every
// field was checked against the format when the digests were taken); the
// tags and the attribute checksums checked by their rules.
TEST(UdfVolume, DescriptorsByteExact) {
  setenv("SOURCE_DATE_EPOCH", "0", 1);
  ScratchDir dir;
  std::string img = dir.file("d.iso");
  make_sparse_image(img, 1000);
  ASSERT_TRUE(write_udf(img, {ufile("", "A.BIN", 300, 5000)}, 1000, "My Disc"));
  unsetenv("SOURCE_DATE_EPOCH");
  // One file: M = 1 + 0 + 1 + 4 = 6 metadata blocks from B = 742 - 6: FSD,
  // TD, root File Entry, root directory data, the file's File Entry.
  const uint32_t B = 736;
  EXPECT_EQ(check_sequences(img).B, B);
  expect_pinned(read_file(img), {
      {32, 6, "d03e71eda97a14f0ff95ad6aeb683ca96b6be24a783587ac6984b0fd0cf0265f"},
      {48, 6, "f4a227ee185957fa522c0f936a67babd2716a4f1272373826ded8ee42c42170e"},
      {64, 2, "cf5c8f7b4ac622a3494f21bf1fb74a2ab9099eb95210afad6f2e52152a8e48bf"},
      {256, 1, "58cca65cde22f5f4323e9ce94a1badcae967c6b9202eba53a37766eb7247a6f3"},
      {257 + B, 6, "378f5ddd9f5b891357966e189215c43ff2dbc2c4bee1fe695de5f500310a6f94"},
      {744, 1, "6e698125ab75c570e88e2a0e2719e03f06fdddf9d460caba4f2614792ca4d0af"},
      {999, 1, "74a7c8aec1679e1fed8b06ad7bd390c4c1c8986d18457b3575b5b33701511654"}});
  const std::vector<uint8_t> fe = read_sector(img, 257 + B + 4), root = read_sector(img, 257 + B + 3);
  EXPECT_EQ(check_tag(fe.data(), 261, B + 4), "");
  EXPECT_EQ(check_tag(&fe[176], 262, B + 4), "");
  // Each attribute's header checksum is the byte sum of its first 48 bytes.
  for (size_t at : {176u + 24, 176u + 76}) {
    unsigned sum = 0;
    for (size_t i = 0; i < 48; ++i) sum += fe[at + i];
    EXPECT_EQ(sum, le16(&fe[at + 48])) << at;
  }
  EXPECT_EQ(check_tag(&root[0], 257, B + 3), "");
  EXPECT_EQ(check_tag(&root[40], 257, B + 3), "");
}

// The partition runs from 257 to the last 256 blocks; the metadata (FSD,
// TD, root File Entry and data) sits at its end; anchors at 256, N - 256 and
// N - 1. A short image is extended to the minimum, and one whose file data
// reaches beyond the given size is extended past it.
TEST(UdfVolume, PartitionPlanAndAnchors) {
  setenv("SOURCE_DATE_EPOCH", "0", 1);
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
  // FSD, TD, the root's File Entry (link count 2) and its lone parent
  // entry, the root being its own parent.
  expect_pinned(read_file(img), {{257 + 737, 4, "895b25d7e5af799b880a245c7ab045bb7a5c118e5c8b9949a8464fffb79fa880"}});

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
  unsetenv("SOURCE_DATE_EPOCH");
}

TEST(UdfVolume, TreeOfSubdirectoriesAndDirectoryEntries) {
  setenv("SOURCE_DATE_EPOCH", "0", 1);
  ScratchDir dir;
  std::string img = dir.file("t.iso");
  make_sparse_image(img, 2000);
  ASSERT_TRUE(write_udf(img, {ufile("", "DSD_DISC", 0, 0, true), ufile("DSD_DISC", "Rock", 0, 0, true),
                              ufile("DSD_DISC/Rock", "01.dsf", 257, 4096), ufile("DSD_DISC", "Rock.ddp", 259, 30)},
                        2000));
  // Blocks: B FSD, B+1 TD, B+2 root FE, B+3..B+5 directory data, B+6, B+7
  // directory File Entries, B+8, B+9 file File Entries; the integrity
  // descriptor counts 4 files (directory entries too) and 3 directories.
  const uint32_t B = check_sequences(img).B;
  expect_pinned(read_file(img), {
      {64, 1, "77e021bbd5cf8e9cc3e8ffca735526987cfa8b9ddc800bb46994881d1f69a939"},
      {257 + B, 10, "65f754dace60a68d036be289df99441cae77aa5528b907530e96a3dbc24d6ff6"}});
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
  unsetenv("SOURCE_DATE_EPOCH");
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
