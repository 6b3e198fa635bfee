#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "metadata/album.h"

namespace varn {

// Everything the command line can say.
struct PackJob {
  std::vector<std::string> inputs;
  std::string output_path;
  bool inspect_dir = false;
  std::string verify_path;
  bool dsd_disc = false;
  bool playlists = true;
  bool no_encode = false;
  bool allow_meta_errors = false;
  bool dst_stereo = false;
  bool no_manifest = false;
  bool dst_fast = false;
  uint32_t dst_threads = 0;
  uint32_t dst_order = 128;
  bool dst_order_given = false;
  bool no_simd = false;  // DST filters without the vector instructions
  int32_t pause_frames = 150;
  Album album;
  std::string cue_path;
  std::string disc_title;
  std::map<int32_t, std::string> track_titles;
  std::map<int32_t, std::string> track_albums;
  uint64_t inproc_ctl = 0;
  uint64_t inproc_ctl_fn = 0;
};

}  // namespace varn
