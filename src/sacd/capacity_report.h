#pragma once

#include <string>

namespace varn {

// Prints whether the image fits a single-layer DVD-R or a DVD-9
// (limits replaceable by VARN_DVD_CAP_BYTES / VARN_DVD9_CAP_BYTES).
void print_capacity_report(const std::string& image_path);

}  // namespace varn
