// How large an SACD image will be, known before a byte of it is written:
// for the largest-disc limit and for the free-space check.
#pragma once

#include <cstdint>
#include <vector>

#include "sacd/disc_layout.h"
#include "sacd/image_files.h"

namespace varn {

// The largest recordable disc an image can be burnt to: a four-layer BD-R XL.
inline constexpr uint64_t kLargestDiscBytes = 128001769472ULL;

// Bytes of the SACD part of the image (structures, both areas with their
// pauses, run-out), counted in 64 bits: the layout's own 32-bit sector
// counts stop at their limit.
uint64_t sacd_part_bytes(const DiscLayout& layout);

// Bytes of the finished image with both volumes, at most a few sectors
// above what the writers will produce.
uint64_t planned_image_bytes(const DiscLayout& layout, const std::vector<IsoFileEntry>& files,
                             const SacdPlacement& placement);

}  // namespace varn
