#pragma once

#include <cstdint>
#include <vector>

namespace varn {

// One encoded SACD frame (1/75 s): a DST-coded frame (first bit 1), or a
// plain frame (0x00 followed by the frame's DSD bytes).
using DstFrame = std::vector<uint8_t>;

}  // namespace varn
