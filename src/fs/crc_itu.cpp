#include "fs/crc_itu.h"

#include <array>

namespace varn {

namespace {

constexpr std::array<uint16_t, 256> make_table() {
  std::array<uint16_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    uint16_t c = static_cast<uint16_t>(i << 8);
    for (int k = 0; k < 8; ++k) c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
    table[i] = c;
  }
  return table;
}

// Built at compile time, so concurrent first calls need no guard.
constexpr std::array<uint16_t, 256> kTable = make_table();

}  // namespace

uint16_t crc_itu_t(const uint8_t* data, size_t length) {
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i)
    crc = static_cast<uint16_t>((crc << 8) ^ kTable[((crc >> 8) ^ data[i]) & 0xFF]);
  return crc;
}

}  // namespace varn
