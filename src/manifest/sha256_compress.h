// The two SHA-256 block compression functions behind sha256.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varn {

extern const uint32_t kSha256RoundConstants[64];

// Processes `blocks` consecutive 64-byte blocks into `state`.
void sha256_compress_scalar(uint32_t state[8], const uint8_t* data, size_t blocks);

// Same with the SHA instructions; only call when sha256_hardware_available().
void sha256_compress_hardware(uint32_t state[8], const uint8_t* data, size_t blocks);
// The same blocks into two states at once.
void sha256_compress_hardware_pair(uint32_t a[8], uint32_t b[8], const uint8_t* data, size_t blocks);

}  // namespace varn
