// Sectors of the SACD structures: 2048-byte blocks addressed by LSN, with
// big-endian numbers and three-byte time codes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace varn {

constexpr uint32_t kSectorBytes = 2048;
using Sector = std::array<uint8_t, kSectorBytes>;

inline void put_be16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void put_be32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

// Time code of a frame count (75 frames a second): minutes, seconds, frames.
inline void put_time_code(uint8_t* p, uint64_t frames) {
  p[0] = uint8_t(frames / 4500);
  p[1] = uint8_t((frames / 75) % 60);
  p[2] = uint8_t(frames % 75);
}

// Positions the file at `lsn` and writes `count` whole sectors, then
// flushes. Write errors are left to the image check of the builder.
void write_sectors_at(FILE* f, uint32_t lsn, const uint8_t* data, size_t count);

}  // namespace varn
