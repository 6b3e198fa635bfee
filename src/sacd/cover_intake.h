#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/error.h"

namespace varn {

// A cover picture taken in for the image: its file name in the volume
// (COVER.JPG or COVER.PNG, after its content) and its bytes.
struct CoverFile {
  std::string name;
  std::vector<uint8_t> bytes;
};

// Largest cover picture taken in.
constexpr uint64_t kCoverLimit = 16777216;

// Checks a cover picture file: a regular file of 1 byte to 16 MiB holding a
// JPEG or PNG picture, recognised by its first bytes. Fills `out`. False
// with the reason in `why`.
bool read_cover(const std::string& path, CoverFile& out, std::string& why);

// read_cover, then reports the intake line and the picture-size note; the
// error says why when the picture cannot be used.
Status take_in_cover(const std::string& path, CoverFile& out);

// The volume name for picture bytes: "COVER.JPG" for a JPEG, "COVER.PNG"
// for a PNG, empty for anything else.
std::string cover_name_for(const std::vector<uint8_t>& data);

// Width and height of a PNG or JPEG picture; false when not found.
bool picture_size(const std::vector<uint8_t>& data, int& width, int& height);

}  // namespace varn
