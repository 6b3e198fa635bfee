#pragma once

#include <cstdint>

namespace varn {

// Process-wide 256-entry table: entry v is v with its 8 bits in reverse
// order. Filled on first use.
const uint8_t* bit_reverse_table();

}  // namespace varn
