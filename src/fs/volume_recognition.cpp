#include "fs/volume_recognition.h"

#include <cstring>

#include "fs/sector_io.h"

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

}  // namespace varn
