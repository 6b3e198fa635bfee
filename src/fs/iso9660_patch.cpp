// Fix-ups of a written ISO 9660 volume on an open image: directory sectors,
// one root-directory entry, the volume space size.
#include <cstdio>
#include <cstring>

#include "fs/bytes.h"
#include "fs/iso9660.h"
#include "fs/iso9660_records.h"
#include "fs/iso9660_tree.h"
#include "fs/sector_io.h"
#include "platform/report.h"

namespace varn {

namespace {

constexpr uint64_t kPvdOffset = 16ull * kSectorSize;

// Sets the extents of the first two records of one path table sector to the
// root and second directory sectors. Records beyond the table's recorded
// size are not touched.
void reassert_path_table(FILE* image, uint32_t lsn, uint32_t table_size, bool big_endian) {
  uint8_t s[kSectorSize];
  if (!read_at(image, uint64_t(lsn) * kSectorSize, s, kSectorSize)) return;
  const uint32_t extents[2] = {kIsoRootLsn, kIsoRootLsn + 1};
  uint32_t at = 0;
  for (int k = 0; k < 2; ++k) {
    if (at + 8 > table_size) break;
    uint8_t id_len = s[at];
    if (id_len == 0 || id_len >= 128) break;
    uint32_t rec_len = iso_path_record_length(id_len);
    if (at + rec_len > table_size) break;
    if (big_endian)
      put_be32(s + at + 2, extents[k]);
    else
      put_le32(s + at + 2, extents[k]);
    at += rec_len;
  }
  write_at(image, uint64_t(lsn) * kSectorSize, s, kSectorSize);
}

}  // namespace

void reassert_iso_directory_lsns(FILE* image) {
  uint8_t v[4];
  put_le32(v, kIsoRootLsn);
  write_at(image, kPvdOffset + 158, v, 4);
  put_be32(v, kIsoRootLsn);
  write_at(image, kPvdOffset + 162, v, 4);

  uint32_t table_size = kSectorSize;
  uint8_t field[4];
  if (read_at(image, kPvdOffset + 132, field, 4)) {
    uint32_t recorded = get_le32(field);
    if (recorded != 0 && recorded < table_size) table_size = recorded;
  }
  reassert_path_table(image, kIsoPathTableL, table_size, false);
  reassert_path_table(image, kIsoPathTableM, table_size, true);
  report_note("  ISO 9660 dirs: LSN 68/69 (no relocation)\n");
}

void patch_root_directory_entry(FILE* image, const std::string& name, uint32_t lsn, uint64_t size) {
  uint8_t field[12];
  if (!read_at(image, kPvdOffset + 158, field, 12)) return;
  uint32_t root = get_le32(field);
  uint32_t root_size = get_le32(field + 8);
  if (root == 0) return;
  if (size > kIsoMaxExtentBytes) {
    report_error("  ⚠ [Embed] cannot patch the directory entry: %s is too large for one directory "
                 "record (%llu bytes)\n",
                 name.c_str(), static_cast<unsigned long long>(size));
    return;
  }
  // The root directory's own length bounds the search (at most 8 sectors).
  uint32_t sectors = root_size == 0 ? 8 : (root_size + kSectorSize - 1) / kSectorSize;
  if (sectors > 8) sectors = 8;
  for (uint32_t k = 0; k < sectors; ++k) {
    uint8_t s[kSectorSize];
    uint64_t base = uint64_t(root + k) * kSectorSize;
    if (!read_at(image, base, s, kSectorSize)) return;
    uint32_t at = 0;
    while (kSectorSize - at >= 34) {
      uint8_t rec_len = s[at];
      if (rec_len < 34 || at + rec_len > kSectorSize) break;
      uint8_t id_len = s[at + 32];
      std::string id;
      if (id_len <= rec_len - 33) id.assign(reinterpret_cast<const char*>(s + at + 33), id_len);
      size_t semi = id.find(';');
      if (semi != std::string::npos) id.resize(semi);
      if (id == name) {
        uint8_t rec[16];
        put_both32(rec, lsn);
        put_both32(rec + 8, uint32_t(size));
        write_at(image, base + at + 2, rec, 16);
        report_note("  [Embed] directory entry patched: %s -> LSN %u (%u bytes)\n",
                     name.c_str(), lsn, unsigned(size));
        return;
      }
      at += rec_len;
    }
  }
  report_error("  ⚠ [Embed] cannot patch the directory entry: %s not found in the root directory\n",
               name.c_str());
}

void write_iso_volume_size(FILE* image, uint32_t sectors) {
  uint8_t v[8];
  put_both32(v, sectors);
  write_at(image, kPvdOffset + 80, v, 8);
}

}  // namespace varn
