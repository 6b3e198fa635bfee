#include "fs/extent_map.h"

#include <algorithm>

namespace varn {

namespace {

std::string describe(const Extent& e) {
  return e.name + " (sectors " + std::to_string(e.first) + ".." + std::to_string(extent_end(e) - 1) + ")";
}

}  // namespace

bool add_extent(ExtentMap& map, const Extent& e, std::string* clash) {
  if (e.count == 0) return true;
  if (extent_end(e) > (uint64_t(1) << 32)) {
    if (clash) *clash = describe(e) + " runs past the last addressable sector";
    return false;
  }
  auto& v = map.extents;
  auto at = std::upper_bound(v.begin(), v.end(), e.first,
                             [](uint32_t first, const Extent& x) { return first < x.first; });
  if (at != v.end() && extent_end(e) > at->first) {
    if (clash) *clash = describe(e) + " overlaps " + describe(*at);
    return false;
  }
  if (at != v.begin() && extent_end(*(at - 1)) > e.first) {
    if (clash) *clash = describe(e) + " overlaps " + describe(*(at - 1));
    return false;
  }
  v.insert(at, e);
  return true;
}

uint64_t map_end(const ExtentMap& map) {
  return map.extents.empty() ? 0 : extent_end(map.extents.back());
}

const Extent* extent_at(const ExtentMap& map, uint32_t sector) {
  const auto& v = map.extents;
  auto at = std::upper_bound(v.begin(), v.end(), sector,
                             [](uint32_t s, const Extent& x) { return s < x.first; });
  if (at == v.begin()) return nullptr;
  --at;
  return sector < extent_end(*at) ? &*at : nullptr;
}

}  // namespace varn
