// Writing a planned SACD image front to back: every sector once, in large
// sequential writes, the audio streamed from its sources, and the image and
// each track hashed on the way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fs/sector_sink.h"
#include "platform/error.h"
#include "sacd/disc_layout.h"
#include "sacd/image_plan.h"

namespace varn {

// Sectors [first, first + count) whose digest is wanted.
struct SectorRange {
  uint32_t first = 0;
  uint32_t count = 0;
};

// SHA-256 digests (hexadecimal) of the whole image and of each range asked
// for.
struct ImageDigests {
  std::string image;
  std::vector<std::string> ranges;
};

// Writes the extents of the plan into the sink, zeros between them, up to
// the end of the last one. An error when a source cannot be read.
Status write_plan_sectors(SectorSink& sink, const ImagePlan& plan, const DiscLayout& layout);

// Writes the image of `plan` to `path` (a new file standing in for the
// layout's output, which the messages name). `digests`, when given,
// receives the digests of the image and of `ranges`. An error when a
// source cannot be read or a write fails (without text when a stop was
// asked for).
Status write_planned_image(const ImagePlan& plan, const DiscLayout& layout, const std::string& path,
                         const std::vector<SectorRange>& ranges = {}, ImageDigests* digests = nullptr);

}  // namespace varn
