#include "fs/udf_descriptors.h"

#include <cstdio>
#include <cstring>

#include "fs/bytes.h"
#include "fs/crc_itu.h"
#include "fs/sector_io.h"
#include "fs/udf_dstring.h"

namespace varn {

namespace {


void put_dstring(uint8_t* p, const std::string& text, size_t n) {
  std::vector<uint8_t> d = udf_dstring(text, n);
  std::memcpy(p, d.data(), n);
}

void put_extent_ad(uint8_t* p, uint32_t length, uint32_t location) {
  put_le32(p, length);
  put_le32(p + 4, location);
}

void put_impl_regid(uint8_t* p) { udf_put_regid(p, kUdfImplementationId); }

void make_primary(uint8_t* d, const UdfVolumeFacts& v) {
  put_le32(d + 16, 0);  // volume descriptor sequence number
  put_le32(d + 20, 0);  // primary volume descriptor number
  put_dstring(d + 24, v.name, 32);
  put_le16(d + 56, 1);
  put_le16(d + 58, 1);
  put_le16(d + 60, 2);
  put_le16(d + 62, 2);
  put_le32(d + 64, 1);
  put_le32(d + 68, 1);
  char head[20];
  std::snprintf(head, sizeof head, "%08x00000000", v.time_low);
  put_dstring(d + 72, std::string(head) + v.name, 128);
  udf_put_charspec(d + 200);
  udf_put_charspec(d + 264);
  udf_put_timestamp(d + 376, v.time);
  put_impl_regid(d + 388);
}

void make_impl_use(uint8_t* d, const UdfVolumeFacts& v) {
  put_le32(d + 16, 1);
  udf_put_udf_regid(d + 20, "*UDF LV Info");
  udf_put_charspec(d + 52);
  put_dstring(d + 116, v.name, 128);
  put_dstring(d + 244, "Varn", 36);
  put_dstring(d + 280, "Tone & Picture", 36);
  put_dstring(d + 316, "12-7 Mill Lane, Eastby 00000 XX#", 36);
}

void make_partition(uint8_t* d, const UdfVolumeFacts& v) {
  put_le32(d + 16, 2);
  put_le16(d + 20, 1);  // allocated
  put_le16(d + 22, 0);
  udf_put_regid(d + 24, "+NSR02", nullptr, 0, 2);
  put_le32(d + 184, 1);  // read-only
  put_le32(d + 188, v.partition_start);
  put_le32(d + 192, v.partition_length);
  put_impl_regid(d + 196);
}

void make_logical(uint8_t* d, const UdfVolumeFacts& v) {
  put_le32(d + 16, 3);
  udf_put_charspec(d + 20);
  put_dstring(d + 84, v.name, 128);
  put_le32(d + 212, kSectorSize);
  udf_put_domain_id(d + 216);
  udf_put_long_ad(d + 248, 4096, v.base);
  put_le32(d + 264, 6);
  put_le32(d + 268, 1);
  put_impl_regid(d + 272);
  put_extent_ad(d + 432, 4096, 64);
  d[440] = 1;  // type 1 partition map
  d[441] = 6;
  put_le16(d + 442, 1);
  put_le16(d + 444, 0);
}

void make_unallocated(uint8_t* d) {
  put_le32(d + 16, 4);
  put_le32(d + 20, 0);
}

}  // namespace

void udf_finish_tag(uint8_t* p, uint16_t id, uint32_t location, uint16_t crc_length) {
  put_le16(p, id);
  put_le16(p + 2, 2);
  p[4] = 0;
  p[5] = 0;
  put_le16(p + 6, 0);
  put_le16(p + 8, crc_itu_t(p + 16, crc_length));
  put_le16(p + 10, crc_length);
  put_le32(p + 12, location);
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum = uint8_t(sum + p[i]);
  p[4] = sum;
}

void udf_put_timestamp(uint8_t* p, const CivilTime& t) {
  put_le16(p, 0x0801);
  put_le16(p + 2, uint16_t(t.year));
  p[4] = uint8_t(t.month);
  p[5] = uint8_t(t.day);
  p[6] = uint8_t(t.hour);
  p[7] = uint8_t(t.minute);
  p[8] = uint8_t(t.second);
  p[9] = p[10] = p[11] = 0;
}

void udf_put_regid(uint8_t* p, const char* identifier, const uint8_t* suffix, size_t suffix_length,
                   uint8_t flags) {
  std::memset(p, 0, 32);
  p[0] = flags;
  size_t n = std::strlen(identifier);
  if (n > 23) n = 23;
  std::memcpy(p + 1, identifier, n);
  if (suffix) std::memcpy(p + 24, suffix, suffix_length > 8 ? 8 : suffix_length);
}

void udf_put_domain_id(uint8_t* p) {
  const uint8_t suffix[3] = {0x02, 0x01, 0x03};
  udf_put_regid(p, "*OSTA UDF Compliant", suffix, 3);
}

void udf_put_udf_regid(uint8_t* p, const char* identifier) {
  const uint8_t suffix[2] = {0x02, 0x01};
  udf_put_regid(p, identifier, suffix, 2);
}

void udf_put_charspec(uint8_t* p) {
  std::memset(p, 0, 64);
  p[0] = 0;
  std::memcpy(p + 1, "OSTA Compressed Unicode", 23);
}

void udf_put_long_ad(uint8_t* p, uint32_t length, uint32_t block) {
  std::memset(p, 0, 16);
  put_le32(p, length);
  put_le32(p + 4, block);
  put_le16(p + 8, 0);
}

std::vector<uint8_t> udf_volume_descriptor_sequence(const UdfVolumeFacts& v, uint32_t first_lsn) {
  std::vector<uint8_t> buf(16 * kSectorSize, 0);
  uint8_t* s = buf.data();
  make_primary(s, v);
  udf_finish_tag(s, kUdfPrimaryVd, first_lsn, 496);
  make_impl_use(s + kSectorSize, v);
  udf_finish_tag(s + kSectorSize, kUdfImplUseVd, first_lsn + 1, 496);
  make_partition(s + 2 * kSectorSize, v);
  udf_finish_tag(s + 2 * kSectorSize, kUdfPartitionDesc, first_lsn + 2, 496);
  make_logical(s + 3 * kSectorSize, v);
  udf_finish_tag(s + 3 * kSectorSize, kUdfLogicalVd, first_lsn + 3, 496);
  make_unallocated(s + 4 * kSectorSize);
  udf_finish_tag(s + 4 * kSectorSize, kUdfUnallocatedSpace, first_lsn + 4, 8);
  udf_finish_tag(s + 5 * kSectorSize, kUdfTerminating, first_lsn + 5, 496);
  return buf;
}

void udf_make_integrity(uint8_t* d, const UdfVolumeFacts& v, uint32_t lsn) {
  std::memset(d, 0, kSectorSize);
  udf_put_timestamp(d + 16, v.time);
  put_le32(d + 28, 1);  // close
  put_extent_ad(d + 32, 0, 0);
  put_le32(d + 40, 2048);
  put_le32(d + 44, v.base);
  put_le32(d + 72, 1);
  put_le32(d + 76, 46);
  put_le32(d + 80, 0);
  put_le32(d + 84, v.partition_length);
  put_impl_regid(d + 88);
  put_le32(d + 120, v.file_count);
  put_le32(d + 124, v.directory_count);
  put_le16(d + 128, 0x0102);
  put_le16(d + 130, 0x0102);
  put_le16(d + 132, 0x0102);
  udf_finish_tag(d, kUdfIntegrity, lsn, 118);
}

void udf_make_terminating(uint8_t* d, uint32_t location) {
  std::memset(d, 0, kSectorSize);
  udf_finish_tag(d, kUdfTerminating, location, 496);
}

void udf_make_anchor(uint8_t* d, uint32_t lsn) {
  std::memset(d, 0, kSectorSize);
  put_extent_ad(d + 16, 32768, 32);
  put_extent_ad(d + 24, 32768, 48);
  udf_finish_tag(d, kUdfAnchor, lsn, 496);
}

void udf_make_file_set(uint8_t* d, const UdfVolumeFacts& v) {
  std::memset(d, 0, kSectorSize);
  udf_put_timestamp(d + 16, v.time);
  put_le16(d + 28, 3);
  put_le16(d + 30, 3);
  put_le32(d + 32, 1);
  put_le32(d + 36, 1);
  put_le32(d + 40, 0);
  put_le32(d + 44, 0);
  udf_put_charspec(d + 48);
  put_dstring(d + 112, v.name, 128);
  udf_put_charspec(d + 240);
  put_dstring(d + 304, v.name, 32);
  udf_put_long_ad(d + 400, kSectorSize, v.base + 2);
  udf_put_domain_id(d + 416);
  udf_finish_tag(d, kUdfFileSet, v.base, 496);
}

std::vector<UdfShortAd> udf_split_extent(uint64_t length, uint32_t first_block) {
  std::vector<UdfShortAd> out;
  uint64_t left = length;
  uint64_t block = first_block;
  do {
    UdfShortAd ad;
    ad.length = uint32_t(left > kUdfMaxExtentBytes ? kUdfMaxExtentBytes : left);
    ad.position = uint32_t(block);
    out.push_back(ad);
    left -= ad.length;
    block += kUdfMaxExtentBytes / kSectorSize;
  } while (left > 0);
  return out;
}

namespace {

// Implementation-use extended attribute: type 2048, subtype 1.
void put_impl_attribute(uint8_t* p, uint32_t length, uint32_t use_length, const char* identifier,
                        uint16_t header_checksum) {
  put_le32(p, 2048);
  p[4] = 1;
  put_le32(p + 8, length);
  put_le32(p + 12, use_length);
  udf_put_udf_regid(p + 16, identifier);
  put_le16(p + 48, header_checksum);
}

}  // namespace

void udf_make_file_entry(uint8_t* d, const UdfFileEntryFields& fe, const CivilTime& t,
                         uint32_t location) {
  std::memset(d, 0, kSectorSize);
  // ICB tag
  put_le32(d + 16, 0);
  put_le16(d + 20, 4);
  put_le16(d + 22, 0);
  put_le16(d + 24, 1);
  d[27] = fe.directory ? 4 : 5;
  put_le16(d + 34, 0x0230);
  put_le32(d + 36, 0xFFFFFFFFu);
  put_le32(d + 40, 0xFFFFFFFFu);
  put_le32(d + 44, fe.directory ? 0x14A5 : 0x1084);
  put_le16(d + 48, fe.link_count);
  put_le64(d + 56, fe.information_length);
  put_le64(d + 64, sectors_of(fe.information_length));
  udf_put_timestamp(d + 72, t);
  udf_put_timestamp(d + 84, t);
  udf_put_timestamp(d + 96, t);
  put_le32(d + 108, 1);
  put_impl_regid(d + 128);
  put_le64(d + 160, fe.unique_id);
  put_le32(d + 168, 132);
  size_t ads = fe.extents.size() < kUdfMaxShortAds ? fe.extents.size() : kUdfMaxShortAds;
  put_le32(d + 172, uint32_t(8 * ads));

  // Extended attributes: header, free EA space, DVD CGMS info.
  uint8_t* ea = d + 176;
  put_le32(ea + 16, 24);
  put_le32(ea + 20, 132);
  udf_finish_tag(ea, kUdfExtAttrHeader, location, 8);
  put_impl_attribute(ea + 24, 52, 4, "*UDF FreeEASpace", 0x0561);
  put_impl_attribute(ea + 76, 56, 8, "*UDF DVD CGMS Info", 0x0549);

  uint8_t* ad = d + 308;
  for (size_t i = 0; i < ads; ++i) {
    put_le32(ad + 8 * i, fe.extents[i].length);
    put_le32(ad + 8 * i + 4, fe.extents[i].position);
  }
  udf_finish_tag(d, kUdfFileEntry, location, uint16_t(292 + 8 * ads));
}

uint32_t udf_fid_length(const std::string& name) {
  const size_t id = name.empty() ? 0 : udf_identifier(name).size();
  return uint32_t((38 + id + 3) & ~size_t(3));
}

void udf_append_fid(std::vector<uint8_t>& data, uint8_t characteristics, const std::string& name,
                    uint32_t icb_block, uint32_t data_block) {
  uint32_t location = data_block + uint32_t(data.size() / kSectorSize);
  const std::vector<uint8_t> id = name.empty() ? std::vector<uint8_t>() : udf_identifier(name);
  const size_t id_len = id.size();
  uint32_t len = udf_fid_length(name);
  std::vector<uint8_t> f(len, 0);
  put_le16(&f[16], 1);
  f[18] = characteristics;
  f[19] = uint8_t(id_len);
  udf_put_long_ad(&f[20], kSectorSize, icb_block);
  put_le16(&f[36], 0);
  if (id_len) std::memcpy(&f[38], id.data(), id_len);
  udf_finish_tag(f.data(), kUdfFileIdentifier, location, uint16_t(len - 16));
  data.insert(data.end(), f.begin(), f.end());
}

}  // namespace varn
