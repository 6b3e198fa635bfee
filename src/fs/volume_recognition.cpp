#include "fs/volume_recognition.h"

#include <cstring>

#include "fs/sector_io.h"
#include "fs/udf.h"
#include "platform/platform.h"
#include "platform/report.h"

namespace varn {

void make_recognition_sector(uint8_t* sector, const char* identifier) {
  std::memset(sector, 0, kSectorSize);
  sector[0] = 0;
  std::memcpy(sector + 1, identifier, 5);
  sector[6] = 1;
}

std::vector<uint8_t> volume_recognition_sectors() {
  static const char* const kIds[3] = {"BEA01", "NSR02", "TEA01"};
  std::vector<uint8_t> bytes(3 * kSectorSize, 0);
  for (uint32_t i = 0; i < 3; ++i) make_recognition_sector(bytes.data() + i * kSectorSize, kIds[i]);
  return bytes;
}

bool write_recognition_sequence(FILE* f, uint32_t first_sector) {
  static const char* const kIds[3] = {"BEA01", "NSR02", "TEA01"};
  uint8_t sector[kSectorSize];
  for (uint32_t i = 0; i < 3; ++i) {
    make_recognition_sector(sector, kIds[i]);
    if (!write_at(f, uint64_t(first_sector + i) * kSectorSize, sector, kSectorSize)) return false;
  }
  return true;
}

bool write_udf_recognition(const std::string& image_path, uint32_t first_sector) {
  FILE* f = platform_fopen(image_path, "r+b");
  if (!f) {
    report_error("Error: cannot open %s for UDF write\n", image_path.c_str());
    return false;
  }
  bool ok = write_recognition_sequence(f, first_sector) &&
            write_zero_sectors(f, first_sector + 3, 11);
  ok = close_written_file(f) && ok;
  if (!ok) report_error("Error: cannot write the UDF recognition sequence to %s\n", image_path.c_str());
  return ok;
}

}  // namespace varn
