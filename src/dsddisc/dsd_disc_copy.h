// Streaming a file into the image: the data is copied in blocks, never held
// whole in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fs/sector_sink.h"
#include "platform/error.h"

namespace varn {

// Puts exactly `size` bytes of the file `source` into the sink, the last
// sector padded with zeros. A source that holds fewer or more bytes than
// `size` (it changed since it was measured) is an error; a stop ends the
// copy with an error without text; a failed write of the sink ends it
// early and is the sink owner's to report. `buffer` is the reusable copy
// buffer (sized on first use).
Status copy_file_into_sink(SectorSink& sink, const std::string& source, uint64_t size,
                           std::vector<uint8_t>& buffer);

}  // namespace varn
