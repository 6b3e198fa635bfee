#include "fs/iso9660_records.h"

#include "fs/bytes.h"
#include "fs/sector_io.h"

namespace varn {

std::string iso_upper(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return out;
}

std::string iso_file_identifier(const std::string& name) { return iso_upper(name) + ";1"; }

std::string iso_directory_identifier(const std::string& name) { return iso_upper(name); }

IsoRecordDate iso_record_date(const CivilTime& t) {
  IsoRecordDate d;
  int years = t.year - 1900;
  d.bytes[0] = uint8_t(years < 0 ? 0 : (years > 255 ? 255 : years));
  d.bytes[1] = uint8_t(t.month);
  d.bytes[2] = uint8_t(t.day);
  d.bytes[3] = uint8_t(t.hour);
  d.bytes[4] = uint8_t(t.minute);
  d.bytes[5] = uint8_t(t.second);
  d.bytes[6] = 0;
  return d;
}

std::vector<uint8_t> iso_directory_record(const std::string& identifier, uint32_t extent,
                                          uint32_t data_length, uint8_t flags,
                                          const IsoRecordDate& date) {
  std::vector<uint8_t> r(iso_record_length(identifier.size()), 0);
  r[0] = uint8_t(r.size());
  r[1] = 0;  // extended attribute record length
  put_both32(&r[2], extent);
  put_both32(&r[10], data_length);
  for (int i = 0; i < 7; ++i) r[18 + i] = date.bytes[i];
  r[25] = flags;
  r[26] = 0;  // file unit size
  r[27] = 0;  // interleave gap
  put_both16(&r[28], 1);  // volume sequence number
  r[32] = uint8_t(identifier.size());
  for (size_t i = 0; i < identifier.size(); ++i) r[33 + i] = uint8_t(identifier[i]);
  return r;
}

std::vector<uint8_t> iso_path_table_record(const std::string& identifier, uint32_t extent,
                                           uint16_t parent_number, bool big_endian) {
  std::vector<uint8_t> r(iso_path_record_length(identifier.size()), 0);
  r[0] = uint8_t(identifier.size());
  r[1] = 0;
  if (big_endian) {
    put_be32(&r[2], extent);
    put_be16(&r[6], parent_number);
  } else {
    put_le32(&r[2], extent);
    put_le16(&r[6], parent_number);
  }
  for (size_t i = 0; i < identifier.size(); ++i) r[8 + i] = uint8_t(identifier[i]);
  return r;
}

uint64_t iso_extent_count(uint64_t size) {
  if (size == 0) return 1;
  return (size + kIsoMaxExtentBytes - 1) / kIsoMaxExtentBytes;
}

std::vector<IsoExtent> iso_file_extents(uint32_t lsn, uint64_t size) {
  std::vector<IsoExtent> out;
  uint64_t left = size;
  uint64_t at = lsn;
  constexpr uint32_t kExtentSectors = kIsoMaxExtentBytes / kSectorSize;
  do {
    IsoExtent e;
    e.lsn = uint32_t(at);
    e.length = uint32_t(left > kIsoMaxExtentBytes ? kIsoMaxExtentBytes : left);
    left -= e.length;
    e.flags = left > 0 ? kIsoFlagMultiExtent : 0;
    out.push_back(e);
    at += kExtentSectors;
  } while (left > 0);
  return out;
}

}  // namespace varn
