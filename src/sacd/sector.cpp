#include "sacd/sector.h"

#include "platform/platform.h"

namespace varn {

void write_sectors_at(FILE* f, uint32_t lsn, const uint8_t* data, size_t count) {
  if (!f || count == 0) return;
  platform_fseek64(f, int64_t(lsn) * kSectorSize, SEEK_SET);
  std::fwrite(data, kSectorSize, count, f);
  std::fflush(f);
}

}  // namespace varn
