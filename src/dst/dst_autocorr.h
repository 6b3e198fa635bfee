// Autocorrelation of one channel's bits from packed 64-bit words.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varn {

// Packs `length` bits, given as 0/1 bytes in time order, into words: bit j
// of word i is bit 64 i + j. Unused bits of the last word are 0.
void dst_pack_bits(const uint8_t* bits, size_t length, uint64_t* words);

// R[k] for k = 0..max_lag: the sum over n from k to length-1 of s[n] s[n-k]
// with s = +1 for a 1 bit and -1 for a 0 bit. `words` must be preceded by
// at least max_lag / 64 + 2 zero words.
void dst_autocorrelation(const uint64_t* words, size_t length, int max_lag, int64_t* r);

}  // namespace varn
