// Positioned writes into an image file, addressed by sector (LSN x 2048).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace varn {

constexpr uint32_t kSectorSize = 2048;

// Seeks to the byte offset; false when the seek fails.
bool seek_to(FILE* f, uint64_t byte_offset);

// Writes `n` bytes at the byte offset; false on a failed seek or short write.
bool write_at(FILE* f, uint64_t byte_offset, const void* data, size_t n);

// Writes `count` zero sectors from `lsn` on; false as soon as one fails.
bool write_zero_sectors(FILE* f, uint32_t lsn, uint32_t count);

// Writes `count` zero sectors at the current position.
bool write_zero_sectors_here(FILE* f, uint32_t count);

// Closes a file that was written; false when any write since it was
// opened, the flush or the close failed (errno says why).
bool close_written_file(FILE* f);

// Reads `n` bytes at the byte offset; false on a failed seek or short read.
bool read_at(FILE* f, uint64_t byte_offset, void* data, size_t n);

}  // namespace varn
