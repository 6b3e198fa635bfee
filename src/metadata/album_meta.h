// Album-level and track-level metadata as the disc will carry it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varn {

struct TrackMeta {
  int32_t number = 0;  // 1-based position in the final order
  std::string title;
  std::string artist;
  std::string isrc;  // 12 characters when set
};

// All fields UTF-8, empty when unknown.
struct AlbumMeta {
  std::string album;
  std::string artist;
  std::string genre;
  std::string year;
  std::string date;
  std::string catalog;
  std::string barcode;
  std::string copyright;
  std::string label;
  std::string composer;
  std::string conductor;
  std::string orchestra;
  std::string disc_number;
  std::string disc_total;
  std::string cover_path;
  std::vector<TrackMeta> tracks;  // final track order
};

}  // namespace varn
