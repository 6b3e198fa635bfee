// The directory tree of the ISO 9660 volume: which directories exist, what
// each holds, where each lies and how long it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fs/iso9660.h"
#include "platform/report_lines.h"

namespace varn {

struct IsoDirectory {
  std::string full_path;          // empty for the root
  std::string name;               // last component of full_path
  std::vector<size_t> files;      // indices into the file list, in list order
  std::vector<size_t> children;   // indices of the immediate subdirectories
  size_t parent = 0;              // the root is its own parent
  uint32_t lsn = 0;
  uint32_t size = 0;              // a multiple of 2048
  uint16_t number = 0;            // 1-based position in the path tables
};

// First sector of the root directory; the path tables lie at 66 and 67.
constexpr uint32_t kIsoRootLsn = 68;
constexpr uint32_t kIsoPathTableL = 66;
constexpr uint32_t kIsoPathTableM = 67;

// Places the embedded files (non-empty `content`) into the front gap or the
// tail slot and gives them their `lsn`; when neither holds them all, every
// embedded entry is removed from the list. What it decided goes to `lines`.
void place_embedded_files(std::vector<IsoFileEntry>& files, const EmbedWindow& window,
                          uint32_t volume_blocks, ReportLines& lines);

// Builds the directory list (root first, then by level, parent and name as
// the path tables order them) with sizes and sectors. `dir_limit` is the
// first sector the directories must not reach. Returns false, with why in
// `lines`, when the tree does not fit the layout.
bool plan_iso_tree(const std::vector<IsoFileEntry>& files, uint32_t dir_limit,
                   std::vector<IsoDirectory>& dirs, ReportLines& lines);

// Offsets of records of the given lengths inside a directory: no record
// crosses a sector boundary. Returns the end offset of the last record.
uint64_t iso_pack_records(const std::vector<uint32_t>& lengths, std::vector<uint64_t>* offsets);

// Byte length of one path table of the directory list.
uint32_t iso_path_table_size(const std::vector<IsoDirectory>& dirs);

}  // namespace varn
