// DSF channel blocks to the byte-interleaved payload.
#pragma once

#include <cstddef>
#include <cstdint>

#include "audio/reader_common.h"

namespace varn {

// Interleaves n bytes of each channel: dst[j * channels + c] =
// table[src[c * stride + j]] (or the byte itself when table is null).
void weave_channels(const uint8_t* src, size_t stride, size_t n, uint32_t channels,
                    const uint8_t* table, uint8_t* dst);

// The audio region of a DSF file: `region` bytes from file offset `start`.
struct DeblockSource {
  InputFile* in;
  uint64_t start;
  uint64_t region;
};

// Reads channels x bpc bytes stored in blocks of `block` bytes per channel
// and writes them interleaved to out (channels x bpc bytes). Source bytes
// at or past the end of the region count as 0. Works through a buffer of
// about a megabyte per channel, whatever the block size. Returns false when
// a read came back short; src.region then ends where the data ended.
bool deblock_dsf(DeblockSource& src, uint32_t channels, uint64_t bpc, uint64_t block,
                 const uint8_t* table, uint8_t* out);

// The same for bytes [from, from + count) of each channel (cut at bpc):
// out receives them interleaved, channels x count bytes.
bool deblock_dsf_range(DeblockSource& src, uint32_t channels, uint64_t bpc, uint64_t block,
                       const uint8_t* table, uint64_t from, uint64_t count, uint8_t* out);

}  // namespace varn
