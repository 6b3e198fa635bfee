// Which sectors of an image hold what: runs of sectors, each named and
// tagged with what produces its bytes. An extent that would share a sector
// with another is refused when it is added, so a finished map can be written
// front to back, every sector once, and sectors outside every extent are
// zeros.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varn {

struct Extent {
  uint32_t first = 0;   // first sector
  uint32_t count = 0;   // sectors
  std::string name;     // what it is, for messages and the printed map
  uint32_t kind = 0;    // what fills it; meaning given by the map's owner
  uint32_t index = 0;   // which one of that kind
};

inline uint64_t extent_end(const Extent& e) { return uint64_t(e.first) + e.count; }

// Extents ordered by first sector, none sharing a sector.
struct ExtentMap {
  std::vector<Extent> extents;
};

// Adds `e` (an empty one is ignored). False, with `clash` naming both
// extents and their sectors, when it overlaps one already in the map or
// runs past sector 2^32.
bool add_extent(ExtentMap& map, const Extent& e, std::string* clash = nullptr);

// The bytes of one structure: whole sectors from `lsn` on.
struct SectorRun {
  uint32_t lsn = 0;
  std::vector<uint8_t> bytes;
  std::string name;
};

// First sector after the last extent.
uint64_t map_end(const ExtentMap& map);

// The extent holding `sector`, or null.
const Extent* extent_at(const ExtentMap& map, uint32_t sector);

}  // namespace varn
