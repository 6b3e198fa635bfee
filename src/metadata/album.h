// The album as the disc will carry it: its texts and codes, gathered once
// from the options, the CUE sheet and the first track's tags. Everything
// that writes or checks album text (the SACD structures, the album info
// file, the CUE export, the pre-flight) reads this one record.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace varn {

// All texts UTF-8, empty when unknown.
struct Album {
  std::string title;
  std::string artist;
  std::string genre;
  std::string catalog;
  std::string year;
  std::string date;  // YYYY-MM-DD when given
  std::string label;  // the publisher
  std::string composer;
  std::string conductor;
  std::string orchestra;
  std::string barcode;
  std::string copyright;
  std::string disc_number;
  std::string disc_total;
  std::string cover_path;
  // By 0-based track position in the final order.
  std::map<int32_t, std::string> track_artists;  // as the options name them
  std::map<int32_t, std::string> isrcs;          // 12 characters each
};

// The album of a disc that names none.
inline const Album kNoAlbum{};

}  // namespace varn
