// The ISO 9660 volume: system area, volume descriptors, path tables,
// directories and embedded file data.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fs/bytes.h"
#include "fs/iso9660.h"
#include "fs/iso9660_records.h"
#include "fs/iso9660_tree.h"
#include "fs/sector_io.h"
#include "fs/volume_recognition.h"
#include "platform/platform.h"
#include "platform/report.h"

namespace varn {

namespace {

constexpr uint32_t kIsoMinimumBlocks = 510;
// The UDF writer puts its first anchor at this sector; the directories end
// before it.
constexpr uint32_t kUdfAnchorLsn = 256;

std::string last_part(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void put_long_date(uint8_t* p, const CivilTime& t) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%04u%02u%02u%02u%02u%02u00", unsigned(t.year) % 10000,
                unsigned(t.month), unsigned(t.day), unsigned(t.hour), unsigned(t.minute),
                unsigned(t.second));
  std::memcpy(p, digits, 16);
  p[16] = 0;
}

void put_empty_long_date(uint8_t* p) {
  std::memset(p, '0', 16);
  p[16] = 0;
}

// The volume identifier holds plain ASCII only: every other character
// (a UTF-8 sequence, a control byte) stands as one '_'.
std::string iso_volume_label(const std::string& label) {
  std::string out;
  for (char ch : label) {
    const uint8_t b = uint8_t(ch);
    if ((b & 0xC0) == 0x80) continue;  // the rest of a UTF-8 character
    out += (b >= 0x20 && b < 0x7F) ? ch : '_';
  }
  return out;
}

void make_primary_descriptor(uint8_t* s, uint32_t volume_blocks, const std::string& label,
                             uint32_t path_table_size, uint32_t root_size, const CivilTime& t) {
  std::memset(s, 0, kSectorSize);
  s[0] = 1;
  std::memcpy(s + 1, "CD001", 5);
  s[6] = 1;
  std::memset(s + 8, ' ', 32);
  put_padded(s + 40, 32, iso_volume_label(label), ' ');
  put_both32(s + 80, volume_blocks);
  put_both16(s + 120, 1);
  put_both16(s + 124, 1);
  put_both16(s + 128, uint16_t(kSectorSize));
  put_both32(s + 132, path_table_size);
  put_le32(s + 140, kIsoPathTableL);
  put_be32(s + 148, kIsoPathTableM);
  std::vector<uint8_t> root = iso_directory_record(std::string(1, '\0'), kIsoRootLsn, root_size,
                                                   kIsoFlagDirectory, iso_record_date(t));
  std::memcpy(s + 156, root.data(), 34);
  put_padded(s + 318, 128, "VARN AUDIO, CN", ' ');
  put_long_date(s + 813, t);
  put_empty_long_date(s + 830);
  put_empty_long_date(s + 847);
  put_empty_long_date(s + 864);
  s[881] = 1;
}

void make_terminator(uint8_t* s) {
  std::memset(s, 0, kSectorSize);
  s[0] = 255;
  std::memcpy(s + 1, "CD001", 5);
  s[6] = 1;
}

std::vector<uint8_t> make_path_table(const std::vector<IsoDirectory>& dirs, bool big_endian) {
  std::vector<uint8_t> table;
  for (const IsoDirectory& d : dirs) {
    std::string id = d.full_path.empty() ? std::string(1, '\0') : iso_directory_identifier(d.name);
    std::vector<uint8_t> r =
        iso_path_table_record(id, d.lsn, dirs[d.parent].number, big_endian);
    table.insert(table.end(), r.begin(), r.end());
  }
  table.resize((table.size() + kSectorSize - 1) / kSectorSize * kSectorSize, 0);
  return table;
}

// The bytes of one directory: ".", "..", the subdirectories, the files.
std::vector<uint8_t> make_directory(const std::vector<IsoDirectory>& dirs, size_t which,
                                    const std::vector<IsoFileEntry>& files,
                                    const IsoRecordDate& date) {
  const IsoDirectory& d = dirs[which];
  const IsoDirectory& parent = dirs[d.parent];
  std::vector<std::vector<uint8_t>> records;
  records.push_back(iso_directory_record(std::string(1, '\0'), d.lsn, d.size, kIsoFlagDirectory, date));
  records.push_back(
      iso_directory_record(std::string(1, '\1'), parent.lsn, parent.size, kIsoFlagDirectory, date));
  for (size_t c : d.children)
    records.push_back(iso_directory_record(iso_directory_identifier(dirs[c].name), dirs[c].lsn,
                                           dirs[c].size, kIsoFlagDirectory, date));
  for (size_t fi : d.files) {
    const IsoFileEntry& f = files[fi];
    if (f.content.empty() && f.lsn == 0) continue;
    uint64_t size = f.content.empty() ? f.size : f.content.size();
    std::string id = iso_file_identifier(last_part(f.path));
    for (const IsoExtent& e : iso_file_extents(f.lsn, size))
      records.push_back(iso_directory_record(id, e.lsn, e.length, e.flags, date));
  }
  std::vector<uint32_t> lengths;
  for (const auto& r : records) lengths.push_back(uint32_t(r.size()));
  std::vector<uint64_t> offsets;
  iso_pack_records(lengths, &offsets);
  std::vector<uint8_t> bytes(d.size, 0);
  for (size_t i = 0; i < records.size(); ++i)
    std::memcpy(bytes.data() + offsets[i], records[i].data(), records[i].size());
  return bytes;
}

}  // namespace

bool write_iso9660_volume(const std::string& image_path, uint32_t block_count,
                          std::vector<IsoFileEntry>& files, const std::string& label,
                          const EmbedWindow& window) {
  FILE* f = platform_fopen(image_path, "r+b");
  if (!f) f = platform_fopen(image_path, "wb");
  if (!f) {
    report_error("Error: cannot open %s for the ISO 9660 volume\n", image_path.c_str());
    return false;
  }
  uint32_t volume_blocks = std::max(block_count, kIsoMinimumBlocks);
  CivilTime t = civil_time_utc(volume_time());
  IsoRecordDate date = iso_record_date(t);

  place_embedded_files(files, window, volume_blocks);

  // Directories live between the root sector and the first of: the front
  // gap, the UDF anchor.
  uint32_t dir_limit = std::min(window.gap_first, kUdfAnchorLsn);
  std::vector<IsoDirectory> dirs;
  if (!plan_iso_tree(files, dir_limit, dirs)) {
    std::fclose(f);
    return false;
  }

  uint8_t sector[kSectorSize];
  seek_to(f, 0);
  write_zero_sectors_here(f, 16);
  make_primary_descriptor(sector, volume_blocks, label, iso_path_table_size(dirs), dirs[0].size, t);
  std::fwrite(sector, 1, kSectorSize, f);
  make_terminator(sector);
  std::fwrite(sector, 1, kSectorSize, f);
  static const char* const kIds[3] = {"BEA01", "NSR02", "TEA01"};
  for (const char* id : kIds) {
    make_recognition_sector(sector, id);
    std::fwrite(sector, 1, kSectorSize, f);
  }
  write_zero_sectors_here(f, 11);
  write_zero_sectors_here(f, 34);
  std::vector<uint8_t> l_table = make_path_table(dirs, false);
  std::vector<uint8_t> m_table = make_path_table(dirs, true);
  std::fwrite(l_table.data(), 1, l_table.size(), f);
  std::fwrite(m_table.data(), 1, m_table.size(), f);

  for (size_t i = 0; i < dirs.size(); ++i) {
    std::vector<uint8_t> bytes = make_directory(dirs, i, files, date);
    write_at(f, uint64_t(dirs[i].lsn) * kSectorSize, bytes.data(), bytes.size());
  }

  for (const IsoFileEntry& e : files) {
    if (e.content.empty()) continue;
    write_at(f, uint64_t(e.lsn) * kSectorSize, e.content.data(), e.content.size());
    size_t tail = e.content.size() % kSectorSize;
    if (tail != 0) {
      static const uint8_t zero[kSectorSize] = {};
      std::fwrite(zero, 1, kSectorSize - tail, f);
    }
  }

  int64_t pos = platform_ftell64(f);
  if (pos >= 0 && pos < int64_t(kIsoMinimumBlocks) * kSectorSize) {
    // Fill from the next sector boundary up to sector 510.
    uint64_t from = (uint64_t(pos) + kSectorSize - 1) / kSectorSize;
    if (uint64_t(pos) % kSectorSize != 0) {
      static const uint8_t zero[kSectorSize] = {};
      std::fwrite(zero, 1, kSectorSize - size_t(uint64_t(pos) % kSectorSize), f);
    }
    write_zero_sectors(f, uint32_t(from), kIsoMinimumBlocks - uint32_t(from));
  }
  if (!close_written_file(f)) {
    report_error("Error: writing the ISO 9660 volume to %s failed: %s\n", image_path.c_str(),
                 std::strerror(errno));
    return false;
  }
  return true;
}

}  // namespace varn
