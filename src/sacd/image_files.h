// The files an SACD image shows through its ISO 9660 and UDF volumes: the
// cover and the album information file (embedded), the Master TOC copies,
// the Area TOC blocks, the area streams and every track, all pointing at
// the sectors the SACD writers fill.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fs/iso9660.h"
#include "fs/udf.h"
#include "sacd/cover_intake.h"
#include "sacd/disc_layout.h"

namespace varn {

// Directory of the area and track files.
inline constexpr const char* kAudioDirectory = "2C_AUDIO";

// The file list in volume order; `cover` may be null.
std::vector<IsoFileEntry> sacd_image_files(const DiscLayout& layout, const CoverFile* cover,
                                           const std::string& album_info);

// Where the ISO 9660 writer may put the embedded files, and the
// volume size it starts from.
struct SacdPlacement {
  EmbedWindow window;
  uint32_t volume_sectors = 0;
};
SacdPlacement sacd_placement(const DiscLayout& layout, const std::vector<IsoFileEntry>& files);

// The same files for the UDF writer (paths split at their last '/').
std::vector<UdfFileEntry> udf_entries_of(const std::vector<IsoFileEntry>& files);

}  // namespace varn
