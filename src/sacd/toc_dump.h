// Inspection dump of the planned TOC structures into a directory: the
// layout in words (toc.txt), the tracks (tracks.txt), simplified sector
// files and their fields read back (toc_detail.txt).
#pragma once

#include <string>
#include <vector>

#include "platform/error.h"
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

// One file of the dump: where it goes and its bytes. Sector files are
// named with their size when they are reported written.
struct TocDumpFile {
  std::string path;
  std::string bytes;
  bool sectors = false;
};

// The dump's files for the directory `dir` ("" for the current one), in
// the order they are written, from the plan of the layout's SACD part; the
// error when that plan cannot be made.
Result<std::vector<TocDumpFile>> toc_dump_files(const std::string& dir, const DiscLayout& layout);

// Writes one file of the dump, its folder made when missing; the error
// reads "  Error: cannot write <path>".
Status write_toc_dump_file(const TocDumpFile& file);

}  // namespace varn
