// The volume recognition sequence of ECMA-167 (BEA01, NSR02, TEA01).
#pragma once

#include <cstdint>
#include <vector>

namespace varn {

// BEA01, NSR02 and TEA01: three sectors, each a volume structure descriptor
// (structure type 0, the five-byte identifier, version 1, the rest zero).
std::vector<uint8_t> volume_recognition_sectors();

}  // namespace varn
