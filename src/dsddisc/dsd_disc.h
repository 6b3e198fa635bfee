// The Varn DSD Disc: a UDF 1.02 image (with an empty ISO 9660 bridge) that
// holds the DSF input files unchanged in DSD_DISC/<album>/ folders, with one
// plain-text .ddp playlist per album.
#pragma once

#include <string>
#include <vector>

#include "platform/error.h"

namespace varn {

struct DsdDiscTrack {
  std::string source_path;   // the input file
  std::string album_folder;  // album folder name ("ALBUM" by default)
};

struct DsdDiscJob {
  std::string image_path = "dsd_disc.iso";
  std::vector<DsdDiscTrack> tracks;  // command-line order
  std::string title;                 // disc title, may be empty
  bool playlists = true;             // one .ddp per album
  bool iso_bridge = true;            // ISO 9660 bridge volume, else UDF only
};

// Checks the job, lays the files out from sector 257, writes the image and
// reports its summary. The error says why no image was made; an image that
// failed part-way is removed.
Status build_dsd_disc(const DsdDiscJob& job);

}  // namespace varn
