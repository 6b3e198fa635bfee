// The ISO 9660 volume: system area, volume descriptors, path tables,
// directories and embedded file data.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "fs/bytes.h"
#include "fs/iso9660_records.h"
#include "fs/iso9660_volume.h"
#include "fs/sector_io.h"
#include "fs/volume_recognition.h"
#include "platform/platform.h"

namespace varn {

namespace {

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

std::string file_identifier_of(const IsoFileEntry& f) { return iso_file_identifier(last_part(f.path)); }

}  // namespace

bool plan_iso9660_volume(std::vector<IsoFileEntry> files, uint32_t block_count, const std::string& label,
                         const EmbedWindow& window, IsoVolume& volume, ReportLines& lines) {
  volume = IsoVolume{};
  volume.volume_blocks = std::max(block_count, kIsoMinimumBlocks);
  volume.label = label;
  volume.time = civil_time_utc(volume_time());
  place_embedded_files(files, window, volume.volume_blocks, lines);
  volume.files = std::move(files);
  // Directories live between the root sector and the first of: the front
  // gap, the UDF anchor.
  return plan_iso_tree(volume.files, std::min(window.gap_first, kUdfAnchorLsn), volume.dirs, lines);
}

std::vector<uint8_t> iso_primary_descriptor(const IsoVolume& v) {
  std::vector<uint8_t> bytes(kSectorSize, 0);
  uint8_t* s = bytes.data();
  s[0] = 1;
  std::memcpy(s + 1, "CD001", 5);
  s[6] = 1;
  std::memset(s + 8, ' ', 32);
  put_padded(s + 40, 32, iso_volume_label(v.label), ' ');
  put_both32(s + 80, v.volume_blocks);
  put_both16(s + 120, 1);
  put_both16(s + 124, 1);
  put_both16(s + 128, uint16_t(kSectorSize));
  put_both32(s + 132, iso_path_table_size(v.dirs));
  put_le32(s + 140, kIsoPathTableL);
  put_be32(s + 148, kIsoPathTableM);
  std::vector<uint8_t> root = iso_directory_record(std::string(1, '\0'), kIsoRootLsn, v.dirs[0].size,
                                                   kIsoFlagDirectory, iso_record_date(v.time));
  std::memcpy(s + 156, root.data(), 34);
  put_padded(s + 318, 128, "VARN AUDIO, CN", ' ');
  put_long_date(s + 813, v.time);
  put_empty_long_date(s + 830);
  put_empty_long_date(s + 847);
  put_empty_long_date(s + 864);
  s[881] = 1;
  return bytes;
}

std::vector<uint8_t> iso_terminator() {
  std::vector<uint8_t> s(kSectorSize, 0);
  s[0] = 255;
  std::memcpy(s.data() + 1, "CD001", 5);
  s[6] = 1;
  return s;
}

std::vector<uint8_t> iso_path_table(const IsoVolume& v, bool big_endian) {
  std::vector<uint8_t> table;
  for (const IsoDirectory& d : v.dirs) {
    std::string id = d.full_path.empty() ? std::string(1, '\0') : iso_directory_identifier(d.name);
    std::vector<uint8_t> r = iso_path_table_record(id, d.lsn, v.dirs[d.parent].number, big_endian);
    table.insert(table.end(), r.begin(), r.end());
  }
  table.resize(sectors_of(table.size()) * kSectorSize, 0);
  return table;
}

// ".", "..", the subdirectories, the files.
std::vector<uint8_t> iso_directory(const IsoVolume& v, size_t which) {
  const IsoRecordDate date = iso_record_date(v.time);
  const IsoDirectory& d = v.dirs[which];
  const IsoDirectory& parent = v.dirs[d.parent];
  std::vector<std::vector<uint8_t>> records;
  records.push_back(iso_directory_record(std::string(1, '\0'), d.lsn, d.size, kIsoFlagDirectory, date));
  records.push_back(
      iso_directory_record(std::string(1, '\1'), parent.lsn, parent.size, kIsoFlagDirectory, date));
  for (size_t c : d.children)
    records.push_back(iso_directory_record(iso_directory_identifier(v.dirs[c].name), v.dirs[c].lsn,
                                           v.dirs[c].size, kIsoFlagDirectory, date));
  for (size_t fi : d.files) {
    const IsoFileEntry& f = v.files[fi];
    if (f.content.empty() && f.lsn == 0) continue;
    uint64_t size = f.content.empty() ? f.size : f.content.size();
    const std::string id = file_identifier_of(f);
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

std::vector<uint8_t> padded_to_sectors(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> out(sectors_of(bytes.size()) * kSectorSize, 0);
  if (!bytes.empty()) std::memcpy(out.data(), bytes.data(), bytes.size());
  return out;
}

std::vector<SectorRun> iso_volume_runs(const IsoVolume& v) {
  std::vector<SectorRun> runs;
  runs.push_back({kIsoPrimaryDescriptorLsn, iso_primary_descriptor(v), "ISO 9660 primary volume descriptor"});
  runs.push_back({kIsoTerminatorLsn, iso_terminator(), "ISO 9660 descriptor set terminator"});
  runs.push_back({kIsoRecognitionLsn, volume_recognition_sectors(), "UDF volume recognition sequence"});
  runs.push_back({kIsoPathTableL, iso_path_table(v, false), "ISO 9660 path table (L)"});
  runs.push_back({kIsoPathTableM, iso_path_table(v, true), "ISO 9660 path table (M)"});
  for (size_t i = 0; i < v.dirs.size(); ++i) runs.push_back({v.dirs[i].lsn, iso_directory(v, i), "ISO 9660 directory"});
  for (const IsoFileEntry& e : v.files)
    if (!e.content.empty()) runs.push_back({e.lsn, padded_to_sectors(e.content), e.path});
  return runs;
}

}  // namespace varn
