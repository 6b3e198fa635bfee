#pragma once

#include <cstddef>
#include <cstdint>

namespace varn {

// CRC-ITU-T (x^16 + x^12 + x^5 + 1, initial 0, no reflection), as the UDF
// descriptor tags use it.
uint16_t crc_itu_t(const uint8_t* data, size_t length);

}  // namespace varn
