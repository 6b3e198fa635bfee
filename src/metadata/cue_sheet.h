#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varn {

struct CueTrack {
  int32_t number = 0;
  std::string title;
  std::string performer;
  std::string songwriter;
  std::string isrc;
  std::string file_name;
  std::string file_type;
  bool audio = true;
  int32_t index1[3] = {0, 0, 0};
  bool has_index0 = false;
  int32_t index0[3] = {0, 0, 0};
};

struct CueSheet {
  std::string title;
  std::string performer;
  std::string songwriter;
  std::string genre;
  std::string date;
  std::string comment;
  std::string catalog;
  std::vector<CueTrack> tracks;
  bool converted = false;
};

}  // namespace varn
