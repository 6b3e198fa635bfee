// Streaming a file into the image: the data is copied in blocks, never held
// whole in memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/error.h"

namespace varn {

// Copies exactly `size` bytes of the file `source` to `image` at sector
// `lsn` and pads the last sector with zeros. A source that holds fewer or
// more bytes than `size` (it changed since it was measured), or a short
// write, is an error; a stop ends the copy with an error without text.
// `buffer` is the reusable copy buffer (sized on first use).
Status copy_file_into_image(FILE* image, uint32_t lsn, const std::string& source, uint64_t size,
                            std::vector<uint8_t>& buffer);

// Writes `bytes` at sector `lsn`, padded with zeros to the sector end.
Status write_bytes_into_image(FILE* image, uint32_t lsn, const std::string& bytes);

}  // namespace varn
