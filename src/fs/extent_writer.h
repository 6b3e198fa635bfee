// Writing an image planned as an extent map: the extents in sector order,
// each filled by whoever owns its kind, zeros between them, every sector
// once and in large sequential writes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "fs/extent_map.h"
#include "fs/sector_sink.h"
#include "platform/error.h"

namespace varn {

// Puts exactly the `count` sectors of one extent into the sink.
using ExtentFiller = std::function<Status(SectorSink& sink, const Extent& extent)>;

// Sees each batch of sectors before it is written (see SectorSink::watch).
using SectorWatch = std::function<void(const uint8_t* bytes, size_t count, uint64_t first)>;

// Fills every extent of `map` into the sink, zeros before each one. Stops
// at the first error of a filler, at a failed write of the sink (which the
// caller reports), and at a filler that put the wrong number of sectors.
Status write_extents(SectorSink& sink, const ExtentMap& map, const ExtentFiller& fill);

// Writes the image of `map`, `total_sectors` long, to `file` (named `name`
// in messages) and closes it; `watch`, when set, sees every batch. The
// error is a filler's, or "Error: writing <name> failed: <why>" for a
// failed write or a stop.
Status write_image_file(FILE* file, const std::string& name, const ExtentMap& map, uint64_t total_sectors,
                        const ExtentFiller& fill, SectorWatch watch = {});

}  // namespace varn
