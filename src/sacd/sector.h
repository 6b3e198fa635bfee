// Sectors of the SACD structures: 2048-byte blocks addressed by LSN, with
// big-endian numbers and three-byte time codes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "fs/bytes.h"
#include "fs/sector_io.h"

namespace varn {

using Sector = std::array<uint8_t, kSectorSize>;

// Time code of a frame count (75 frames a second): minutes, seconds, frames.
inline void put_time_code(uint8_t* p, uint64_t frames) {
  p[0] = uint8_t(frames / 4500);
  p[1] = uint8_t((frames / 75) % 60);
  p[2] = uint8_t(frames % 75);
}

}  // namespace varn
