#include "fs/sector_io.h"

#include <cerrno>

#include "platform/platform.h"

namespace varn {

bool close_written_file(FILE* f) {
  const bool failed = std::ferror(f) != 0;
  const int error = errno;
  const bool closed = std::fclose(f) == 0;
  if (failed && closed) errno = error ? error : EIO;
  return closed && !failed;
}

bool read_at(FILE* f, uint64_t byte_offset, void* data, size_t n) {
  if (platform_fseek64(f, static_cast<int64_t>(byte_offset), SEEK_SET) != 0) return false;
  return std::fread(data, 1, n, f) == n;
}

}  // namespace varn
