// Inspection dump of the planned TOC structures into a directory: the
// layout in words (toc.txt), the tracks (tracks.txt), simplified sector
// files and their fields read back (toc_detail.txt).
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "sacd/disc_layout.h"
#include "sacd/image_plan.h"

namespace varn {

// The layout in words, every position read from the plan of its SACD part.
std::string dump_toc_text(const DiscLayout& layout, const ImagePlan& plan);
std::string dump_tracks_text(const std::vector<InputTrack>& tracks);

// The simplified sectors: 168 bytes of the planned Master TOC and 2048 of
// an area's planned Area TOC, each with the dump's simplifications, and a
// Master Text of the first track's tags.
std::vector<uint8_t> dump_master_toc(const DiscLayout& layout, const ImagePlan& plan, const CivilTime& today);
std::vector<uint8_t> dump_area_toc(const ImagePlan& plan, const PlannedArea& area);
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
