#include "fs/sector_io.h"

#include <cerrno>

#include "platform/platform.h"

namespace varn {

bool seek_to(FILE* f, uint64_t byte_offset) {
  return platform_fseek64(f, static_cast<int64_t>(byte_offset), SEEK_SET) == 0;
}

bool write_at(FILE* f, uint64_t byte_offset, const void* data, size_t n) {
  if (!seek_to(f, byte_offset)) return false;
  return std::fwrite(data, 1, n, f) == n;
}

bool write_zero_sectors_here(FILE* f, uint32_t count) {
  static const uint8_t zero[kSectorSize] = {};
  for (uint32_t i = 0; i < count; ++i)
    if (std::fwrite(zero, 1, kSectorSize, f) != kSectorSize) return false;
  return true;
}

bool write_zero_sectors(FILE* f, uint32_t lsn, uint32_t count) {
  if (!seek_to(f, uint64_t(lsn) * kSectorSize)) return false;
  return write_zero_sectors_here(f, count);
}

bool close_written_file(FILE* f) {
  const bool failed = std::ferror(f) != 0;
  const int error = errno;
  const bool closed = std::fclose(f) == 0;
  if (failed && closed) errno = error ? error : EIO;
  return closed && !failed;
}

bool read_at(FILE* f, uint64_t byte_offset, void* data, size_t n) {
  if (!seek_to(f, byte_offset)) return false;
  return std::fread(data, 1, n, f) == n;
}

}  // namespace varn
