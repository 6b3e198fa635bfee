#include "fs/crc_itu.h"

namespace varn {

uint16_t crc_itu_t(const uint8_t* data, size_t length) {
  static uint16_t table[256];
  static bool ready = false;
  if (!ready) {
    for (int i = 0; i < 256; ++i) {
      uint16_t c = static_cast<uint16_t>(i << 8);
      for (int k = 0; k < 8; ++k) c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
      table[i] = c;
    }
    ready = true;
  }
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i)
    crc = static_cast<uint16_t>((crc << 8) ^ table[((crc >> 8) ^ data[i]) & 0xFF]);
  return crc;
}

}  // namespace varn
