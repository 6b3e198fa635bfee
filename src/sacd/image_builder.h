// The SACD image builder: turns a planned layout into the finished .iso
// with its ISO 9660 and UDF volumes, embedded cover and album information
// file, and checks every embedded file before it reports success.
#pragma once

#include <string>

#include "platform/staged_output.h"
#include "sacd/disc_layout.h"

namespace varn {

// Writes the image for layout.output_path and, unless the layout says not
// to, its delivery manifest, as staged outputs of `outputs`: nothing is in
// place before the caller commits the set. `report` receives the lines to
// print once it has. False, after printing why, when anything failed; the
// set's files are removed then and the earlier outputs stay as they were.
bool build_sacd_image(const DiscLayout& layout, OutputSet& outputs, std::string& report);

}  // namespace varn
