// Inspection dump of the planned TOC structures into a directory: the
// layout in words (toc.txt), the tracks (tracks.txt), simplified sector
// files and their fields read back (toc_detail.txt).
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "sacd/disc_layout.h"

namespace varn {

std::string dump_toc_text(const DiscLayout& layout);
std::string dump_tracks_text(const std::vector<InputTrack>& tracks);

// The simplified sectors: 168 bytes of Master TOC, 2048 of Area TOC and of
// Master Text.
std::vector<uint8_t> dump_master_toc(const DiscLayout& layout, const CivilTime& today);
std::vector<uint8_t> dump_area_toc(const DiscLayout& layout, bool multichannel);
std::vector<uint8_t> dump_master_text(const std::vector<InputTrack>& tracks);

// Fields of sector files read back; an area file that is empty is left out.
std::string dump_detail_text(const std::vector<uint8_t>& master_toc,
                             const std::vector<uint8_t>& area_2ch,
                             const std::vector<uint8_t>& area_mch,
                             const std::vector<uint8_t>& master_text,
                             const std::vector<InputTrack>& tracks);

// Writes the dump into `dir` (created when missing). Returns 0, or 1 when a
// file could not be written (after a message).
int write_toc_dump(const std::string& dir, const DiscLayout& layout);

}  // namespace varn
