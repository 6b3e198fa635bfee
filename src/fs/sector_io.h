// The sector size, and the checked close and positioned read of image files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace varn {

constexpr uint32_t kSectorSize = 2048;

// Whole sectors that hold `bytes`.
constexpr uint64_t sectors_of(uint64_t bytes) { return (bytes + kSectorSize - 1) / kSectorSize; }

// Closes a file that was written; false when any write since it was
// opened, the flush or the close failed (errno says why).
bool close_written_file(FILE* f);

// Reads `n` bytes at the byte offset; false on a failed seek or short read.
bool read_at(FILE* f, uint64_t byte_offset, void* data, size_t n);

}  // namespace varn
