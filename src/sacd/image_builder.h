// The SACD image builder: turns a planned layout into the finished .iso
// with its ISO 9660 and UDF volumes, embedded cover and album information
// file, and checks every embedded file before it reports success.
#pragma once

#include <cstdint>
#include <string>

#include "platform/error.h"
#include "platform/staged_output.h"
#include "sacd/disc_layout.h"

namespace varn {

// A finished build: the lines to print once its outputs are in place, and
// the size of the image as planned and written.
struct BuiltImage {
  std::string report;
  uint64_t image_bytes = 0;
};

// Writes the image for layout.output_path and, unless the layout says not
// to, its delivery manifest, as staged outputs of `outputs`: nothing is in
// place before the caller commits the set. On failure the set's files are
// removed and the earlier outputs stay as they were; the error's text says
// why (empty when a part that still prints its own messages has said so).
Result<BuiltImage> build_sacd_image(const DiscLayout& layout, OutputSet& outputs);

}  // namespace varn
