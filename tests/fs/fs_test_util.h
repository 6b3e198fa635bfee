// Helpers of the file-system tests: sparse scratch images with known bytes
// at known sectors, sector reads, and an independent bit-by-bit CRC to
// check the UDF descriptor tags against.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fs/iso9660.h"
#include "fs/udf.h"
#include "support/capture.h"
#include "support/test_support.h"

namespace fstest {

using testsupport::le16;
using testsupport::le32;
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

// The writers print their plan and file lists; the tests keep them quiet.
inline bool write_udf(const std::string& img, const std::vector<varn::UdfFileEntry>& files, uint32_t blocks,
                      const std::string& name = "V") {
  bool ok = false;
  testsupport::capture([&] { ok = varn::write_udf_volume(img, files, 257, blocks, name); });
  return ok;
}

}  // namespace fstest
