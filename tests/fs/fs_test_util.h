// Helpers of the file-system tests: sparse scratch images with known bytes
// at known sectors, sector reads, a fixed volume time, and an independent
// bit-by-bit CRC to check the descriptor tags against.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fs/iso9660.h"
#include "fs/udf.h"

namespace fstest {

constexpr uint64_t kSector = 2048;

// Creates (truncating) a sparse file of `sectors` sectors.
inline void make_sparse_image(const std::string& path, uint64_t sectors) {
  int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0644);
  if (fd < 0) return;
  if (::ftruncate(fd, off_t(sectors * kSector)) != 0) {}
  ::close(fd);
}

// Writes bytes at a byte offset of an existing file.
inline void poke(const std::string& path, uint64_t offset, const std::string& bytes) {
  int fd = ::open(path.c_str(), O_RDWR);
  if (fd < 0) return;
  if (::pwrite(fd, bytes.data(), bytes.size(), off_t(offset)) < 0) {}
  ::close(fd);
}

inline std::vector<uint8_t> read_bytes(const std::string& path, uint64_t offset, size_t n) {
  std::vector<uint8_t> out(n, 0);
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return {};
  ssize_t got = ::pread(fd, out.data(), n, off_t(offset));
  ::close(fd);
  out.resize(got < 0 ? 0 : size_t(got));
  return out;
}

inline std::vector<uint8_t> read_sector(const std::string& path, uint64_t lsn) {
  return read_bytes(path, lsn * kSector, kSector);
}

inline uint64_t file_size(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return 0;
  off_t end = ::lseek(fd, 0, SEEK_END);
  ::close(fd);
  return end < 0 ? 0 : uint64_t(end);
}

inline bool all_zero(const std::vector<uint8_t>& v, size_t from = 0, size_t to = SIZE_MAX) {
  if (to > v.size()) to = v.size();
  for (size_t i = from; i < to; ++i)
    if (v[i] != 0) return false;
  return true;
}

// Sets SOURCE_DATE_EPOCH for the lifetime of the object.
struct EpochGuard {
  explicit EpochGuard(const char* value) {
    if (value)
      ::setenv("SOURCE_DATE_EPOCH", value, 1);
    else
      ::unsetenv("SOURCE_DATE_EPOCH");
  }
  ~EpochGuard() { ::unsetenv("SOURCE_DATE_EPOCH"); }
};

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
  auto le16 = [](const uint8_t* q) { return uint16_t(q[0] | (q[1] << 8)); };
  auto le32 = [](const uint8_t* q) {
    return uint32_t(q[0]) | (uint32_t(q[1]) << 8) | (uint32_t(q[2]) << 16) | (uint32_t(q[3]) << 24);
  };
  if (le16(p) != id) return "tag id " + std::to_string(le16(p)) + " != " + std::to_string(id);
  if (le16(p + 2) != 2) return "descriptor version";
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum = uint8_t(sum + p[i]);
  if (sum != p[4]) return "checksum";
  if (le32(p + 12) != location)
    return "location " + std::to_string(le32(p + 12)) + " != " + std::to_string(location);
  uint16_t len = le16(p + 10);
  if (reference_crc(p + 16, len) != le16(p + 8)) return "crc";
  return "";
}

}  // namespace fstest
