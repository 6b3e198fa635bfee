// Helpers of the file-system tests: sparse scratch images with known bytes
// at known sectors, planned volumes put into them, sector reads, and an
// independent bit-by-bit CRC to check the UDF descriptor tags against.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fs/iso9660_volume.h"
#include "fs/udf_volume.h"
#include "support/pinned.h"
#include "support/test_support.h"

namespace fstest {

using testsupport::expect_pinned;
using testsupport::le16;
using testsupport::le32;
using testsupport::read_file;
using testsupport::ScratchDir;
constexpr uint64_t kSector = 2048;

// Creates (truncating) a sparse file of `sectors` sectors.
inline void make_sparse_image(const std::string& path, uint64_t sectors) {
  std::ofstream(path, std::ios::binary | std::ios::trunc);
  std::filesystem::resize_file(path, sectors * kSector);
}

// Writes bytes at a byte offset of an existing file.
inline void poke(const std::string& path, uint64_t offset, const std::string& bytes) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(std::streamoff(offset));
  f.write(bytes.data(), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> read_bytes(const std::string& path, uint64_t offset, size_t n) {
  std::ifstream f(path, std::ios::binary);
  f.seekg(std::streamoff(offset));
  std::vector<uint8_t> out(n);
  f.read(reinterpret_cast<char*>(out.data()), std::streamsize(n));
  out.resize(size_t(std::max<std::streamsize>(f.gcount(), 0)));
  return out;
}
inline std::vector<uint8_t> read_sector(const std::string& path, uint64_t lsn) {
  return read_bytes(path, lsn * kSector, kSector);
}

inline bool all_zero(const std::vector<uint8_t>& v, size_t from = 0, size_t to = SIZE_MAX) {
  for (size_t i = from; i < std::min(to, v.size()); ++i)
    if (v[i] != 0) return false;
  return true;
}

// CRC-ITU-T computed bit by bit (x^16 + x^12 + x^5 + 1, initial 0).
inline uint16_t reference_crc(const uint8_t* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= uint16_t(p[i] << 8);
    for (int k = 0; k < 8; ++k) crc = uint16_t((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

// Checks a UDF descriptor tag: identifier, version 2, location, checksum,
// and the CRC over its CRC length. Returns an empty string when sound.
inline std::string check_tag(const uint8_t* p, uint16_t id, uint32_t location) {
  if (le16(p) != id) return "tag id " + std::to_string(le16(p)) + " != " + std::to_string(id);
  if (le16(p + 2) != 2) return "descriptor version";
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i) sum = uint8_t(sum + (i == 4 ? 0 : p[i]));
  if (sum != p[4]) return "checksum";
  if (le32(p + 12) != location) return "location " + std::to_string(le32(p + 12)) + " != " + std::to_string(location);
  if (reference_crc(p + 16, le16(p + 10)) != le16(p + 8)) return "crc";
  return "";
}

// Puts the structures of a planned volume at their sectors of `img` (made
// when missing, grown to `sectors` when shorter), as the image writer does.
inline void put_runs(const std::string& img, const std::vector<varn::SectorRun>& runs, uint64_t sectors) {
  std::ofstream(img, std::ios::binary | std::ios::app);
  if (std::filesystem::file_size(img) < sectors * kSector) std::filesystem::resize_file(img, sectors * kSector);
  for (const varn::SectorRun& r : runs) poke(img, uint64_t(r.lsn) * kSector, std::string(r.bytes.begin(), r.bytes.end()));
}

inline std::string text_of(const varn::ReportLines& lines) {
  std::string text;
  for (const varn::ReportLine& l : lines) text += l.text;
  return text;
}

// Plans a volume and puts it into `img`; false when the plan refuses.
// `said` receives the plan's notes and errors; `files` the placed list.
inline bool write_iso(const std::string& img, uint32_t blocks, std::vector<varn::IsoFileEntry>& files,
                      const std::string& label = "X", varn::EmbedWindow w = {289, 510, 0}, std::string* said = nullptr) {
  varn::IsoVolume v;
  varn::ReportLines lines;
  const bool ok = varn::plan_iso9660_volume(files, blocks, label, w, v, lines);
  if (said) *said = text_of(lines);
  if (ok) put_runs(img, varn::iso_volume_runs(v), v.volume_blocks);
  if (ok) files = v.files;
  return ok;
}
inline bool write_udf(const std::string& img, const std::vector<varn::UdfFileEntry>& files, uint32_t blocks,
                      const std::string& name = "V", std::string* said = nullptr) {
  varn::UdfVolume v;
  varn::ReportLines lines;
  const bool ok = varn::plan_udf_volume(files, 257, blocks, name, v, lines);
  if (said) *said = text_of(lines);
  if (ok) put_runs(img, varn::udf_volume_runs(v), v.blocks);
  return ok;
}

}  // namespace fstest
