#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/input_track.h"
#include "metadata/album.h"

namespace varn {

// Sector plan of one audio area.
struct AreaPlan {
  std::vector<uint32_t> track_start;    // first sector, from the area start
  std::vector<uint32_t> track_frames;   // length in frames (pause excluded)
  // Time code of each track's first frame, counted from the area's first
  // frame; the pauses written before plain tracks count, as the audio
  // sectors' own time codes do.
  std::vector<uint32_t> track_time;
  std::vector<uint32_t> track_sectors;  // sectors of the track's own audio
  uint64_t total_sectors = 0;           // all tracks and pauses of the area
  uint32_t total_frames = 0;            // play time: all tracks and pauses
};

// The planned sector layout of one SACD image; read-only for the writers.
struct DiscLayout {
  std::string output_path;
  std::vector<InputTrack>* tracks = nullptr;
  AreaPlan stereo;
  AreaPlan multi;
  uint32_t master_toc_lsn = 510;
  uint32_t area1_toc_lsn = 0;
  uint32_t area1_toc_sectors = 0;
  uint32_t area2_toc_lsn = 0;
  uint32_t area2_toc_sectors = 0;
  uint32_t master_text_lsn = 511;
  uint32_t master_text_copies = 8;
  uint32_t manufacturer_lsn = 519;
  uint32_t audio_start_lsn = 540;
  const Album* album = &kNoAlbum;  // what the disc says of the album
  uint8_t charset = 0;             // character set of every disc text
  bool no_manifest = false;
};

}  // namespace varn
