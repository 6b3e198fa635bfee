#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varn {

// A cover picture taken in for the image: its file name in the volume
// ("COVER" and the upper-cased extension of its path) and its bytes.
struct CoverFile {
  std::string name;
  std::vector<uint8_t> bytes;
};

// Reads the cover at `path` (at most 16 MiB) and prints the intake and size
// notes. False when the image is to carry no cover.
bool take_in_cover(const std::string& path, CoverFile& out);

// Width and height of a PNG or JPEG picture; false when not found.
bool picture_size(const std::vector<uint8_t>& data, int& width, int& height);

}  // namespace varn
