// The SACD image builder: turns a planned layout into the finished .iso
// with its ISO 9660 and UDF volumes, embedded cover and album information
// file, and checks every embedded file before it reports success.
#pragma once

#include "sacd/disc_layout.h"

namespace varn {

// Writes the image at layout.output_path, then the delivery manifest
// unless the layout says not to. False, after printing why, on failure;
// a failed build removes the incomplete image.
bool build_sacd_image(const DiscLayout& layout);

}  // namespace varn
