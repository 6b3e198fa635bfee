// Whether an image fits a single-layer DVD-R or a DVD-9.
#pragma once

#include <cstdint>
#include <string>

namespace varn {

// The capacity line of an image of `image_bytes` (limits replaceable by
// VARN_DVD_CAP_BYTES / VARN_DVD9_CAP_BYTES).
std::string capacity_report_text(uint64_t image_bytes);

}  // namespace varn
