#include "fs/volume_recognition.h"

#include <cstring>

#include "fs/sector_io.h"

namespace varn {

std::vector<uint8_t> volume_recognition_sectors() {
  static const char* const kIds[3] = {"BEA01", "NSR02", "TEA01"};
  std::vector<uint8_t> bytes(3 * kSectorSize, 0);
  for (uint32_t i = 0; i < 3; ++i) {
    // Structure type 0, the identifier, version 1, the rest zero.
    uint8_t* sector = bytes.data() + i * kSectorSize;
    std::memcpy(sector + 1, kIds[i], 5);
    sector[6] = 1;
  }
  return bytes;
}

}  // namespace varn
